#include "support/FakePortal.h"

#include <chrono>
#include <cstdio>

namespace quib::test {
namespace {

constexpr const char* kPortalXml = R"xml(<node>
<interface name="org.freedesktop.portal.RemoteDesktop">
  <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="SelectDevices">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="Start">
    <arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <method name="NotifyPointerMotion">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="d" direction="in"/>
    <arg type="d" direction="in"/></method>
  <method name="NotifyPointerButton">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="in"/></method>
  <method name="NotifyPointerAxisDiscrete">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="u" direction="in"/>
    <arg type="i" direction="in"/></method>
  <method name="NotifyKeyboardKeysym">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="in"/></method>
  <property name="AvailableDeviceTypes" type="u" access="read"/>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.portal.ScreenCast">
  <method name="SelectSources">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.portal.Session">
  <method name="Close"/>
  <signal name="Closed"><arg type="a{sv}"/></signal>
  <property name="version" type="u" access="read"/>
</interface>
</node>)xml";

constexpr const char* kObject = "/org/freedesktop/portal/desktop";

std::string escapedSender(const char* sender) {
  std::string s = sender[0] == ':' ? sender + 1 : sender;
  for (char& c : s)
    if (c == '.') c = '_';
  return s;
}

std::string option(GVariant* options, const char* key) {
  const gchar* value = nullptr;
  return g_variant_lookup(options, key, "&s", &value) ? value : "";
}

// One value as printf's `format` writes it.
template <class T>
std::string printed(const char* format, T value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

GDBusInterfaceInfo* interfaceInfo(const char* name) {
  if (std::string_view(name) == FakePortalClipboard::kInterface) return FakePortalClipboard::info();
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kPortalXml, nullptr);
  return g_dbus_node_info_lookup_interface(node, name);
}

}  // namespace

FakeRemoteDesktop::FakeRemoteDesktop(SessionBus& bus, Behaviour b) : behaviour_(std::move(b)) {
  thread_ = std::make_unique<BusThread>(
      bus.address(), [this](GDBusConnection* c) { serve(c); },
      [this](GDBusConnection*) {
        // Whatever still waits for an answer is told the portal went away.
        for (auto& pending : pendingInput_) unanswered_.push_back(pending.first);
        pendingInput_.clear();
        for (GDBusMethodInvocation* invocation : unanswered_)
          g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NoReply",
                                                     "gone");
        unanswered_.clear();
        if (owner_) g_bus_unown_name(owner_);
        for (guint r : registrations_) g_dbus_connection_unregister_object(connection_, r);
        for (auto& [path, session] : sessions_)
          g_dbus_connection_unregister_object(connection_, session.registration);
      });
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::seconds(15), [this] { return serving_; });
}

void FakeRemoteDesktop::serve(GDBusConnection* connection) {
  connection_ = connection;
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method,
         GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
        static_cast<FakeRemoteDesktop*>(self)->method(interface, method, params, invocation);
      },
      [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* property,
         GError**, gpointer self) -> GVariant* {
        const auto& b = static_cast<FakeRemoteDesktop*>(self)->behaviour_;
        const std::string i = interface, p = property;
        if (i == "org.freedesktop.portal.RemoteDesktop")
          return g_variant_new_uint32(p == "version" ? b.version : b.deviceTypes);
        return g_variant_new_uint32(1);
      },
      nullptr,
      {}};
  // Screen casts are offered as a desktop with PipeWire would, though a sink that asked for one
  // would see its session refused on one without.
  std::vector<const char*> interfaces{"org.freedesktop.portal.ScreenCast"};
  if (behaviour_.remoteDesktop) interfaces.push_back("org.freedesktop.portal.RemoteDesktop");
  if (behaviour_.clipboard) interfaces.push_back(FakePortalClipboard::kInterface);
  // Served either way once the bus answered: a test of a portal that never came checks owned().
  auto serving = [](GDBusConnection*, const gchar*, gpointer self) {
    auto* p = static_cast<FakeRemoteDesktop*>(self);
    std::lock_guard lock(p->mutex_);
    p->serving_ = true;
    p->cv_.notify_all();
  };
  if (!connection_) {
    serving(nullptr, nullptr, this);
    return;
  }
  for (const char* name : interfaces)
    registrations_.push_back(g_dbus_connection_register_object(connection_, kObject, interfaceInfo(name),
                                                               &vtable, this, nullptr, nullptr));
  owner_ = g_bus_own_name_on_connection(
      connection_, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer self) {
        auto* p = static_cast<FakeRemoteDesktop*>(self);
        std::lock_guard lock(p->mutex_);
        p->owned_ = p->serving_ = true;
        p->cv_.notify_all();
      },
      serving, this, nullptr);
}

FakeRemoteDesktop::~FakeRemoteDesktop() {
  thread_.reset();
}

