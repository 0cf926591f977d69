#pragma once
// Region screenshots through the desktop portal's interactive Screenshot call, else through a
// fallback the caller supplies (pressing the desktop's own screenshot shortcut). Main thread only.
#include <functional>

#include "platform/Screenshots.h"

namespace quib {

class LinuxScreenshots final : public Screenshots {
 public:
  // `fallback` runs when no portal takes the request; true when it could start the screenshot.
  explicit LinuxScreenshots(std::function<bool()> fallback, int portalTimeoutMs = 1000)
      : fallback_(std::move(fallback)), portalTimeoutMs_(portalTimeoutMs) {}

  // Returns once the portal accepted the request (the picker shows on its own); the user's choice
  // arrives later as the portal's Response, which nothing here needs.
  Start startRegionScreenshot() override;

 private:
  std::function<bool()> fallback_;
  int portalTimeoutMs_;
};

}  // namespace quib
