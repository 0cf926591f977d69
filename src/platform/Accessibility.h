#pragma once
// Whether this process may post synthetic input. Safe on any thread.
#include <functional>
#include <string>

namespace quib {

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  virtual bool isTrusted() = 0;
  // Same answer, and when not trusted asks the desktop to show its permission prompt.
  virtual bool isTrustedPrompting() = 0;
  // The address of the page where the user learns how to give the permission.
  virtual std::string settingsURL() = 0;
  // Why input cannot reach the desktop for a reason no permission mends (the display server's
  // connection was lost), for the menu; empty otherwise. Trust is not withheld for it: the actions
  // answer that their events failed.
  virtual std::string problem() { return {}; }
  // Called after the answer changed (the desktop granted or withdrew the permission). Backends
  // whose answer is fixed never call it; the others say on which thread they do.
  virtual void setOnChange(std::function<void()> onChange) { (void)onChange; }
};

}  // namespace quib
