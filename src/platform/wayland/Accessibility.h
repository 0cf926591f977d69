#pragma once
// Whether synthetic input reaches a Wayland desktop: it does once the input sink is ready (the
// compositor made our virtual devices, or the user allowed the portal session). The answer is
// refreshed on the main thread and read from any thread; a change is told on the main thread.
#include <atomic>
#include <functional>
#include <string>

#include "platform/Accessibility.h"
#include "platform/wayland/InputSink.h"

namespace quib {

class WaylandAccessibility final : public Accessibility {
 public:
  // `sink` may be null (input is refused) and must outlive this object; `lost` tells whether the
  // compositor's connection is gone (none: it never is).
  explicit WaylandAccessibility(InputSink* sink, std::function<bool()> lost = {})
      : sink_(sink), lost_(std::move(lost)) {
    refresh();
  }

  bool isTrusted() override { return trusted_; }
  // On the main thread: asks the desktop again (the portal's consent dialog) when input is refused.
  bool isTrustedPrompting() override;
  std::string settingsURL() override { return settingsURL_; }
  std::string problem() override;
  void setSettingsURL(std::string url) { settingsURL_ = std::move(url); }
  // Main thread, before refresh() first runs from the desktop's timer.
  void setOnChange(std::function<void()> onChange) override { onChange_ = std::move(onChange); }
  // Main thread: takes the sink's current answer, and tells the change callback when it differs.
  void refresh();

 private:
  InputSink* sink_;
  std::function<bool()> lost_;
  std::atomic<bool> trusted_{false};
  std::atomic<bool> connectionLost_{false};
  std::string settingsURL_;
  std::function<void()> onChange_;
};

}  // namespace quib
