#pragma once
// The virtual desktop's input permission: granted unless a test (or --untrusted) withdraws it.
// Thread-safe; a change is told on the thread that made it.
#include <atomic>
#include <functional>
#include <mutex>

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
  void setOnChange(std::function<void()> onChange) override {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(onChange);
  }
  void setTrusted(bool trusted) {
    if (trusted_.exchange(trusted) == trusted) return;
    std::function<void()> tell;
    {
      std::lock_guard lock(mutex_);
      tell = onChange_;
    }
    if (tell) tell();
  }
  int promptCount() const { return prompts_; }

 private:
  EffectLog& log_;
  std::atomic<bool> trusted_{true};
  std::atomic<int> prompts_{0};
  std::mutex mutex_;  // guards onChange_
  std::function<void()> onChange_;
};

}  // namespace quib
