#include "actions/Keyboard.h"

#include <algorithm>
#include <map>

#include "text/Unicode.h"

namespace quib {

namespace {

constexpr const char* kNeedsAccessibility = "손쉬운 사용 권한이 필요합니다";
constexpr const char* kEventFailed = "이벤트 생성 실패";

const std::map<std::string, std::uint16_t>& keyMap() {
  static const std::map<std::string, std::uint16_t> map = {
      {"a", 0},       {"s", 1},       {"d", 2},      {"f", 3},       {"h", 4},       {"g", 5},
      {"z", 6},       {"x", 7},       {"c", 8},      {"v", 9},       {"b", 11},      {"q", 12},
      {"w", 13},      {"e", 14},      {"r", 15},     {"y", 16},      {"t", 17},      {"o", 31},
      {"u", 32},      {"i", 34},      {"p", 35},     {"l", 37},      {"j", 38},      {"k", 40},
      {"n", 45},      {"m", 46},      {"1", 18},     {"2", 19},      {"3", 20},      {"4", 21},
      {"5", 23},      {"6", 22},      {"7", 26},     {"8", 28},      {"9", 25},      {"0", 29},
      {"return", 36}, {"tab", 48},    {"space", 49}, {"delete", 51}, {"escape", 53}, {"esc", 53},
      {"left", 123},  {"right", 124}, {"down", 125}, {"up", 126}};
  return map;
}

// Pressed in this order, released in reverse.
struct ModifierKey {
  std::uint64_t flag;
  std::uint16_t code;
};
constexpr ModifierKey kModifierKeys[] = {{EventFlags::control, 59},
                                         {EventFlags::alternate, 58},
                                         {EventFlags::shift, 56},
                                         {EventFlags::command, 55}};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string join(const std::vector<std::string>& parts, const char* sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}

}  // namespace

Keyboard::~Keyboard() {
  if (pendingRestore_) pendingRestore_->work.cancel();
}

std::optional<std::uint16_t> Keyboard::keyCode(const std::string& name) {
  auto it = keyMap().find(lower(name));
  if (it == keyMap().end()) return std::nullopt;
  return it->second;
}

std::uint64_t Keyboard::modifierFlag(const std::string& name) {
  const std::string n = lower(name);
  if (n == "command" || n == "cmd") return EventFlags::command;
  if (n == "shift") return EventFlags::shift;
  if (n == "option" || n == "alt") return EventFlags::alternate;
  if (n == "control" || n == "ctrl") return EventFlags::control;
  return 0;
}

ActionResult Keyboard::keystroke(const std::string& key, const std::vector<std::string>& modifiers) {
  if (!platform_.accessibility.isTrusted()) return {false, kNeedsAccessibility};
  auto code = keyCode(key);
  if (!code) return {false, "지원하지 않는 키: " + key};
  std::uint64_t flags = 0;
  for (const auto& m : modifiers) flags |= modifierFlag(m);

  if (!chord(*code, flags)) return {false, kEventFailed};
  return {true, join(modifiers, "+") + " " + key};
}

bool Keyboard::chord(std::uint16_t code, std::uint64_t flags) {
  EventPoster& events = platform_.events;
  auto down = events.makeKeyboardEvent(code, true);
  auto up = events.makeKeyboardEvent(code, false);
  if (!down || !up) return false;

  std::uint64_t mask = 0;
  std::vector<ModifierKey> pressed;
  for (const auto& mk : kModifierKeys) {
    if (!(flags & mk.flag)) continue;
    mask |= mk.flag;
    pressed.push_back(mk);
    if (auto e = events.makeKeyboardEvent(mk.code, true)) {
      e->type = EventType::flagsChanged;
      e->flags = mask;
      events.post(*e);
    }
  }
  down->flags = flags;
  up->flags = flags;
  events.post(*down);
  events.pause(kKeyHold);
  events.post(*up);
  for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
    mask &= ~it->flag;
    if (auto e = events.makeKeyboardEvent(it->code, false)) {
      e->type = EventType::flagsChanged;
      e->flags = mask;
      events.post(*e);
    }
  }
  return true;
}

ActionResult Keyboard::typeText(const std::string& text) {
  if (!platform_.accessibility.isTrusted()) return {false, kNeedsAccessibility};
  if (text.empty()) return {false, "빈 텍스트"};
  if (auto typed = platform_.events.typeText(text)) {
    if (!*typed) return {false, kEventFailed};
    return {true, "입력함 (" + std::to_string(Unicode::graphemeCount(text)) + "자)"};
  }
  Pasteboard& pasteboard = platform_.pasteboard;
  if (!pasteboard.available()) return {false, kClipboardUnavailable};

  // In a burst the first saved contents are the ones to bring back.
  std::vector<PasteboardItem> saved;
  if (pendingRestore_) {
    saved = std::move(pendingRestore_->items);
    pendingRestore_->work.cancel();
    pendingRestore_.reset();
  } else {
    saved = pasteboard.items();
  }

  PasteboardItem item = PasteboardItem::text(text);
  item.entries.emplace_back(PasteboardType::transient, "");
  pasteboard.clearContents();
  const bool wrote = pasteboard.writeItems({item});
  const std::int64_t written = pasteboard.changeCount();

  // Without the text on the clipboard a paste would put in whatever was there before. The next
  // action may press a key or write the clipboard again: it waits until the window has our text.
  ActionResult paste{true, ""};
  if (!wrote) {
    paste = {false, kClipboardUnavailable};
  } else if (pasteboard.expectPaste(); !chord(*keyCode("v"), platform_.events.pasteModifiers())) {
    paste = {false, kEventFailed};
  } else {
    platform_.events.flush();
    if (!pasteboard.waitUntilRead(kPasteWait)) paste = {false, kNotPasted};
  }

  auto work = mainQueue_.postAfter(kRestoreDelay, [this, written] { restore(written); });
  pendingRestore_ = PendingRestore{std::move(saved), work};

  if (!paste.ok) return paste;
  return {true, "입력함 (" + std::to_string(Unicode::graphemeCount(text)) + "자)"};
}

void Keyboard::restore(std::int64_t expectedChangeCount) {
  if (!pendingRestore_) return;
  std::vector<PasteboardItem> saved = std::move(pendingRestore_->items);
  pendingRestore_.reset();
  Pasteboard& pasteboard = platform_.pasteboard;
  // Someone copied something newer in the meantime: that wins.
  if (pasteboard.changeCount() != expectedChangeCount) return;
  pasteboard.clearContents();
  if (!saved.empty()) pasteboard.writeItems(saved);
}

}  // namespace quib
