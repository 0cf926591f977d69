#pragma once
// The Clipboard portal's part of the fake portal (FakeRemoteDesktop): the clipboard of the
// desktop that a RemoteDesktop session may ask for before it starts, pastes into our copy and
// copies of other programs. Runs on the fake portal's thread.
#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quib::test {

class FakePortalClipboard {
 public:
  static constexpr const char* kInterface = "org.freedesktop.portal.Clipboard";
  static GDBusInterfaceInfo* info();

  // `calls` is where the calls are recorded ("RequestClipboard", "SetSelection text/plain,...",
  // "SelectionWriteDone 1 true").
  explicit FakePortalClipboard(std::vector<std::string>& calls) : calls_(calls) {}
  ~FakePortalClipboard();

  void method(GDBusConnection* connection, const std::string& session, const std::string& name,
              GVariant* params, GDBusMethodInvocation* invocation);
  bool requested(const std::string& session) const { return requested_.contains(session); }

  // Someone pastes `mime` from the session's copy: its SelectionTransfer; the serial to look up.
  std::uint32_t paste(GDBusConnection* connection, const std::string& sender, const std::string& session,
                      const std::string& mime);
  // What the session wrote for that paste; none until it said it is done.
  std::optional<std::string> pasted(std::uint32_t serial) const;
  // Another program copies `text` offered as `types`.
  void copy(GDBusConnection* connection, const std::string& sender, const std::string& session,
            std::vector<std::string> types, std::string text);

 private:
  std::vector<std::string>& calls_;
  std::set<std::string> requested_;
  std::uint32_t serial_ = 0;
  std::map<std::uint32_t, int> reading_;  // serial: our end of the pipe handed out
  std::map<std::uint32_t, std::string> pasted_;
  std::string foreignText_;
};

}  // namespace quib::test
