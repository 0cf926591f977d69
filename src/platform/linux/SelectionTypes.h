#pragma once
// How another client's copy on a Linux selection (X11 CLIPBOARD, Wayland data-control) reads as
// pasteboard types. Pure.
#include <string>
#include <vector>

#include "platform/Pasteboard.h"

namespace quib {

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

}  // namespace quib
