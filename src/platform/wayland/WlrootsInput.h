#pragma once
// Input through the compositor's own virtual devices (wlroots compositors: sway, Hyprland, river,
// labwc...): a virtual keyboard with a keymap we make and upload, and a virtual pointer. No dialog
// is involved; the compositor either offers both globals or this sink is not made. Main thread
// only; requests are flushed at once so each event reaches the compositor when it is made. A long
// text goes kKeysInFlight keys at a time, each batch handled by the compositor before the next is
// sent, the main loop running meanwhile: the compositor's buffers stay small and nothing waits
// on the whole text.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wayland/InputSink.h"
#include "platform/wayland/VirtualKeymap.h"
#include "platform/wayland/WaylandConnection.h"

struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct xkb_state;

namespace quib {

class WlrootsInput final : public InputSink {
 public:
  // Whether the compositor offers what this sink needs (a seat and both virtual-device managers).
  static bool available(const WaylandConnection& connection);
  // `connection` must outlive the sink. None when the devices cannot be made.
  static std::unique_ptr<WlrootsInput> create(WaylandConnection& connection);
  ~WlrootsInput() override;  // releases whatever is still held
  WlrootsInput(const WlrootsInput&) = delete;
  WlrootsInput& operator=(const WlrootsInput&) = delete;

  bool ready() override;
  void requestAccess() override {}
  std::string whyNot() override;
  std::string describe() override { return "wlroots virtual keyboard and pointer"; }

  bool key(std::uint32_t keysym, bool down) override;
  bool motionRelative(double dx, double dy) override;
  bool motionAbsolute(double x, double y) override;
  bool button(std::uint32_t evdevButton, bool down) override;
  bool axisSteps(Axis axis, int steps) override;
  std::optional<bool> typeText(const std::string& utf8) override;

  // Lets go of every key and button still down.
  void releaseAll();

 private:
  struct HeldKey {
    std::uint32_t keysym;
    std::uint32_t key;  // evdev
  };
  static constexpr std::size_t kKeysInFlight = 64;
  // How long the compositor may take to handle one batch before the text counts as failed.
  static constexpr std::chrono::milliseconds kSettleLimit{5000};

  explicit WlrootsInput(WaylandConnection& connection);
  // Waits, dispatching the main context, until the compositor has handled every request so far.
  bool settle();
  bool upload(const VirtualKeymap& keymap);
  // Makes the keymap of key() current again, with `extra` bound when it is not yet on it.
  bool useKeyKeymap(std::optional<std::uint32_t> extra = std::nullopt);
  void sendKey(std::uint32_t key, bool down);
  void sendModifiers();
  std::uint32_t now() const;

  WaylandConnection& connection_;
  zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
  zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;

  std::vector<std::uint32_t> extras_;       // keysyms bound on top of the layout, oldest first
  std::optional<VirtualKeymap> keyKeymap_;  // the layout with extras_
  bool keyKeymapUploaded_ = false;          // false while a text keymap is the compositor's
  xkb_state* state_ = nullptr;              // of keyKeymap_, for the modifiers we send
  std::vector<HeldKey> heldKeys_;
  std::vector<std::uint32_t> heldButtons_;
  std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
};

}  // namespace quib
