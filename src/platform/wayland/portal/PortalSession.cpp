#include "platform/wayland/portal/PortalSession.h"

#include <system_error>

#include "platform/wayland/DbusError.h"
#include "platform/wayland/portal/PortalRequest.h"

namespace quib {
namespace {

constexpr const char* kSession = "org.freedesktop.portal.Session";
constexpr std::uint32_t kKeyboard = PortalSession::kKeyboard, kPointer = PortalSession::kPointer;
constexpr const char* kRemoteDesktop = PortalSession::kRemoteDesktop;
// Until the user revokes it in the desktop's settings.
constexpr std::uint32_t kPersistUntilRevoked = 2;

constexpr const char* kNoPortal =
    "the desktop has no remote-desktop portal (org.freedesktop.portal.RemoteDesktop)";
constexpr const char* kAsking = "waiting for you to allow input access in the desktop's dialog";
constexpr const char* kDeclined = "you declined input access; the menu's permission item asks again";
constexpr const char* kEnded = "the desktop ended the request for input access";
constexpr const char* kClosed = "the desktop closed the input session";
constexpr const char* kKeepsClosing =
    "the desktop keeps closing the input session; the menu's permission item asks again";

// The errors of a bus where nothing answers for the portal, or a portal without this interface.
bool noPortal(const GError* error) {
  if (error->domain != G_DBUS_ERROR) return false;
  switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_UNKNOWN_METHOD:
    case G_DBUS_ERROR_UNKNOWN_INTERFACE:
    case G_DBUS_ERROR_UNKNOWN_OBJECT:
    case G_DBUS_ERROR_INVALID_ARGS:  // Properties.GetAll of an interface the object lacks
      return true;
    default:
      return false;
  }
}

GVariantBuilder options(const std::string& token) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  return b;
}

std::uint32_t lookupUint(GVariant* dict, const char* key, std::uint32_t otherwise) {
  guint32 value = otherwise;
  g_variant_lookup(dict, key, "u", &value);
  return value;
}

}  // namespace

PortalSession::PortalSession(PortalSessionOptions options) : options_(std::move(options)) {
  if (options_.bus) bus_ = G_DBUS_CONNECTION(g_object_ref(options_.bus));
}

PortalSession::~PortalSession() {
  options_.onStateChange = nullptr;
  end({}, false);
  if (bus_) g_object_unref(bus_);
}

void PortalSession::changed() {
  if (options_.onStateChange) options_.onStateChange();
}

void PortalSession::start() {
  if (phase_ == Phase::asking || phase_ == Phase::started) return;
  begin();
}

void PortalSession::requestAccess() {
  lostInARow_ = 0;
  if (phase_ == Phase::asking || ready()) return;
  if (phase_ == Phase::started) {
    // Part of the devices granted: the user asks for the rest, so the saved choice, which would
    // give the same part again without a dialog, is not offered.
    end(reason_, false);
    offerToken_ = false;
  }
  begin();
}

void PortalSession::begin() {
  if (!bus_) {
    GError* error = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus_) {
      phase_ = Phase::failed;
      reason_ = "there is no D-Bus session bus to reach the desktop's portals (" + dbusErrorText(error) + ")";
      g_error_free(error);
      changed();
      return;
    }
  }
  attempt_ = g_cancellable_new();
  phase_ = Phase::asking;
  reason_ = kAsking;
  changed();
  probe();
}

void PortalSession::probe() {
  g_dbus_connection_call(
      bus_, PortalRequest::kService, PortalRequest::kObject, "org.freedesktop.DBus.Properties", "GetAll",
      g_variant_new("(s)", kRemoteDesktop), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, -1, attempt_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply) {
          if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            auto* self = static_cast<PortalSession*>(data);
            noPortal(error) ? self->fail(kNoPortal) : self->failCall(error);
          }
          g_error_free(error);
          return;
        }
        auto* self = static_cast<PortalSession*>(data);
        GVariant* properties = g_variant_get_child_value(reply, 0);
        self->version_ = lookupUint(properties, "version", 1);
        const std::uint32_t types = lookupUint(properties, "AvailableDeviceTypes", kKeyboard | kPointer);
        g_variant_unref(properties);
        g_variant_unref(reply);
        if (!(types & (kKeyboard | kPointer)))
          self->fail("the desktop's remote-desktop portal offers neither keyboard nor pointer");
        else if (self->version_ >= 2 && self->options_.clipboard)
          self->probeClipboard();
        else
          self->createSession();
      },
      this);
}

