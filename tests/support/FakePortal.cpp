#include "support/FakePortal.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace quib::test {
namespace {

// Arguments are in-arguments unless marked.
constexpr const char* kXml = R"xml(<node>
<interface name="org.freedesktop.portal.RemoteDesktop">
  <method name="CreateSession"><arg type="a{sv}"/><arg type="o" direction="out"/></method>
  <method name="SelectDevices"><arg type="o"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
  <method name="Start"><arg type="o"/><arg type="s"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
  <method name="NotifyPointerMotion"><arg type="o"/><arg type="a{sv}"/><arg type="d"/><arg type="d"/></method>
  <method name="NotifyPointerButton"><arg type="o"/><arg type="a{sv}"/><arg type="i"/><arg type="u"/></method>
  <method name="NotifyPointerAxisDiscrete"><arg type="o"/><arg type="a{sv}"/><arg type="u"/><arg type="i"/></method>
  <method name="NotifyKeyboardKeysym"><arg type="o"/><arg type="a{sv}"/><arg type="i"/><arg type="u"/></method>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.portal.Clipboard">
  <method name="RequestClipboard"><arg type="o"/><arg type="a{sv}"/></method>
  <method name="SetSelection"><arg type="o"/><arg type="a{sv}"/></method>
  <method name="SelectionRead"><arg type="o"/><arg type="s"/><arg type="h" direction="out"/></method>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.portal.Session"><method name="Close"/></interface>
</node>)xml";

constexpr const char* kObject = "/org/freedesktop/portal/desktop";
constexpr const char* kName = "org.freedesktop.portal.Desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kClipboard = "org.freedesktop.portal.Clipboard";
constexpr const char* kSession = "org.freedesktop.portal.Session";

// Where the portal puts a request's or a session's object for this caller.
std::string objectFor(const char* kind, const std::string& sender, const std::string& token) {
  std::string s = sender.substr(1);
  std::replace(s.begin(), s.end(), '.', '_');
  return std::string(kObject) + "/" + kind + "/" + s + "/" + token;
}

std::string text(GVariant* options, const char* key) {
  const gchar* value = nullptr;
  return options && g_variant_lookup(options, key, "&s", &value) ? value : "";
}

// "SelectDevices types=3 persist_mode=2", "KeyboardKeysym 97 1": the call with its arguments but
// the session and other strings, and of its options those a test looks at.
std::string describe(std::string line, GVariant* params) {
  auto print = [&](const std::string& key, GVariant* value) {
    g_autofree gchar* printed = g_variant_print(value, FALSE);
    std::string text = printed;
    std::erase_if(text, [](char c) { return c == '\'' || c == '[' || c == ']' || c == ' '; });  // a,b
    line += " " + key + text;
  };
  if (line.starts_with("Notify")) line.erase(0, 6);
  for (gsize i = 0; i < g_variant_n_children(params); ++i) {
    g_autoptr(GVariant) arg = g_variant_get_child_value(params, i);
    if (g_variant_is_of_type(arg, G_VARIANT_TYPE_VARDICT)) {
      for (const char* key : {"types", "persist_mode", "restore_token", "mime_types"}) {
        g_autoptr(GVariant) value = g_variant_lookup_value(arg, key, nullptr);
        if (value) print(key + std::string("="), value);
      }
    } else if (!g_variant_is_of_type(arg, G_VARIANT_TYPE_STRING) &&
               !g_variant_is_of_type(arg, G_VARIANT_TYPE_OBJECT_PATH)) {
      print("", arg);
    }
  }
  return line;
}

void callBus(GDBusConnection* c, const char* method, GVariant* params) {
  g_autoptr(GVariant) reply =
      g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  method, params, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
}

// A list of types as the portal sends it.
GVariant* typeList(const std::vector<std::string>& types) {
  std::vector<const gchar*> names;
  for (const auto& t : types) names.push_back(t.c_str());
  return g_variant_new_strv(names.data(), std::ssize(names));
}

}  // namespace

