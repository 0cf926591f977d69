#pragma once
// Opening addresses with the freedesktop default handler for their scheme (mimeapps.list).
// Main thread only: the launch context belongs to the display.
#include <string>

#include "platform/Workspace.h"
#include "platform/linux/ChildLimits.h"

namespace quib {

class LinuxWorkspace final : public Workspace {
 public:
  explicit LinuxWorkspace(ChildLimits childLimits = {}) : childLimits_(childLimits) {}
  // False when the address is not a URI or no application handles its scheme, so the phone is
  // told instead of being answered with an effect that never happens.
  bool openURL(const std::string& url) override;

 private:
  const ChildLimits childLimits_;
};

}  // namespace quib