void PortalSession::probeClipboard() {
  g_dbus_connection_call(
      bus_, PortalRequest::kService, PortalRequest::kObject, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kClipboard, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1,
      attempt_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
          g_error_free(error);
          return;
        }
        auto* self = static_cast<PortalSession*>(data);
        // Without the interface: input only.
        self->clipboardOffered_ = reply != nullptr;
        if (reply) g_variant_unref(reply);
        if (error) g_error_free(error);
        self->createSession();
      },
      this);
}

void PortalSession::requestClipboard() {
  g_dbus_connection_call(
      bus_, PortalRequest::kService, PortalRequest::kObject, kClipboard, "RequestClipboard",
      g_variant_new("(o@a{sv})", session_.c_str(), g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
      nullptr, G_DBUS_CALL_FLAGS_NONE, -1, attempt_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
          g_error_free(error);
          return;
        }
        // Refused: the session starts without the clipboard, which Start's answer tells.
        if (reply) g_variant_unref(reply);
        if (error) g_error_free(error);
        static_cast<PortalSession*>(data)->selectDevices();
      },
      this);
}

void PortalSession::createSession() {
  const std::string token = PortalRequest::newToken();
  GVariantBuilder b = options(token);
  g_variant_builder_add(&b, "{sv}", "session_handle_token",
                        g_variant_new_string(PortalRequest::newToken().c_str()));
  request_ = std::make_unique<PortalRequest>(bus_);
  request_->send(
      token, kRemoteDesktop, "CreateSession", g_variant_new("(a{sv})", &b),
      [this](std::uint32_t response, GVariant* results) {
        if (!answered(response)) return;
        const gchar* handle = nullptr;
        if (!g_variant_lookup(results, "session_handle", "&s", &handle) &&
            !g_variant_lookup(results, "session_handle", "&o", &handle)) {
          fail("the remote-desktop portal made a session without a handle");
          return;
        }
        if (!g_variant_is_object_path(handle)) {
          fail("the remote-desktop portal made a session with a malformed handle");
          return;
        }
        session_ = handle;
        closedSubscription_ = g_dbus_connection_signal_subscribe(
            bus_, PortalRequest::kService, kSession, "Closed", session_.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer data) { static_cast<PortalSession*>(data)->end(kClosed, true); },
            this, nullptr);
        // The clipboard is asked for first: once a restore token is offered, the portal takes no
        // clipboard request, and the restored session would start without one.
        clipboardOffered_ ? requestClipboard() : selectDevices();
      },
      [this](const GError* error) { noPortal(error) ? fail(kNoPortal) : failCall(error); });
}

