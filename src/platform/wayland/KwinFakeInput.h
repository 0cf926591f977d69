#pragma once
// Synthetic input through KWin's fake-input protocol (org_kde_kwin_fake_input), which KWin offers
// only to a program whose installed desktop entry names the interface in X-KDE-Wayland-Interfaces
// and whose Exec is the program's real path: no dialog, no portal session, and the requests keep
// their order on our own connection. Keys go as the evdev codes of the compositor's keymap, with
// Shift or AltGr for the levels that need them; text only when every character is on the keymap.
// Main thread only; requests are flushed at once.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/wayland/InputSink.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"

struct org_kde_kwin_fake_input;

namespace quib {

class KwinFakeInput final : public InputSink {
 public:
  // Whether KWin granted this program the interface (it lists the global to granted clients only).
  static bool available(const WaylandConnection& connection);
  // None unless available(); `connection` and `keymap` must outlive the sink.
  static std::unique_ptr<KwinFakeInput> create(WaylandConnection& connection, const SeatKeymap& keymap);
  ~KwinFakeInput() override;
  KwinFakeInput(const KwinFakeInput&) = delete;
  KwinFakeInput& operator=(const KwinFakeInput&) = delete;

  bool ready() override;
  void requestAccess() override {}
  std::string whyNot() override;
  std::string describe() override;

  bool key(std::uint32_t keysym, bool down) override;
  bool motionRelative(double dx, double dy) override;
  // No place of the pointer is known to us: always false, the caller moves relatively.
  bool motionAbsolute(double x, double y) override;
  bool button(std::uint32_t evdevButton, bool down) override;
  bool axisSteps(Axis axis, int steps) override;
  std::optional<bool> typeText(const std::string& utf8) override;

 private:
  KwinFakeInput(WaylandConnection& connection, const SeatKeymap& keymap, org_kde_kwin_fake_input* fake);
  // The modifier bits of a level (1 Shift, 2 AltGr) that the caller does not hold already.
  std::uint32_t missingModifiers(std::uint32_t level) const;
  // Presses or releases the modifiers of these bits.
  void levelModifiers(std::uint32_t bits, bool down);
  void sendKey(std::uint32_t evdevCode, bool down);

  WaylandConnection& connection_;
  const SeatKeymap& keymap_;
  org_kde_kwin_fake_input* fake_;
  std::set<std::uint32_t> held_;  // evdev codes down through key()
};

}  // namespace quib
