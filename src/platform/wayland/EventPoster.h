#pragma once
// The phone's events on a Wayland desktop: the X11 backend's key table, command key, modifier and
// scroll handling, ending in an InputSink (the compositor's virtual devices or a portal session)
// instead of XTest. Wayland never tells a client where the pointer is, so the pointer is where we
// last put it: the middle of the screens until the first move. Main thread only.
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/linux/DesktopEventPoster.h"
#include "platform/wayland/InputSink.h"

namespace quib {

class WaylandEventPoster final : public DesktopEventPoster {
 public:
  // The box around every screen, in the compositor's coordinates: moves stay inside it.
  struct Screens {
    double x = 0, y = 0, width = 0, height = 0;
  };
  // `sink` may be null (every event then fails to be made) and must outlive this object. `screens`
  // answers the box as it is now (screens come and go); none when it is not known.
  WaylandEventPoster(InputSink* sink, std::function<std::optional<Screens>()> screens,
                     LinuxEventPosterOptions options = {});
  ~WaylandEventPoster() override;  // releases whatever is still held
  WaylandEventPoster(const WaylandEventPoster&) = delete;
  WaylandEventPoster& operator=(const WaylandEventPoster&) = delete;

  std::optional<Point> pointerLocation() override;
  void pause(std::chrono::microseconds duration) override;
  // Through the sink's own typing: a paste shortcut does not reach the focused window on Wayland.
  std::optional<bool> typeText(const std::string& utf8) override;
  bool takeSendFailure() override { return std::exchange(sendFailed_, false); }

  // Releases every key and button this object pressed.
  void releaseAll();

 private:
  // Notes a call the sink could not send; gives back whether it was sent.
  bool sent(bool ok) {
    sendFailed_ = sendFailed_ || !ok;
    return ok;
  }
  bool connected() const override;
  bool canPress(std::uint16_t keyCode, KeyTable::KeySymbol sym) override;
  void postKey(std::uint16_t keyCode, bool down) override;
  void postModifier(std::uint16_t keyCode, bool down) override;
  void moveTo(Point location, bool mayHoldBack) override;
  void postButton(MouseButton button, bool down) override;
  void postWheel(int axis, std::int64_t clicks) override;

  InputSink* sink_;
  std::function<std::optional<Screens>()> screens_;
  std::optional<Point> pointer_;  // none until the first question or move: the middle of the screens
  std::map<std::uint16_t, std::uint32_t> heldKeys_;  // virtual key code -> keysym pressed
  std::set<MouseButton> heldButtons_;
  bool sendFailed_ = false;
};

}  // namespace quib
