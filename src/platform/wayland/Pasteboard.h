#pragma once
// The seat's clipboard through the wlr data-control protocol, which wlroots compositors and KDE
// Plasma give to clients without a focused window. Where the compositor offers no such protocol
// (GNOME), UnavailablePasteboard answers: the clipboard cannot be read or written at all.
//
// Main thread only. The change count grows by one for each of our own clears and writes, at once,
// and by one for each change of selection made by another client. The compositor tells us of our
// own selections too: those are known by a marker type that only our offers carry, and are not
// counted again.
//
// Our text goes out as text/plain;charset=utf-8, text/plain, UTF8_STRING, STRING and TEXT; the
// concealed and transient types as the KDE password-manager hint ("x-kde-passwordManagerHint" =
// "secret"), and a foreign copy carrying that hint reads as concealed. Another client's copy is
// counted once its hint and text are read, through the main loop (at most kReadTimeout and
// kMaxSnapshotBytes), so an owner that never sends what it offers cannot stall the main thread;
// its other types are read when asked, and not at all once it was found stuck.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/SelectionPasteboard.h"
#include "platform/linux/SelectionTypes.h"
#include "platform/wayland/PipeTransfer.h"
#include "platform/wayland/WaylandConnection.h"

struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace quib {

class WaylandPasteboard final : public SelectionPasteboard {
 public:
  static constexpr const char* kHintType = kPasswordHintType;
  static constexpr const char* kHintSecret = kPasswordHintSecret;
  static constexpr std::chrono::milliseconds kReadTimeout{1000};
  static constexpr std::size_t kMaxSnapshotBytes = 16u << 20;

  // Whether the compositor offers data-control; the instance's own available() stays visible beside it.
  static bool available(const WaylandConnection& connection);
  using Pasteboard::available;
  // `connection` must outlive this object; needs available().
  explicit WaylandPasteboard(WaylandConnection& connection);
  ~WaylandPasteboard() override;
  WaylandPasteboard(const WaylandPasteboard&) = delete;
  WaylandPasteboard& operator=(const WaylandPasteboard&) = delete;

  bool writeItems(const std::vector<PasteboardItem>& items) override;
  // A reader the compositor already told about our selection is heard before the chord.
  void expectPaste() override {
    connection_.roundtrip();
    SelectionPasteboard::expectPaste();
  }

  // Internal, public only for the protocol listeners.
  struct Offer;
  struct Source;
  void onSelection(zwlr_data_control_offer_v1* offer);
  void onCancelled(Source* source);
  // What to run once a reader has had what it asked of `source` in `type`.
  std::function<void(bool)> sentNotice(Source* source, const std::string& type);
  bool refusesCopyOf(Source* source, const std::string& type) {
    return source == source_.get() && refusesCopy(type);
  }
  void onFinished();

 private:
  struct ForeignCache;
  struct Prefetch;

  // Another client's contents as one item: the text as plain text, the concealed type when it
  // carries the hint, then every type under its own name.
  std::vector<PasteboardItem> foreignItems() override;
  std::vector<std::string> foreignTypeNames() override;
  std::optional<std::string> foreignString() override;
  void forgetForeign() override { cache_.reset(); }
  void releaseSelection() override;

  std::optional<std::string> read(const std::string& mime, std::size_t limit, bool& stuck);
  std::shared_ptr<ForeignCache> foreign();
  // Reads the hint and the text of a new foreign offer, then counts the change.
  void prefetch(const Offer& offer);
  void prefetchNext();
  std::optional<std::string> foreignText(ForeignCache& cache);
  bool foreignConcealed(ForeignCache& cache);

  WaylandConnection& connection_;
  zwlr_data_control_manager_v1* manager_ = nullptr;
  zwlr_data_control_device_v1* device_ = nullptr;
  std::vector<std::unique_ptr<Offer>> offers_;  // announced by the compositor, not yet replaced
  Offer* selection_ = nullptr;                  // the current foreign selection, if any
  std::unique_ptr<Source> source_;              // what we offer while the selection is ours
  std::string marker_;                          // the type only our offers carry
  std::uint64_t serial_ = 0;
  int expectedOwnClears_ = 0;
  std::shared_ptr<ForeignCache> cache_;
  std::unique_ptr<Prefetch> prefetch_;  // while a new foreign offer is being read
};

// The clipboard of a desktop that gives background programs none: nothing to read, every write
// refused, so the actions say so instead of answering with a success.
class UnavailablePasteboard final : public Pasteboard {
 public:
  bool available() const override { return false; }
  std::int64_t changeCount() override { return 0; }
  std::vector<PasteboardItem> items() override { return {}; }
  std::vector<std::string> types() override { return {}; }
  std::optional<std::string> string() override { return std::nullopt; }
  void clearContents() override {}
  bool writeItems(const std::vector<PasteboardItem>&) override { return false; }
};

}  // namespace quib
