#include "support/FakePortal.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

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
  <method name="SelectionWrite"><arg type="o"/><arg type="u"/><arg type="h" direction="out"/></method>
  <method name="SelectionWriteDone"><arg type="o"/><arg type="u"/><arg type="b"/></method>
  <method name="SelectionRead"><arg type="o"/><arg type="s"/><arg type="h" direction="out"/></method>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.portal.Session"><method name="Close"/></interface>
</node>)xml";

constexpr const char* kObject = "/org/freedesktop/portal/desktop";
constexpr const char* kName = "org.freedesktop.portal.Desktop";
constexpr const char* kClipboard = "org.freedesktop.portal.Clipboard";
constexpr const char* kSession = "org.freedesktop.portal.Session";

GDBusInterfaceInfo* info(const char* name) {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
  return g_dbus_node_info_lookup_interface(node, name);
}

// Where the portal puts a request's or a session's object for this caller.
std::string objectFor(const char* kind, const std::string& sender, const std::string& token) {
  std::string s = sender.substr(1);
  for (char& c : s)
    if (c == '.') c = '_';
  return std::string(kObject) + "/" + kind + "/" + s + "/" + token;
}

std::string option(GVariant* options, const char* key) {
  const gchar* value = nullptr;
  return g_variant_lookup(options, key, "&s", &value) ? value : "";
}

GVariant* noResults() {
  return g_variant_new_parsed("@a{sv} {}");
}

void callBus(GDBusConnection* c, const char* method, GVariant* params) {
  if (GVariant* reply = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus", method, params, nullptr,
                                                    G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr))
    g_variant_unref(reply);
}

}  // namespace

FakeRemoteDesktop::FakeRemoteDesktop(SessionBus& bus, Behaviour b) : behaviour_(b) {
  thread_ = std::make_unique<BusThread>(
      bus.address(),
      [this](GDBusConnection* c) {
        if (!(connection_ = c)) return;
        // Left registered: the connection closes with the fake.
        register_(kObject, "org.freedesktop.portal.RemoteDesktop");
        if (behaviour_.clipboard) register_(kObject, kClipboard);
        // Owned before the constructor returns: the first call finds the portal.
        callBus(c, "RequestName", g_variant_new("(su)", kName, 0u));
      },
      [this](GDBusConnection* c) {
        // Whatever still waits for an answer is told the portal went away.
        for (GDBusMethodInvocation* invocation : pendingInput_)
          g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NoReply",
                                                     "gone");
        delayed_.clear();
        for (auto& [serial, fd] : writing_) ::close(fd);
        if (c) callBus(c, "ReleaseName", g_variant_new("(s)", kName));
      });
}

guint FakeRemoteDesktop::register_(const std::string& path, const char* interface) {
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method,
         GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
        static_cast<FakeRemoteDesktop*>(self)->method(interface, method, params, invocation);
      },
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**, gpointer self) {
        return g_variant_new_uint32(static_cast<FakeRemoteDesktop*>(self)->behaviour_.version);
      },
      nullptr,
      {}};
  return g_dbus_connection_register_object(connection_, path.c_str(), info(interface), &vtable, this, nullptr,
                                           nullptr);
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