void FakeRemoteDesktop::run(const std::function<void()>& work) {
  thread_->run(work);
}

void FakeRemoteDesktop::change(const std::function<void(Behaviour&)>& edit) {
  run([&] { edit(behaviour_); });
}

std::vector<std::string> FakeRemoteDesktop::callsFrom(std::size_t from) {
  const std::vector<std::string> all = calls();
  return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

void FakeRemoteDesktop::respond(GDBusMethodInvocation* invocation, const std::string& token,
                                std::uint32_t response, GVariant* results) {
  const std::string sender = g_dbus_method_invocation_get_sender(invocation);
  const std::string path = std::string(kObject) + "/request/" + escapedSender(sender.c_str()) + "/" + token;
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
  g_dbus_connection_emit_signal(connection_, sender.c_str(), path.c_str(), "org.freedesktop.portal.Request",
                                "Response", g_variant_new("(u@a{sv})", response, results), nullptr);
}

void FakeRemoteDesktop::method(const std::string& interface, const std::string& name, GVariant* params,
                               GDBusMethodInvocation* invocation) {
  const char* sender = g_dbus_method_invocation_get_sender(invocation);
  auto emptyResults = [] { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); };
  if (interface == "org.freedesktop.portal.Session") {  // Close
    calls_.push_back("Close");
    removeSession(g_dbus_method_invocation_get_object_path(invocation));
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  if (name == "CreateSession") {
    GVariant* options = g_variant_get_child_value(params, 0);
    const std::string token = option(options, "handle_token");
    const std::string path = std::string(kObject) + "/session/" + escapedSender(sender) + "/" +
                             option(options, "session_handle_token");
    g_variant_unref(options);
    calls_.push_back("CreateSession");
    Session session;
    session.sender = sender;
    static const GDBusInterfaceVTable sessionVtable = {
        [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method,
           GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
          static_cast<FakeRemoteDesktop*>(self)->method(interface, method, params, invocation);
        },
        nullptr,
        nullptr,
        {}};
    session.registration = g_dbus_connection_register_object(connection_, path.c_str(),
                                                             interfaceInfo("org.freedesktop.portal.Session"),
                                                             &sessionVtable, this, nullptr, nullptr);
    sessions_[path] = session;
    sessionOrder_.push_back(path);
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(path.c_str()));
    respond(invocation, token, 0, g_variant_builder_end(&results));
    return;
  }
  // Every other call names a session of the caller's.
  const gchar* path = nullptr;
  g_variant_get_child(params, 0, "&o", &path);
  auto found = sessions_.find(path);
  if (found == sessions_.end() || found->second.sender != sender) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                               "Invalid session");
    return;
  }
  Session& session = found->second;
  if (interface == FakePortalClipboard::kInterface) {
    clipboard_.method(connection_, path, name, params, invocation);
    return;
  }
  if (name == "SelectDevices" || name == "SelectSources") {
    GVariant* options = g_variant_get_child_value(params, 1);
    guint32 types = 0, persist = 0;
    g_variant_lookup(options, "types", "u", &types);
    std::string line = name + " types=" + std::to_string(types);
    if (g_variant_lookup(options, "persist_mode", "u", &persist))
      line += " persist_mode=" + std::to_string(persist);
    session.persist = persist != 0;
    const std::string restore = option(options, "restore_token");
    if (!restore.empty()) {
      line += " restore_token=" + restore;
      session.restoreToken = restore;
    }
    calls_.push_back(line);
    const std::string token = option(options, "handle_token");
    g_variant_unref(options);
    respond(invocation, token, 0, emptyResults());
    return;
  }
  if (name == "Start") {
    GVariant* options = g_variant_get_child_value(params, 2);
    const std::string token = option(options, "handle_token");
    g_variant_unref(options);
    // A token handed out earlier, and not spent yet, restores the choice without a dialog.
    const bool restored = session.restoreToken && validTokens_.erase(*session.restoreToken) == 1;
    calls_.push_back(restored ? "Start restored" : "Start dialog");
    if (restored) {
      respond(invocation, token, 0, startResults(session, path));
      return;
    }
    ++dialogs_;
    if (behaviour_.holdDialog) {
      const std::string requestPath =
          std::string(kObject) + "/request/" + escapedSender(sender) + "/" + token;
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", requestPath.c_str()));
      held_ = HeldDialog{sender, requestPath, path};
      return;
    }
    respond(invocation, token, behaviour_.startResponse,
            behaviour_.startResponse == 0 ? startResults(session, path) : emptyResults());
    return;
  }
  // The input calls.
  ++inputCalls_;
  std::string line;
  if (recordInput) {
    if (name == "NotifyKeyboardKeysym" || name == "NotifyPointerButton") {
      gint32 code = 0;
      guint32 state = 0;
      g_variant_get(params, "(&o@a{sv}iu)", nullptr, nullptr, &code, &state);
      line = std::string(name == "NotifyKeyboardKeysym" ? "Keysym " : "Button ") +
             printed("0x%x", static_cast<std::uint32_t>(code)) + (state ? " press" : " release");
    } else if (name == "NotifyPointerMotion") {
      double dx = 0, dy = 0;
      g_variant_get(params, "(&o@a{sv}dd)", nullptr, nullptr, &dx, &dy);
      line = "Motion " + printed("%g", dx) + " " + printed("%g", dy);
    } else if (name == "NotifyPointerAxisDiscrete") {
      guint32 axis = 0;
      gint32 steps = 0;
      g_variant_get(params, "(&o@a{sv}ui)", nullptr, nullptr, &axis, &steps);
      line = "AxisDiscrete " + std::to_string(axis) + " " + std::to_string(steps);
    }
  }
  if (!pendingInput_.empty() || !unanswered_.empty()) ++overlapping_;
  if (behaviour_.unansweredInput > 0) {
    // The desktop may still act on it; the caller never hears.
    --behaviour_.unansweredInput;
    if (recordInput) calls_.push_back(line);
    unanswered_.push_back(invocation);  // the call's own reference, given back when answered
    return;
  }
  if (behaviour_.inputDelayMs <= 0) {
    if (recordInput) calls_.push_back(line);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  pendingInput_.emplace_back(invocation, line);
  if (pendingInput_.size() > 1) return;
  GSource* later = g_timeout_source_new(static_cast<guint>(behaviour_.inputDelayMs));
  g_source_set_callback(
      later,
      [](gpointer self) -> gboolean {
        static_cast<FakeRemoteDesktop*>(self)->answerInput();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(later, thread_->context());
  g_source_unref(later);
}

void FakeRemoteDesktop::answerInput() {
  // Newest first: what the worker threads of a busy portal may do to calls that overlap.
  auto pending = std::move(pendingInput_);
  pendingInput_.clear();
  for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
    if (recordInput) calls_.push_back(it->second);
    g_dbus_method_invocation_return_value(it->first, nullptr);  // gives back the call's reference
  }
}

GVariant* FakeRemoteDesktop::startResults(Session& session, const std::string& path) {
  GVariantBuilder results;
  g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&results, "{sv}", "devices", g_variant_new_uint32(behaviour_.grantDevices));
  if (clipboard_.requested(path))
    g_variant_builder_add(&results, "{sv}", "clipboard_enabled", g_variant_new_boolean(TRUE));
  if (session.persist && behaviour_.version >= 2) {
    const std::string token = "token-" + std::to_string(++serial_);
    validTokens_.insert(token);
    g_variant_builder_add(&results, "{sv}", "restore_token", g_variant_new_string(token.c_str()));
  }
  return g_variant_builder_end(&results);
}

