#pragma once
// Named keys with modifiers, and text typed by pasting it. Main thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "server/ActionPerformer.h"

namespace quib {

class Keyboard {
 public:
  static constexpr std::chrono::microseconds kKeyHold{15000};
  static constexpr std::chrono::milliseconds kRestoreDelay{600};
  // How long a paste may take to ask for the text; past it the text did not arrive.
  static constexpr std::chrono::milliseconds kPasteWait{1000};
  // The desktop gives this program no clipboard (GNOME on Wayland): nothing can be set or pasted.
  static constexpr const char* kClipboardUnavailable = "클립보드를 사용할 수 없음";
  // The paste shortcut was pressed, but no window asked for the text.
  static constexpr const char* kNotPasted = "붙여넣기 실패";

  Keyboard(Platform platform, MainQueue& mainQueue) : platform_(platform), mainQueue_(mainQueue) {}
  ~Keyboard();

  static std::optional<std::uint16_t> keyCode(const std::string& name);
  // The event flag of one modifier name (any letter case), or 0 when the name is not one.
  static std::uint64_t modifierFlag(const std::string& name);

  ActionResult keystroke(const std::string& key, const std::vector<std::string>& modifiers);
  // Types the text through the desktop's events where they can type all of it; otherwise pastes
  // it with the desktop's paste shortcut and returns once the focused window has read it (so what
  // the next action types lands after it), then puts the earlier clipboard back after kRestoreDelay.
  ActionResult typeText(const std::string& text);

 private:
  struct PendingRestore {
    std::vector<PasteboardItem> items;
    MainQueue::TimerHandle work;
  };
  // Presses the key with the modifiers of `flags` around it; false when its events cannot be made.
  bool chord(std::uint16_t code, std::uint64_t flags);
  void restore(std::int64_t expectedChangeCount);

  Platform platform_;
  MainQueue& mainQueue_;
  std::optional<PendingRestore> pendingRestore_;
};

}  // namespace quib
