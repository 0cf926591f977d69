#include "platform/linux/SelectionPasteboard.h"

#include <glib.h>

#include <algorithm>

#include "platform/linux/MainContextWait.h"
#include "platform/linux/SelectionTypes.h"

namespace quib {

SelectionPasteboard::~SelectionPasteboard() {
  cancelRelease();
}

std::vector<PasteboardItem> SelectionPasteboard::items() {
  if (state_ == State::own) return ownItems_;
  if (state_ == State::cleared) return {};
  return foreignItems();
}

std::vector<std::string> SelectionPasteboard::types() {
  if (state_ == State::own) return typesOf(ownItems_);
  if (state_ == State::cleared) return {};
  return foreignTypeNames();
}

std::optional<std::string> SelectionPasteboard::string() {
  if (state_ == State::own) return plainTextOf(ownItems_);
  if (state_ == State::cleared) return std::nullopt;
  return foreignString();
}

void SelectionPasteboard::clearContents() {
  ++changeCount_;
  state_ = State::cleared;
  ownItems_.clear();
  forgetForeign();
  // The selection is let go only if no write follows at once: a moment without an owner would make
  // clipboard managers put their last copy back, racing the write.
  if (!releaseSource_) releaseSource_ = g_idle_add(releaseWhenIdle, this);
}

int SelectionPasteboard::releaseWhenIdle(void* self) {
  auto* pb = static_cast<SelectionPasteboard*>(self);
  pb->releaseSource_ = 0;
  if (pb->state_ == State::cleared) pb->releaseSelection();
  return G_SOURCE_REMOVE;
}

void SelectionPasteboard::cancelRelease() {
  if (releaseSource_) g_source_remove(releaseSource_);
  releaseSource_ = 0;
}

void SelectionPasteboard::foreignChanged() {
  ++changeCount_;
  cancelRelease();
  state_ = State::foreign;
  ownItems_.clear();
  forgetForeign();
}

void SelectionPasteboard::ownLost() {
  if (state_ != State::own) return;
  state_ = State::foreign;
  ownItems_.clear();
  forgetForeign();
}

std::vector<PasteboardItem> SelectionPasteboard::afterWrite(const std::vector<PasteboardItem>& items) const {
  std::vector<PasteboardItem> out = state_ == State::own ? ownItems_ : std::vector<PasteboardItem>{};
  out.insert(out.end(), items.begin(), items.end());
  return out;
}

void SelectionPasteboard::becameOwn(std::vector<PasteboardItem> items, bool counted) {
  cancelRelease();
  ownItems_ = std::move(items);
  state_ = State::own;
  forgetForeign();
  if (!counted) return;
  ++changeCount_;
  ++pasteMark_;
  pasteExpected_ = false;
  readsAskedAtWrite_ = readsAsked_;
}

void SelectionPasteboard::expectPaste() {
  // What the desktop has already sent is dispatched first, so a manager's read asked for before the
  // chord is not taken for the paste. Bounded: a source that is always ready must not hold us here.
  for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
  // A clipboard manager (GNOME's own in mutter, Klipper) copies each new selection as soon as it is
  // made; relayed through a portal its read can come after the chord, and pass for a paste when no
  // window took one. A read before any chord shows the desktop has one: from then on each chord
  // waits for its copy first.
  if (state_ == State::own && copier_ != Copier::no) {
    const auto copied = [this] { return readsAsked_ != readsAskedAtWrite_; };
    linuxdesktop::iterateMainContextUntil(copied, copier_ == Copier::yes ? kCopyWait : kFirstCopyWait);
    if (copier_ == Copier::unknown) copier_ = copied() ? Copier::yes : Copier::no;
  }
  ++pasteMark_;
  pasteExpected_ = true;
  textReadsAtWrite_ = textReads_;
}

bool SelectionPasteboard::waitUntilRead(std::chrono::milliseconds limit) {
  if (state_ != State::own || !pasteExpected_) return false;
  const std::int64_t written = changeCount_;
  // A newer change (someone else's copy) ends the wait: our text can no longer be read.
  return linuxdesktop::iterateMainContextUntil(
             [&] { return textReads_ != textReadsAtWrite_ || changeCount_ != written; }, limit) &&
         textReads_ != textReadsAtWrite_ && changeCount_ == written;
}

namespace {

bool isText(const std::string& type) {
  return std::find(kSelectionTextTypes.begin(), kSelectionTextTypes.end(), type) != kSelectionTextTypes.end();
}

}  // namespace

bool SelectionPasteboard::refusesCopy(const std::string& type) {
  if (state_ != State::own || pasteExpected_ || !isText(type)) return false;
  const bool typed = std::any_of(ownItems_.begin(), ownItems_.end(), [](const PasteboardItem& item) {
    return std::any_of(item.entries.begin(), item.entries.end(),
                       [](const auto& e) { return e.first == PasteboardType::transient; });
  });
  if (typed) ++readsAsked_;
  return typed;
}

std::function<void(bool)> SelectionPasteboard::readNotice(const std::string& type) {
  if (!isText(type)) return [](bool) {};
  if (state_ == State::own) ++readsAsked_;
  return [life = std::weak_ptr<int>(life_), this, count = changeCount_,
          mark = pasteExpected_ ? pasteMark_ : 0](bool whole) {
    if (whole && life.lock() && changeCount_ == count && mark == pasteMark_) textRead();
  };
}

}  // namespace quib
