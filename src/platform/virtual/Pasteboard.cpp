#include "platform/virtual/Pasteboard.h"

#include <algorithm>

namespace quib {

std::int64_t VirtualPasteboard::changeCount() {
  std::lock_guard lock(mutex_);
  return changeCount_;
}

std::vector<PasteboardItem> VirtualPasteboard::items() {
  std::lock_guard lock(mutex_);
  return items_;
}

std::vector<std::string> VirtualPasteboard::types() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& item : items_)
    for (const auto& [type, data] : item.entries)
      if (std::find(out.begin(), out.end(), type) == out.end()) out.push_back(type);
  return out;
}

std::optional<std::string> VirtualPasteboard::string() {
  std::lock_guard lock(mutex_);
  for (const auto& item : items_)
    for (const auto& [type, data] : item.entries)
      if (type == PasteboardType::plainText) return data;
  return std::nullopt;
}

void VirtualPasteboard::clearContents() {
  {
    std::lock_guard lock(mutex_);
    items_.clear();
    ++changeCount_;
  }
  log_.emit("clipboard cleared");
}

bool VirtualPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
  if (!available_) return false;
  std::string text;
  {
    std::lock_guard lock(mutex_);
    items_.insert(items_.end(), items.begin(), items.end());
    ++changeCount_;
    for (const auto& item : items)
      for (const auto& [type, data] : item.entries)
        if (type == PasteboardType::plainText && text.empty()) text = data;
  }
  log_.emit("clipboard " + text);
  return true;
}

void VirtualPasteboard::copyText(const std::string& text, std::vector<std::string> extraTypes) {
  PasteboardItem item = PasteboardItem::text(text);
  for (auto& t : extraTypes) item.entries.emplace_back(std::move(t), "");
  copyItems({std::move(item)});
}

void VirtualPasteboard::copyItems(std::vector<PasteboardItem> items) {
  std::lock_guard lock(mutex_);
  items_ = std::move(items);
  changeCount_ += 2;  // a clear and a write
}

}  // namespace quib
