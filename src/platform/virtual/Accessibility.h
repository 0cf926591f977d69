#pragma once
// The virtual desktop's input permission: granted unless a test (or --untrusted) withdraws it.
// Thread-safe.
#include <atomic>

#include "platform/Accessibility.h"
#include "platform/virtual/EffectLog.h"

namespace quib {

class VirtualAccessibility final : public Accessibility {
 public:
  static constexpr const char* kSettingsURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

  explicit VirtualAccessibility(EffectLog& log) : log_(log) {}

  bool isTrusted() override { return trusted_; }
  bool isTrustedPrompting() override {
    if (trusted_) return true;
    ++prompts_;
    log_.emit("accessibility prompt");
    return false;
  }
  std::string settingsURL() override { return kSettingsURL; }
  void setTrusted(bool trusted) { trusted_ = trusted; }
  int promptCount() const { return prompts_; }

 private:
  EffectLog& log_;
  std::atomic<bool> trusted_{true};
  std::atomic<int> prompts_{0};
};

}  // namespace quib
