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
  // The desktop gives this program no clipboard (GNOME on Wayland): nothing can be set or pasted.
  static constexpr const char* kClipboardUnavailable = "클립보드를 사용할 수 없음";

  Keyboard(Platform platform, MainQueue& mainQueue) : platform_(platform), mainQueue_(mainQueue) {}
  ~Keyboard();

  static std::optional<std::uint16_t> keyCode(const std::string& name);
  // The event flag of one modifier name (any letter case), or 0 when the name is not one.
  static std::uint64_t modifierFlag(const std::string& name);

  ActionResult keystroke(const std::string& key, const std::vector<std::string>& modifiers);
  // Pastes the text with command-V, then puts the earlier clipboard back after kRestoreDelay; on
  // desktops whose events type text themselves, types it through them and leaves the clipboard be.
  ActionResult typeText(const std::string& text);

 private:
  struct PendingRestore {
    std::vector<PasteboardItem> items;
    MainQueue::TimerHandle work;
  };
  void restore(std::int64_t expectedChangeCount);

  Platform platform_;
  MainQueue& mainQueue_;
  std::optional<PendingRestore> pendingRestore_;
};

}  // namespace quib