void FakeRemoteDesktop::method(const std::string& interface, const std::string& name, GVariant* params,
                               GDBusMethodInvocation* invocation) {
  const std::string sender = g_dbus_method_invocation_get_sender(invocation);
  // Requests answer through their Response signal after the reply that names them, unless the
  // dialog is held open.
  auto respond = [&](GVariant* options, std::optional<std::uint32_t> response, GVariant* results) {
    const std::string request = objectFor("request", sender, option(options, "handle_token"));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    if (response)
      emit(sender, request, "org.freedesktop.portal.Request", "Response",
           g_variant_new("(u@a{sv})", *response, results));
    return request;
  };
  GVariant* options = nullptr;
  if (name == "CreateSession") {
    calls_.push_back(name);
    options = g_variant_get_child_value(params, 0);
    const std::string path = objectFor("session", sender, option(options, "session_handle_token"));
    sessions_[path] = Session{sender, register_(path, kSession), {}};
    sessionOrder_.push_back(path);
    respond(options, 0, g_variant_new_parsed("{'session_handle': <%s>}", path.c_str()));
    g_variant_unref(options);
    return;
  }
  // Every other call names a session of the caller's.
  const gchar* path = g_dbus_method_invocation_get_object_path(invocation);
  if (interface != kSession) g_variant_get_child(params, 0, "&o", &path);
  auto found = sessions_.find(path);
  if (found == sessions_.end() || found->second.sender != sender) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                               "Invalid session");
    return;
  }
  Session& session = found->second;
  if (interface == kSession) {
    calls_.push_back("Close");
    removeSession(path, false);
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else if (interface == kClipboard) {
    clipboardMethod(session, name, params, invocation);
  } else if (name == "SelectDevices") {
    options = g_variant_get_child_value(params, 1);
    guint32 types = 0, persist = 0;
    g_variant_lookup(options, "types", "u", &types);
    std::string line = name + " types=" + std::to_string(types);
    if (g_variant_lookup(options, "persist_mode", "u", &persist))
      line += " persist_mode=" + std::to_string(persist);
    session.persist = persist != 0;
    if (!(session.restoreToken = option(options, "restore_token")).empty())
      line += " restore_token=" + session.restoreToken;
    calls_.push_back(line);
    respond(options, 0, noResults());
  } else if (name == "Start") {
    options = g_variant_get_child_value(params, 2);
    // A token handed out earlier, and not spent yet, restores the choice without a dialog.
    const bool restored = validTokens_.erase(session.restoreToken) == 1;
    calls_.push_back(restored ? "Start restored" : "Start dialog");
    dialogs_ += restored ? 0 : 1;
    const auto response = restored                ? 0
                          : behaviour_.holdDialog ? std::nullopt
                                                  : std::optional(behaviour_.startResponse);
    // A dialog held open answers later, with results of its own.
    const std::string request = respond(options, response,
                                        !response        ? nullptr
                                        : *response == 0 ? startResults(session)
                                                         : noResults());
    if (!response) held_.emplace(request, path);
  } else {
    input(name, params, invocation);
  }
  if (options) g_variant_unref(options);
}

void FakeRemoteDesktop::input(const std::string& name, GVariant* params, GDBusMethodInvocation* invocation) {
  ++inputCalls_;
  if (recordInput) {
    // "KeyboardKeysym 97 1": the call's name and its arguments after the session and options.
    std::string line = name.substr(6);
    for (gsize i = 2; i < g_variant_n_children(params); ++i) {
      GVariant* value = g_variant_get_child_value(params, i);
      gchar* text = g_variant_print(value, FALSE);
      line += std::string(" ") + text;
      g_free(text);
      g_variant_unref(value);
    }
    calls_.push_back(line);
  }
  if (!pendingInput_.empty()) ++overlapping_;
  if (behaviour_.unansweredInput > 0) {
    // The desktop may still act on it; the caller never hears.
    --behaviour_.unansweredInput;
    pendingInput_.push_back(invocation);
  } else if (behaviour_.inputDelayMs <= 0) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else {
    // Answered late, and those that overlap in reverse order, as the worker threads of a busy
    // portal may: a client that does not wait sees its input reordered.
    delayed_.push_back(invocation);
    pendingInput_.push_back(invocation);
    if (delayed_.size() > 1) return;
    GSource* later = g_timeout_source_new(static_cast<guint>(behaviour_.inputDelayMs));
    g_source_set_callback(
        later,
        [](gpointer p) -> gboolean {
          auto* self = static_cast<FakeRemoteDesktop*>(p);
          for (auto it = self->delayed_.rbegin(); it != self->delayed_.rend(); ++it) {
            std::erase(self->pendingInput_, *it);
            g_dbus_method_invocation_return_value(*it, nullptr);
          }
          self->delayed_.clear();
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(later, thread_->context());
    g_source_unref(later);
  }
}

void FakeRemoteDesktop::clipboardMethod(Session& session, const std::string& name, GVariant* params,
                                        GDBusMethodInvocation* invocation) {
  int fds[2] = {-1, -1};
  if (name == "RequestClipboard") {
    calls_.push_back(name);
    session.clipboard = true;
  } else if (name == "SetSelection") {
    GVariant* options = g_variant_get_child_value(params, 1);
    const gchar** types = nullptr;
    std::string line = name;
    if (g_variant_lookup(options, "mime_types", "^a&s", &types))
      for (int i = 0; types[i]; ++i) line += (i ? "," : " ") + std::string(types[i]);
    g_free(types);
    g_variant_unref(options);
    calls_.push_back(line);
  } else if (name == "SelectionRead" && pipe(fds) == 0) {
    if (::write(fds[1], foreignText_.data(), foreignText_.size()) < 0) foreignText_.clear();
    std::swap(fds[0], fds[1]);
  } else if (name == "SelectionWrite" && pipe(fds) == 0) {
    guint32 serial = 0;
    g_variant_get(params, "(&ou)", nullptr, &serial);
    writing_[serial] = fds[0];
    fds[0] = -1;
  } else if (name == "SelectionWriteDone") {
    guint32 serial = 0;
    gboolean ok = FALSE;
    g_variant_get(params, "(&oub)", nullptr, &serial, &ok);
    std::string data;
    if (auto found = writing_.find(serial); found != writing_.end()) {
      // The writer is done: all there is can be read at once, without waiting for the end of
      // the pipe (the copy of the write end that went out with the reply may still be open).
      fcntl(found->second, F_SETFL, O_NONBLOCK);
      char buf[4096];
      for (ssize_t n; (n = ::read(found->second, buf, sizeof buf)) > 0;)
        data.append(buf, static_cast<std::size_t>(n));
      ::close(found->second);
      writing_.erase(found);
    }
    pasted_[serial] = ok ? data : "(failed)";
  }
  if (fds[0] >= 0) ::close(fds[0]);
  if (fds[1] < 0) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1);  // takes it
  g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), list);
  g_object_unref(list);
}

