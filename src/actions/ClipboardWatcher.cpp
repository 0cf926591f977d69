#include "actions/ClipboardWatcher.h"

#include <algorithm>

#include "text/Unicode.h"

namespace quib {

ClipboardWatcher::ClipboardWatcher(Pasteboard& pasteboard, MainQueue& mainQueue)
    : pasteboard_(pasteboard), mainQueue_(mainQueue), lastChangeCount_(pasteboard.changeCount()) {}

ClipboardWatcher::~ClipboardWatcher() {
  timer_.cancel();
}

void ClipboardWatcher::start() {
  if (started_) return;
  started_ = true;
  schedule();
}

void ClipboardWatcher::schedule() {
  timer_ = mainQueue_.postAfter(kInterval, [this] {
    tick();
    schedule();
  });
}

void ClipboardWatcher::tick() {
  const std::int64_t count = pasteboard_.changeCount();
  if (count == lastChangeCount_) return;
  lastChangeCount_ = count;
  const auto types = pasteboard_.types();
  for (const auto& t : types)
    if (t == PasteboardType::concealed || t == PasteboardType::transient) return;
  auto text = pasteboard_.string();
  if (!text) return;
  // A cluster is at least one byte, so a text of at most kMaxLength bytes needs no cut.
  std::string cut = text->size() > kMaxLength ? Unicode::graphemePrefix(*text, kMaxLength) : std::move(*text);
  if (Unicode::isWhitespaceOnly(cut)) return;

  std::lock_guard lock(historyMutex_);
  std::erase_if(history_, [&](const std::string& h) { return Unicode::canonicallyEqual(h, cut); });
  history_.insert(history_.begin(), std::move(cut));
  if (history_.size() > kMaxItems) history_.resize(kMaxItems);
}

std::vector<std::string> ClipboardWatcher::history() const {
  std::lock_guard lock(historyMutex_);
  return history_;
}

}  // namespace quib
