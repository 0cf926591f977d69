#pragma once
// The clipboard through GNOME's compositor's remote-desktop session (see MutterSession), for GNOME
// on Wayland, which gives a program without a window no clipboard of its own. Our copy is announced
// by its types and written to mutter when a client pastes it; another client's copy is announced to
// us by its types and read when asked. The session's clipboard is enabled again on every new
// session.
//
// Main thread only. Our text goes out as text/plain;charset=utf-8, text/plain, UTF8_STRING, STRING
// and TEXT, concealed and transient copies with the KDE password-manager hint, as on the other
// Linux selections. Reads of another client's copy take at most kReadTimeout (the main context is
// dispatched meanwhile) and kMaxSnapshotBytes.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/SelectionPasteboard.h"
#include "platform/linux/SelectionTypes.h"
#include "platform/wayland/mutter/MutterSession.h"

namespace quib {

class MutterClipboard final : public SelectionPasteboard {
 public:
  static constexpr const char* kHintType = kPasswordHintType;
  static constexpr const char* kHintSecret = kPasswordHintSecret;
  static constexpr std::chrono::milliseconds kReadTimeout{1000};
  static constexpr std::size_t kMaxSnapshotBytes = 16u << 20;

  // `session` must outlive this object.
  explicit MutterClipboard(MutterSession& session);
  ~MutterClipboard() override;
  MutterClipboard(const MutterClipboard&) = delete;
  MutterClipboard& operator=(const MutterClipboard&) = delete;

  // Whether the session's clipboard is enabled now. Any thread.
  bool available() const override { return enabled_; }
  bool writeItems(const std::vector<PasteboardItem>& items) override;

 private:
  struct ForeignCache {
    std::int64_t count = -1;
    bool stuck = false;
    std::optional<std::optional<std::string>> text;
    std::optional<bool> concealed;
  };

  void enable();
  void ownerChanged(GVariant* parameters);
  void transfer(GVariant* parameters);
  bool announce(const std::vector<std::string>& types);

  std::vector<PasteboardItem> foreignItems() override;
  std::vector<std::string> foreignTypeNames() override;
  std::optional<std::string> foreignString() override;
  void forgetForeign() override { cache_.reset(); }
  void releaseSelection() override;

  std::optional<std::string> read(const std::string& mime, std::size_t limit, bool& stuck);
  // Shared: a read dispatches the main loop, where a new owner may drop the cache being filled.
  std::shared_ptr<ForeignCache> foreign();
  std::optional<std::string> foreignText(ForeignCache& cache);
  bool foreignConcealed(ForeignCache& cache);
  bool foreignHas(const std::string& type) const;

  MutterSession& session_;
  std::atomic<bool> enabled_{false};
  // The owner announced at enabling is where the count starts, not a change.
  bool absorbOwner_ = false;
  guint absorbTimer_ = 0;
  std::vector<std::string> foreignTypes_;                    // of another client's current copy
  std::vector<std::pair<std::string, std::string>> offers_;  // ours: type, bytes
  std::shared_ptr<ForeignCache> cache_;
};

}  // namespace quib