guint FakeRemoteDesktop::registerObject(const std::string& path, const char* interface) {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
  // Every object answers through the one handler; a property read is for the interface's version.
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method,
         GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
        static_cast<FakeRemoteDesktop*>(self)->handle(interface, method, params, invocation);
      },
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**, gpointer self) {
        return g_variant_new_uint32(static_cast<FakeRemoteDesktop*>(self)->behaviour_.version);
      },
      nullptr,
      {}};
  return g_dbus_connection_register_object(connection_, path.c_str(),
                                           g_dbus_node_info_lookup_interface(node, interface), &vtable, this,
                                           nullptr, nullptr);
}

FakeRemoteDesktop::FakeRemoteDesktop(SessionBus& bus, Behaviour b) : behaviour_(b) {
  thread_ = std::make_unique<BusThread>(
      bus.address(),
      [this](GDBusConnection* c) {
        if (!(connection_ = c)) return;
        // Left registered: the connection closes with the fake.
        registerObject(kObject, kRemoteDesktop);
        if (behaviour_.clipboard) registerObject(kObject, kClipboard);
        // Owned before the constructor returns: the first call finds the portal.
        callBus(c, "RequestName", g_variant_new("(su)", kName, 0u));
      },
      [this](GDBusConnection* c) {
        // Whatever still waits for an answer is told the portal went away.
        for (GDBusMethodInvocation* invocation : unanswered_)
          g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NoReply",
                                                     "gone");
        if (c) callBus(c, "ReleaseName", g_variant_new("(s)", kName));
      });
}

std::vector<std::string> FakeRemoteDesktop::calls(std::size_t from) {
  const std::vector<std::string> all = read(calls_);
  return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

void FakeRemoteDesktop::emit(const std::string& sender, const std::string& path, const char* interface,
                             const char* signal, GVariant* params) {
  g_dbus_connection_emit_signal(connection_, sender.c_str(), path.c_str(), interface, signal, params,
                                nullptr);
}

void FakeRemoteDesktop::handle(const std::string& interface, const std::string& name, GVariant* params,
                               GDBusMethodInvocation* invocation) {
  const std::string sender = g_dbus_method_invocation_get_sender(invocation);
  g_autoptr(GVariant) options = nullptr;
  if (name == "CreateSession" || name == "SelectDevices" || name == "Start")
    options = g_variant_get_child_value(params, name == "CreateSession" ? 0 : name == "Start" ? 2 : 1);
  // Requests answer through their Response signal after the reply that names them.
  auto respond = [&](std::uint32_t response, GVariant* results) {
    const std::string request = objectFor("request", sender, text(options, "handle_token"));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    emit(sender, request, "org.freedesktop.portal.Request", "Response",
         g_variant_new("(u@a{sv})", response, results));
  };
  if (name == "CreateSession") {
    calls_.push_back(name);
    const std::string path = objectFor("session", sender, text(options, "session_handle_token"));
    sessions_.push_back(Session{path, sender, "", registerObject(path, kSession)});
    respond(0, g_variant_new_parsed("{'session_handle': <%o>}", path.c_str()));
    return;
  }
  // Every other call names a session of the caller's.
  const gchar* path = g_dbus_method_invocation_get_object_path(invocation);
  if (interface != kSession) g_variant_get_child(params, 0, "&o", &path);
  const auto session = std::find_if(sessions_.begin(), sessions_.end(),
                                    [&](const Session& s) { return s.path == path && s.sender == sender; });
  if (session == sessions_.end())
    return g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                                      "Invalid session");
  const bool input = name.starts_with("Notify");
  inputCalls_ += input ? 1 : 0;
  if (!input || recordInput) calls_.push_back(describe(name, params));
  int fds[2] = {-1, -1};
  guint32 persist = 0;
  if (name == "SelectDevices") {
    session->persist = g_variant_lookup(options, "persist_mode", "u", &persist) && persist != 0;
    session->restoreToken = text(options, "restore_token");
    respond(0, g_variant_new_parsed("@a{sv} {}"));
  } else if (name == "Start") {
    // A token handed out earlier, and not spent yet, restores the choice without a dialog.
    const bool restored = validTokens_.erase(session->restoreToken) == 1;
    calls_.back() += restored ? " restored" : " dialog";
    dialogs_ += restored ? 0 : 1;
    if (restored || behaviour_.startResponse == 0)
      respond(0, startResults(*session));
    else
      respond(behaviour_.startResponse, g_variant_new_parsed("@a{sv} {}"));
  } else if (name == "RequestClipboard" && !session->restoreToken.empty()) {
    // As the desktop's portal does once devices were chosen with a restore token.
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                               "Invalid state");
  } else if (input && behaviour_.unansweredInput > 0) {
    // The desktop may still act on it; the caller never hears.
    --behaviour_.unansweredInput;
    unanswered_.push_back(invocation);
  } else if (name == "SelectionRead" && pipe(fds) == 0) {
    if (::write(fds[1], foreignText_.data(), foreignText_.size()) < 0) foreignText_.clear();
    ::close(fds[1]);
    g_autoptr(GUnixFDList) list = g_unix_fd_list_new_from_array(fds, 1);  // takes it
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), list);
  } else {
    session->clipboard |= name == "RequestClipboard";
    if (interface == kSession) drop(session, false);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (name == "SetSelection" && behaviour_.confirmWrites) {
      if (!behaviour_.copiedBeforeWrite.empty())
        emit(sender, kObject, kClipboard, "SelectionOwnerChanged",
             g_variant_new_parsed("(%o, {'mime_types': <%*>, 'session_is_owner': <false>})", path,
                                  typeList(behaviour_.copiedBeforeWrite)));
      emit(sender, kObject, kClipboard, "SelectionOwnerChanged",
           g_variant_new_parsed("(%o, {'session_is_owner': <true>})", path));
      behaviour_.copiedBeforeWrite.clear();
    }
  }
}

