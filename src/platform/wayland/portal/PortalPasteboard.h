#pragma once
// The desktop's clipboard through the Clipboard portal, on the RemoteDesktop portal session that
// carries our input (desktops that give programs no data-control, where the portal offers it).
// Our copy is announced by its types (SetSelection) and each type is written when someone pastes
// (SelectionTransfer, then SelectionWrite's pipe, then SelectionWriteDone); another program's copy
// is announced by SelectionOwnerChanged and its text read through SelectionRead's pipe on the main
// loop (at most kReadTimeout and kMaxTextBytes) before the change is counted, so an owner that
// never sends cannot stall input. A copy carrying the KDE password-manager hint reads as concealed.
//
// Main thread only; the portal calls wait at most kCallTimeout.
#include <gio/gio.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/SelectionPasteboard.h"
#include "platform/wayland/PipeTransfer.h"
#include "platform/wayland/portal/PortalSession.h"

namespace quib {

class PortalPasteboard final : public SelectionPasteboard {
 public:
  static constexpr std::chrono::milliseconds kCallTimeout{500};
  static constexpr std::chrono::milliseconds kReadTimeout{1000};
  static constexpr std::size_t kMaxTextBytes = 16u << 20;

  // `session` must outlive this object.
  explicit PortalPasteboard(PortalSession& session);
  ~PortalPasteboard() override;
  PortalPasteboard(const PortalPasteboard&) = delete;
  PortalPasteboard& operator=(const PortalPasteboard&) = delete;

  // Call when a session started: follows that session's clipboard from now on.
  void sessionStarted();

  bool available() const override { return session_.clipboard(); }
  bool writeItems(const std::vector<PasteboardItem>& items) override;

 private:
  std::vector<PasteboardItem> foreignItems() override;
  std::vector<std::string> foreignTypeNames() override;
  std::optional<std::string> foreignString() override { return text_; }
  void forgetForeign() override {}
  void releaseSelection() override;

  void onOwnerChanged(GVariant* options);
  void onTransfer(const std::string& mime, std::uint32_t serial);
  // The foreign copy's text is in (or will not come): the change is counted.
  void foreignRead(std::vector<std::string> types, std::optional<std::string> text);
  bool setSelection(const std::vector<std::string>& mimeTypes);
  // A method of the Clipboard portal on our session, with `rest` after the session's handle.
  GVariant* call(const char* method, GVariant* rest, GUnixFDList** fdsOut = nullptr);
  void unsubscribe();

  PortalSession& session_;
  GDBusConnection* bus_ = nullptr;  // the one subscribed on
  guint ownerChanged_ = 0, transfer_ = 0;
  std::vector<std::pair<std::string, std::string>> data_;  // ours: type, bytes
  std::vector<std::string> types_;                         // the foreign copy's
  std::optional<std::string> text_;                        // its text, when read
  std::unique_ptr<PipeRead> read_;                         // while its text is read
  // Whether the desktop confirms our writes with a change of its own, and one is still to come.
  bool confirmsWrites_ = false, awaitingConfirmation_ = false;
};

}  // namespace quib
