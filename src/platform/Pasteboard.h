#pragma once
// The general clipboard: items of typed data and a change count that grows with every change.
// Main thread only.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quib {

namespace PasteboardType {
inline constexpr const char* plainText = "public.utf8-plain-text";
inline constexpr const char* concealed = "org.nspasteboard.ConcealedType";
inline constexpr const char* transient = "org.nspasteboard.TransientType";
}  // namespace PasteboardType

struct PasteboardItem {
  // (type, data) in declaration order.
  std::vector<std::pair<std::string, std::string>> entries;

  static PasteboardItem text(const std::string& s) {
    return PasteboardItem{{{PasteboardType::plainText, s}}};
  }
  bool operator==(const PasteboardItem&) const = default;
};

// The types of all items, in order, each once.
inline std::vector<std::string> typesOf(const std::vector<PasteboardItem>& items) {
  std::vector<std::string> out;
  for (const auto& item : items)
    for (const auto& [type, data] : item.entries)
      if (std::find(out.begin(), out.end(), type) == out.end()) out.push_back(type);
  return out;
}

// The plain text of the first item that has one.
inline std::optional<std::string> plainTextOf(const std::vector<PasteboardItem>& items) {
  for (const auto& item : items)
    for (const auto& [type, data] : item.entries)
      if (type == PasteboardType::plainText) return data;
  return std::nullopt;
}

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // False on a desktop that gives this program no clipboard at all (GNOME on Wayland, for a
  // program without a window). Safe on any thread.
  virtual bool available() const { return true; }
  virtual std::int64_t changeCount() = 0;
  // A deep copy of the items.
  virtual std::vector<PasteboardItem> items() = 0;
  // The types of all items, in order, each once.
  virtual std::vector<std::string> types() = 0;
  // The plain text of the first item that has one.
  virtual std::optional<std::string> string() = 0;
  virtual void clearContents() = 0;
  virtual bool writeItems(const std::vector<PasteboardItem>& items) = 0;
  // Just before the paste chord after a write: only reads asked for from now on are the paste's
  // for waitUntilRead. A clipboard manager may read a new selection as soon as it is offered, and
  // that read must not pass for the window's.
  virtual void expectPaste() {}
  // After a write: waits, while the desktop's events are dispatched (but no other action runs),
  // until another client has read the text of that write, as a paste does, for at most `limit`.
  // True when it was read. A clipboard that is read without any dispatching answers true at once.
  virtual bool waitUntilRead(std::chrono::milliseconds /*limit*/) { return true; }
};

}  // namespace quib