void PortalSession::selectDevices() {
  const std::string token = PortalRequest::newToken();
  GVariantBuilder b = options(token);
  g_variant_builder_add(&b, "{sv}", "types", g_variant_new_uint32(kKeyboard | kPointer));
  // Restore tokens and persistence came with the interface's second version; older portals refuse
  // options they do not know.
  if (version_ >= 2) {
    g_variant_builder_add(&b, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
    const std::string saved = offerToken_ ? savedToken() : std::string();
    offerToken_ = true;
    if (!saved.empty())
      g_variant_builder_add(&b, "{sv}", "restore_token", g_variant_new_string(saved.c_str()));
  }
  request_ = std::make_unique<PortalRequest>(bus_);
  request_->send(
      token, kRemoteDesktop, "SelectDevices", g_variant_new("(oa{sv})", session_.c_str(), &b),
      [this](std::uint32_t response, GVariant*) {
        if (answered(response)) startSession();
      },
      [this](const GError* error) { failCall(error); });
}

void PortalSession::startSession() {
  const std::string token = PortalRequest::newToken();
  GVariantBuilder b = options(token);
  request_ = std::make_unique<PortalRequest>(bus_);
  request_->send(
      token, kRemoteDesktop, "Start", g_variant_new("(osa{sv})", session_.c_str(), "", &b),
      [this](std::uint32_t response, GVariant* results) {
        if (answered(response)) started(results);
      },
      [this](const GError* error) { failCall(error); });
}

void PortalSession::started(GVariant* results) {
  request_.reset();
  granted_ = lookupUint(results, "devices", kKeyboard | kPointer) & (kKeyboard | kPointer);
  gboolean clipboard = FALSE;
  clipboard_ =
      clipboardOffered_ && g_variant_lookup(results, "clipboard_enabled", "b", &clipboard) && clipboard;
  if (version_ >= 2) {
    // The token offered is spent either way: keep the new one, or none.
    const gchar* token = nullptr;
    if (g_variant_lookup(results, "restore_token", "&s", &token) && *token)
      saveToken(token);
    else if (!options_.restoreTokenFile.empty()) {
      std::error_code ec;
      std::filesystem::remove(options_.restoreTokenFile, ec);
    }
  }
  if (!granted_) {
    fail("the desktop allowed neither keyboard nor pointer");
    return;
  }
  phase_ = Phase::started;
  sentOnSession_ = false;
  if (options_.onStarted) options_.onStarted();
  if (granted_ == kKeyboard)
    reason_ = "the desktop allowed the keyboard but not the pointer";
  else if (granted_ == kPointer)
    reason_ = "the desktop allowed the pointer but not the keyboard";
  else
    reason_.clear();
  changed();
}

bool PortalSession::answered(std::uint32_t response) {
  if (response == 0) return true;
  fail(response == 1 ? kDeclined : kEnded);
  return false;
}

void PortalSession::refused(std::string reason) {
  end(std::move(reason), true);
}

void PortalSession::failCall(const GError* error) {
  fail("the remote-desktop portal failed: " + dbusErrorText(error));
}

void PortalSession::end(std::string reason, bool askAgain) {
  const bool wasStarted = phase_ == Phase::started;
  request_.reset();
  if (closedSubscription_ && bus_) g_dbus_connection_signal_unsubscribe(bus_, closedSubscription_);
  closedSubscription_ = 0;
  // Closing a session the desktop already closed is refused harmlessly; no answer is awaited.
  if (!session_.empty() && bus_)
    g_dbus_connection_call(bus_, PortalRequest::kService, session_.c_str(), kSession, "Close", nullptr,
                           nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
  session_.clear();
  if (attempt_) {
    g_cancellable_cancel(attempt_);
    g_object_unref(attempt_);
    attempt_ = nullptr;
  }
  granted_ = 0;
  clipboard_ = clipboardOffered_ = false;
  if (askAgain && wasStarted) {
    if (sentOnSession_) lostInARow_ = 0;
    if (++lostInARow_ <= 3) {
      begin();
      return;
    }
    reason = kKeepsClosing;
  }
  phase_ = Phase::failed;
  reason_ = std::move(reason);
  changed();
}

std::string PortalSession::whyNot() const {
  if (ready()) return {};
  if (phase_ == Phase::notAsked) return "input access has not been asked for yet";
  return reason_;
}

std::string PortalSession::describe() const {
  std::string state;
  switch (phase_) {
    case Phase::notAsked:
      state = "not asked yet";
      break;
    case Phase::asking:
      state = "asking the desktop";
      break;
    case Phase::started:
      state = granted_ == (kKeyboard | kPointer) ? "keyboard and pointer"
              : granted_ == kKeyboard            ? "keyboard only"
                                                 : "pointer only";
      if (clipboard_) state += ", clipboard";
      break;
    case Phase::failed:
      state = "not started";
      break;
  }
  return "RemoteDesktop portal (" + state + ")";
}

std::string PortalSession::savedToken() const {
  if (options_.restoreTokenFile.empty()) return {};
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(options_.restoreTokenFile.c_str(), &contents, &length, nullptr)) return {};
  std::string token(contents, length);
  g_free(contents);
  while (!token.empty() && g_ascii_isspace(token.back())) token.pop_back();
  // Ours, but a file is a file: a token is a short line of text.
  if (token.size() > 1024 || !g_utf8_validate(token.data(), static_cast<gssize>(token.size()), nullptr))
    return {};
  return token;
}

void PortalSession::saveToken(const std::string& token) const {
  if (options_.restoreTokenFile.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(options_.restoreTokenFile.parent_path(), ec);
  const std::string line = token + "\n";
  // Written aside and renamed over the old one: a crash leaves the old token or the new, whole.
  g_file_set_contents_full(options_.restoreTokenFile.c_str(), line.data(), static_cast<gssize>(line.size()),
                           G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace quib
