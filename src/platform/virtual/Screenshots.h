#pragma once
// The virtual desktop takes region screenshots on its keyboard shortcut, as the phone expects.
#include "platform/Screenshots.h"

namespace quib {

class VirtualScreenshots final : public Screenshots {
 public:
  Start startRegionScreenshot() override { return Start::useKeystroke; }
};

}  // namespace quib
