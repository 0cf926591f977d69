#pragma once
// The virtual desktop's clipboard, in memory, with a helper that copies as another application
// would. Thread-safe.
#include <atomic>
#include <mutex>

#include "platform/Pasteboard.h"
#include "platform/virtual/EffectLog.h"

namespace quib {

class VirtualPasteboard final : public Pasteboard {
 public:
  explicit VirtualPasteboard(EffectLog& log) : log_(log) {}

  bool available() const override { return available_; }
  std::int64_t changeCount() override;
  std::vector<PasteboardItem> items() override;
  std::vector<std::string> types() override;
  std::optional<std::string> string() override;
  void clearContents() override;
  bool writeItems(const std::vector<PasteboardItem>& items) override;

  // As another application copying text, optionally with extra (empty) types.
  void copyText(const std::string& text, std::vector<std::string> extraTypes = {});
  // As another application copying whole items.
  void copyItems(std::vector<PasteboardItem> items);
  // Stands for a desktop that gives the program no clipboard: every write is refused.
  void setAvailable(bool available) { available_ = available; }

 private:
  EffectLog& log_;
  std::atomic<bool> available_{true};
  std::mutex mutex_;  // guards the members below
  std::int64_t changeCount_ = 0;
  std::vector<PasteboardItem> items_;
};

}  // namespace quib
