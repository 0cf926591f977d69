#pragma once
// What a clipboard on a desktop selection shares, whichever protocol carries it (the X11 CLIPBOARD
// selection, Wayland's data-control): whose contents are current (ours as written, another
// client's read on demand, or none after a clear), the change count, and letting go of the
// selection only once a clear is not followed at once by a write. Main thread only.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Pasteboard.h"

namespace quib {

class SelectionPasteboard : public Pasteboard {
 public:
  // How long a paste chord waits for a clipboard manager's copy of the write: at the first paste,
  // when it is not known whether there is one, and at each later one on a desktop that has one.
  static constexpr std::chrono::milliseconds kFirstCopyWait{300}, kCopyWait{500};

  ~SelectionPasteboard() override;  // a release still pending is dropped

  std::int64_t changeCount() override { return changeCount_; }
  std::vector<PasteboardItem> items() override;
  std::vector<std::string> types() override;
  std::optional<std::string> string() override;
  void clearContents() override;
  void expectPaste() override;
  bool waitUntilRead(std::chrono::milliseconds limit) override;

 protected:
  enum class State { foreign, own, cleared };
  State state() const { return state_; }

  // Another client's copy replaced whatever was there: counted, and a clear still pending must not
  // wipe it.
  void foreignChanged();
  // Another client took the selection from our copy; its own change is counted where it is seen.
  void ownLost();
  // What the clipboard holds after writing `items`: they follow ours when ours is current (a write
  // after a write adds to it), else they stand alone.
  std::vector<PasteboardItem> afterWrite(const std::vector<PasteboardItem>& items) const;
  // The selection carries `items` of ours; `counted` when this is a change (a write), not the
  // desktop confirming one already counted.
  void becameOwn(std::vector<PasteboardItem> items, bool counted);
  void cancelRelease();
  // Another client has had the text of our current write (a paste, or a clipboard manager): a
  // subclass calls this once the reader has it whole, as far as its protocol lets it tell.
  void textRead() {
    ++readsAsked_;
    if (pasteExpected_) ++textReads_;
  }
  // For a write to a reader that ends later: what to run once it ends, `whole` when the reader had
  // every byte. Counts a read of `type` when it is one of the text types and our write of now is
  // still current; does nothing once this pasteboard is gone.
  std::function<void(bool whole)> readNotice(const std::string& type);
  // Whether a read of `type` asked for now is a clipboard manager's copy of a typed text, to be
  // refused: the window is told to paste only by the chord, so a read before it is a manager's
  // (GNOME's own keeps a copy of every selection and puts it back when its owner lets go), and what
  // was typed must stay with no manager. Counted as a read, as readNotice counts one.
  bool refusesCopy(const std::string& type);
  // Changes seen while starting up are not changes a caller could have missed.
  void restartCount() { changeCount_ = 0; }

  // Another client's contents, read (or taken from the cache) when asked.
  virtual std::vector<PasteboardItem> foreignItems() = 0;
  virtual std::vector<std::string> foreignTypeNames() = 0;
  virtual std::optional<std::string> foreignString() = 0;
  // Drops what was read of another client's contents.
  virtual void forgetForeign() = 0;
  // Lets go of the selection: after a clear no write followed.
  virtual void releaseSelection() = 0;

 private:
  static int releaseWhenIdle(void* self);

  std::int64_t changeCount_ = 0;
  State state_ = State::foreign;
  std::vector<PasteboardItem> ownItems_;
  unsigned releaseSource_ = 0;
  std::uint64_t textReads_ = 0;
  std::uint64_t textReadsAtWrite_ = 0;
  // Counts writes and paste chords: a read counts only when asked for after the chord of its write.
  std::uint64_t pasteMark_ = 0;
  bool pasteExpected_ = false;
  // Text reads asked for, and their number at our last write: whether the desktop has a clipboard
  // manager that copies each new selection (unknown until the first paste).
  std::uint64_t readsAsked_ = 0, readsAskedAtWrite_ = 0;
  enum class Copier { unknown, yes, no } copier_ = Copier::unknown;
  std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

}  // namespace quib
