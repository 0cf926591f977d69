#pragma once
// How another client's copy on a Linux selection (X11 CLIPBOARD, Wayland data-control) reads as
// pasteboard types. Pure.
#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "platform/Pasteboard.h"

namespace quib {

// The types our own copies carry their plain text under on Wayland, and read another client's text
// by, most preferred first; the first three carry UTF-8.
inline constexpr std::array<const char*, 5> kSelectionTextTypes = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                                   "text/plain", "STRING", "TEXT"};
// The password-manager hint: a copy carrying this type with this value is a secret.
inline constexpr const char* kPasswordHintType = "x-kde-passwordManagerHint";
inline constexpr const char* kPasswordHintSecret = "secret";

// Plain text when the copy offers text, the concealed type when it carries the password-manager
// hint, then each of its data types once, in its order.
inline std::vector<std::string> foreignTypes(bool hasText, bool concealed,
                                             const std::vector<std::string>& dataTypes) {
  std::vector<PasteboardItem> items(1);
  if (hasText) items[0].entries.emplace_back(PasteboardType::plainText, "");
  if (concealed) items[0].entries.emplace_back(PasteboardType::concealed, "");
  for (const auto& t : dataTypes) items[0].entries.emplace_back(t, "");
  return typesOf(items);
}

// What our copy offers on a selection, type by type: each data type once (the first wins), the
// password-manager hint (`hintType` = `hintValue`) when an item is concealed or transient, then the
// plain text under each of `textTypes`.
inline std::vector<std::pair<std::string, std::string>> selectionOffers(
    const std::vector<PasteboardItem>& items, const std::vector<std::string>& textTypes,
    const std::string& hintType, const std::string& hintValue) {
  std::vector<std::pair<std::string, std::string>> out;
  auto offered = [&](const std::string& t) {
    return std::any_of(out.begin(), out.end(), [&](const auto& d) { return d.first == t; });
  };
  const auto text = plainTextOf(items);
  bool hint = false;
  for (const auto& item : items)
    for (const auto& [type, data] : item.entries) {
      if (type == PasteboardType::concealed || type == PasteboardType::transient)
        hint = true;
      else if (type != PasteboardType::plainText && !offered(type))
        out.emplace_back(type, data);
    }
  if (hint && !offered(hintType)) out.emplace_back(hintType, hintValue);
  if (text)
    for (const auto& t : textTypes)
      if (!offered(t)) out.emplace_back(t, *text);
  return out;
}

// Another client's copy, entry by entry, after what `item` holds already (`total` bytes), to be given
// back whole after a paste: each type is read with what is left of `budget`; one that does not fit
// (or cannot be read) is left out and the rest kept; an owner that stops answering (`stuck`, set by
// `read`) ends it. `read(type, limit)` gives the bytes, or none.
template <typename Read>
void readForeignEntries(PasteboardItem& item, std::size_t total, std::size_t budget,
                        const std::vector<std::string>& types, const bool& stuck, Read read) {
  for (const auto& t : types) {
    if (stuck) return;
    auto r = read(t, budget - std::min(total, budget));
    if (!r) continue;
    total += r->size();
    item.entries.emplace_back(t, std::move(*r));
  }
}

}  // namespace quib