GVariant* FakeRemoteDesktop::startResults(Session& session) {
  GVariantDict results;
  g_variant_dict_init(&results, nullptr);
  g_variant_dict_insert(&results, "devices", "u", behaviour_.grantDevices);
  if (session.clipboard) g_variant_dict_insert(&results, "clipboard_enabled", "b", TRUE);
  if (session.persist && behaviour_.version >= 2) {
    const std::string token = "token-" + std::to_string(++issued_);
    validTokens_.insert(token);
    g_variant_dict_insert(&results, "restore_token", "s", token.c_str());
  }
  return g_variant_dict_end(&results);
}

bool FakeRemoteDesktop::endSession(bool signalClosed) {
  bool found = false;
  thread_->run([&] {
    if ((found = !sessions_.empty())) drop(sessions_.end() - 1, signalClosed);
  });
  return found;
}

void FakeRemoteDesktop::drop(std::vector<Session>::iterator session, bool signalClosed) {
  if (signalClosed)
    emit(session->sender, session->path, kSession, "Closed", g_variant_new_parsed("(@a{sv} {},)"));
  g_dbus_connection_unregister_object(connection_, session->registration);
  sessions_.erase(session);
}

void FakeRemoteDesktop::copy(const std::vector<std::string>& types, const std::string& text, bool asGnome) {
  thread_->run([&] {
    foreignText_ = text;
    GVariant* list = typeList(types);
    emit(sessions_.back().sender, kObject, kClipboard, "SelectionOwnerChanged",
         g_variant_new_parsed("(%o, {'mime_types': <%*>, 'session_is_owner': <false>})",
                              sessions_.back().path.c_str(), asGnome ? g_variant_new_tuple(&list, 1) : list));
  });
}

}  // namespace quib::test
