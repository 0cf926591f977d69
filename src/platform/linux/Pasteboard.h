#pragma once
// The X11 CLIPBOARD selection through GtkClipboard, which already speaks TARGETS, MULTIPLE, TIMESTAMP,
// large (INCR) transfers both ways and the clipboard manager's SAVE_TARGETS.
//
// Main thread only, with GTK initialised; it relies on the default GMainContext being dispatched
// (owner changes arrive as GDK events). Reads of another client's contents iterate that context
// themselves for at most kReadTimeout per request, so they never hang on a stuck owner.
//
// The change count grows by one for each of our own clears and writes, at once, and by one for each
// change of owner or contents made by another client. The notification the X server sends about our
// own writes is not counted again: a late +1 would make a pending restore think someone else copied.
//
// The concealed and transient types travel as the KDE password-manager hint (target
// "x-kde-passwordManagerHint", value "secret"), which clipboard managers honour by leaving such
// contents out of their history; a foreign copy carrying that hint reads as concealed.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/SelectionPasteboard.h"
#include "platform/linux/SelectionTypes.h"

typedef struct _GtkClipboard GtkClipboard;
typedef struct _GdkEventOwnerChange GdkEventOwnerChange;
typedef struct _GtkSelectionData GtkSelectionData;

namespace quib {

class LinuxPasteboard final : public SelectionPasteboard {
 public:
  static constexpr const char* kHintTarget = kPasswordHintType;
  static constexpr const char* kHintSecret = kPasswordHintSecret;
  static constexpr std::chrono::milliseconds kReadTimeout{1000};
  // A snapshot of a foreign copy keeps the entries that fit in this many bytes together, and
  // what the owner answered within kSnapshotTime (typing waits for it).
  static constexpr std::size_t kMaxSnapshotBytes = 16u << 20;
  static constexpr std::chrono::milliseconds kSnapshotTime{300};

  // Needs gtk_init_check() to have succeeded on an X11 display.
  LinuxPasteboard();
  ~LinuxPasteboard() override;
  LinuxPasteboard(const LinuxPasteboard&) = delete;
  LinuxPasteboard& operator=(const LinuxPasteboard&) = delete;

  // Offers the items under the X targets their types name (plain text as UTF8_STRING,
  // text/plain;charset=utf-8, STRING and TEXT; the two hint types as the hint target; any other type
  // as the target of that name), the first item's entry winning where two name the same target.
  bool writeItems(const std::vector<PasteboardItem>& items) override;

  // At quit: hands what we own to the clipboard manager, when the desktop runs one, so a copy
  // survives us. Concealed and transient contents are never handed over.
  void storeForManager();

 private:
  struct Offer;
  struct ForeignCache;

  // Another client's contents as one item: the text as plain text, the concealed type when it
  // carries the hint, then every data target under its own name.
  std::vector<PasteboardItem> foreignItems() override;
  std::vector<std::string> foreignTypeNames() override;
  std::optional<std::string> foreignString() override;
  void forgetForeign() override { cache_.reset(); }
  void releaseSelection() override;

  static void onOwnerChange(GtkClipboard*, GdkEventOwnerChange* event, void* self);
  static void serve(GtkClipboard*, GtkSelectionData* data, unsigned info, void* offer);
  static void released(GtkClipboard*, void* offer);

  // Held by each reader: a change that arrives while it waits drops only the member's reference.
  std::shared_ptr<ForeignCache> foreign();
  std::optional<std::string> foreignText(ForeignCache& cache);
  bool foreignConcealed(ForeignCache& cache);

  GtkClipboard* clipboard_;
  unsigned long ownerChangeHandler_ = 0;
  bool haveXfixes_ = false;
  Offer* offer_ = nullptr;  // owned by GTK while it holds our data; freed in released()
  int expectedOwnReleases_ = 0;
  std::shared_ptr<ForeignCache> cache_;
  // While a snapshot is taken: when its reads must end, and whether one was cut short by that.
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool cut_ = false;
};

}  // namespace quib
