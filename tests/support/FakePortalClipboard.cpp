#include "support/FakePortalClipboard.h"

#include <gio/gunixfdlist.h>
#include <fcntl.h>
#include <unistd.h>

namespace quib::test {

namespace {

constexpr const char* kXml = R"xml(<node><interface name="org.freedesktop.portal.Clipboard">
  <method name="RequestClipboard"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/></method>
  <method name="SetSelection"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/></method>
  <method name="SelectionWrite">
    <arg type="o" direction="in"/><arg type="u" direction="in"/><arg type="h" direction="out"/></method>
  <method name="SelectionWriteDone">
    <arg type="o" direction="in"/><arg type="u" direction="in"/><arg type="b" direction="in"/></method>
  <method name="SelectionRead">
    <arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="h" direction="out"/></method>
  <signal name="SelectionOwnerChanged"><arg type="o"/><arg type="a{sv}"/></signal>
  <signal name="SelectionTransfer"><arg type="o"/><arg type="s"/><arg type="u"/></signal>
  <property name="version" type="u" access="read"/>
</interface></node>)xml";

constexpr const char* kObject = "/org/freedesktop/portal/desktop";

void returnFd(GDBusMethodInvocation* invocation, int fd) {
  GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes fd
  g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), fds);
  g_object_unref(fds);
}

}  // namespace

GDBusInterfaceInfo* FakePortalClipboard::info() {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
  return node->interfaces[0];
}

FakePortalClipboard::~FakePortalClipboard() {
  for (auto& [serial, fd] : reading_) ::close(fd);
}

void FakePortalClipboard::method(GDBusConnection*, const std::string& session, const std::string& name,
                                 GVariant* params, GDBusMethodInvocation* invocation) {
  if (name == "RequestClipboard") {
    calls_.push_back(name);
    requested_.insert(session);
  } else if (name == "SetSelection") {
    GVariant* options = g_variant_get_child_value(params, 1);
    const gchar** types = nullptr;
    std::string line = name;
    if (g_variant_lookup(options, "mime_types", "^a&s", &types))
      for (int i = 0; types[i]; ++i) line += (i ? "," : " ") + std::string(types[i]);
    g_free(types);
    g_variant_unref(options);
    calls_.push_back(line);
  } else if (name == "SelectionWrite") {
    guint32 serial = 0;
    g_variant_get(params, "(&ou)", nullptr, &serial);
    int fds[2];
    if (!reading_.contains(serial) && pipe(fds) == 0) {
      reading_[serial] = fds[0];
      returnFd(invocation, fds[1]);
      return;
    }
  } else if (name == "SelectionWriteDone") {
    guint32 serial = 0;
    gboolean ok = FALSE;
    g_variant_get(params, "(&oub)", nullptr, &serial, &ok);
    calls_.push_back(name + " " + std::to_string(serial) + (ok ? " true" : " false"));
    if (auto found = reading_.find(serial); found != reading_.end()) {
      // The writer is done: all there is can be read at once, without waiting for the end of
      // the pipe (the copy of the write end that went out with the reply may still be open).
      fcntl(found->second, F_SETFL, O_NONBLOCK);
      std::string data;
      char buf[4096];
      for (ssize_t n; (n = ::read(found->second, buf, sizeof buf)) > 0;)
        data.append(buf, static_cast<std::size_t>(n));
      ::close(found->second);
      reading_.erase(found);
      pasted_[serial] = ok ? data : "(failed)";
    }
  } else if (name == "SelectionRead") {
    int fds[2];
    if (pipe(fds) == 0) {
      if (::write(fds[1], foreignText_.data(), foreignText_.size()) < 0) foreignText_.clear();
      ::close(fds[1]);
      returnFd(invocation, fds[0]);
      return;
    }
  }
  if (name == "SelectionWrite" || name == "SelectionRead") {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.Failed", "no pipe");
    return;
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

std::uint32_t FakePortalClipboard::paste(GDBusConnection* connection, const std::string& sender,
                                         const std::string& session, const std::string& mime) {
  const std::uint32_t serial = ++serial_;
  g_dbus_connection_emit_signal(connection, sender.c_str(), kObject, kInterface, "SelectionTransfer",
                                g_variant_new("(osu)", session.c_str(), mime.c_str(), serial), nullptr);
  return serial;
}

std::optional<std::string> FakePortalClipboard::pasted(std::uint32_t serial) const {
  const auto found = pasted_.find(serial);
  if (found == pasted_.end()) return std::nullopt;
  return found->second;
}

void FakePortalClipboard::copy(GDBusConnection* connection, const std::string& sender,
                               const std::string& session, std::vector<std::string> types, std::string text) {
  foreignText_ = std::move(text);
  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE_STRING_ARRAY);
  for (const auto& t : types) g_variant_builder_add(&list, "s", t.c_str());
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "mime_types", g_variant_builder_end(&list));
  g_variant_builder_add(&options, "{sv}", "session_is_owner", g_variant_new_boolean(FALSE));
  g_dbus_connection_emit_signal(connection, sender.c_str(), kObject, kInterface, "SelectionOwnerChanged",
                                g_variant_new("(oa{sv})", session.c_str(), &options), nullptr);
}

}  // namespace quib::test