GVariant* FakeRemoteDesktop::startResults(Session& session) {
  GVariantBuilder results;
  g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&results, "{sv}", "devices", g_variant_new_uint32(behaviour_.grantDevices));
  if (session.clipboard)
    g_variant_builder_add(&results, "{sv}", "clipboard_enabled", g_variant_new_boolean(TRUE));
  if (session.persist && behaviour_.version >= 2) {
    const std::string token = "token-" + std::to_string(++tokens_);
    validTokens_.insert(token);
    g_variant_builder_add(&results, "{sv}", "restore_token", g_variant_new_string(token.c_str()));
  }
  return g_variant_builder_end(&results);
}

bool FakeRemoteDesktop::answerDialog() {
  bool answered = false;
  run([&] {
    if (!held_ || !sessions_.contains(held_->second)) return;
    Session& session = sessions_.at(held_->second);
    emit(session.sender, held_->first, "org.freedesktop.portal.Request", "Response",
         g_variant_new("(u@a{sv})", 0u, startResults(session)));
    held_.reset();
    answered = true;
  });
  return answered;
}

bool FakeRemoteDesktop::onNewest(bool signalClosed) {
  bool found = false;
  run([&] {
    if ((found = !sessionOrder_.empty())) removeSession(sessionOrder_.back(), signalClosed);
  });
  return found;
}

void FakeRemoteDesktop::removeSession(const std::string& path, bool signalClosed) {
  const auto found = sessions_.find(path);
  if (signalClosed)
    emit(found->second.sender, path, kSession, "Closed", g_variant_new("(@a{sv})", noResults()));
  g_dbus_connection_unregister_object(connection_, found->second.registration);
  sessions_.erase(found);
  std::erase(sessionOrder_, path);
}

std::optional<std::string> FakeRemoteDesktop::paste(SessionBus& bus, const std::string& mime) {
  std::uint32_t serial = 0;
  run([&] {
    serial = ++transfers_;
    const std::string& session = sessionOrder_.back();
    emit(sessions_[session].sender, kObject, kClipboard, "SelectionTransfer",
         g_variant_new("(osu)", session.c_str(), mime.c_str(), serial));
  });
  std::optional<std::string> out;
  bus.pump([&] {
    run([&] {
      if (pasted_.contains(serial)) out = pasted_[serial];
    });
    return out.has_value();
  });
  return out;
}

void FakeRemoteDesktop::copy(const std::vector<std::string>& types, const std::string& text, bool asGnome) {
  run([&] {
    foreignText_ = text;
    std::vector<const gchar*> names;
    for (const auto& t : types) names.push_back(t.c_str());
    GVariant* list = g_variant_new_strv(names.data(), std::ssize(names));
    const std::string& session = sessionOrder_.back();
    emit(sessions_[session].sender, kObject, kClipboard, "SelectionOwnerChanged",
         g_variant_new_parsed("(%o, {'mime_types': <%*>, 'session_is_owner': <false>})", session.c_str(),
                              asGnome ? g_variant_new_tuple(&list, 1) : list));
  });
}

}  // namespace quib::test