bool FakeRemoteDesktop::answerDialog(std::uint32_t response) {
  bool result = false;
  run([&] {
    result = [&]() -> bool {
      if (!held_) return false;
      const HeldDialog held = *held_;
      held_.reset();
      auto found = sessions_.find(held.session);
      GVariant* results = found != sessions_.end() && response == 0
                              ? startResults(found->second, held.session)
                              : g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
      g_dbus_connection_emit_signal(connection_, held.sender.c_str(), held.requestPath.c_str(),
                                    "org.freedesktop.portal.Request", "Response",
                                    g_variant_new("(u@a{sv})", response, results), nullptr);
      return true;
    }();
  });
  return result;
}

bool FakeRemoteDesktop::closeSession() {
  bool result = false;
  run([&] {
    result = [&]() -> bool {
      if (sessionOrder_.empty()) return false;
      const std::string path = sessionOrder_.back();
      const std::string sender = sessions_[path].sender;
      GVariant* details = g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
      g_dbus_connection_emit_signal(connection_, sender.c_str(), path.c_str(),
                                    "org.freedesktop.portal.Session", "Closed",
                                    g_variant_new("(@a{sv})", details), nullptr);
      removeSession(path);
      return true;
    }();
  });
  return result;
}

bool FakeRemoteDesktop::forgetSession() {
  bool result = false;
  run([&] {
    result = [&]() -> bool {
      if (sessionOrder_.empty()) return false;
      removeSession(sessionOrder_.back());
      return true;
    }();
  });
  return result;
}

void FakeRemoteDesktop::removeSession(const std::string& path) {
  auto found = sessions_.find(path);
  if (found == sessions_.end()) return;
  g_dbus_connection_unregister_object(connection_, found->second.registration);
  sessions_.erase(found);
  std::erase(sessionOrder_, path);
}

}  // namespace quib::test
