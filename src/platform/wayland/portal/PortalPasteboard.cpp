#include "platform/wayland/portal/PortalPasteboard.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <algorithm>

#include "platform/linux/SelectionTypes.h"
#include "platform/wayland/PipeWrite.h"
#include "platform/wayland/portal/PortalRequest.h"

namespace quib {

namespace {

constexpr const char* kHintType = kPasswordHintType;
constexpr const char* kHintSecret = kPasswordHintSecret;
// Text types in the order they are read; ours go out under each.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"};

bool has(const std::vector<std::string>& types, std::string_view t) {
  return std::find(types.begin(), types.end(), t) != types.end();
}

// The reply's descriptor, taken; -1 when there is none.
int takeFd(GVariant* reply, GUnixFDList* fds) {
  int fd = -1;
  if (reply && fds && g_variant_is_of_type(reply, G_VARIANT_TYPE("(h)"))) {
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    fd = g_unix_fd_list_get(fds, index, nullptr);
  }
  if (fds) g_object_unref(fds);
  if (reply) g_variant_unref(reply);
  return fd;
}

}  // namespace

PortalPasteboard::PortalPasteboard(PortalSession& session) : session_(session) {}

PortalPasteboard::~PortalPasteboard() {
  read_.reset();
  unsubscribe();
}

void PortalPasteboard::unsubscribe() {
  if (!bus_) return;
  g_dbus_connection_signal_unsubscribe(bus_, ownerChanged_);
  g_dbus_connection_signal_unsubscribe(bus_, transfer_);
  g_object_unref(bus_);
  bus_ = nullptr;
}

void PortalPasteboard::sessionStarted() {
  // A new session owns nothing yet; what it offered before is gone with the old one.
  read_.reset();
  data_.clear();
  if (bus_ == session_.bus()) return;
  unsubscribe();
  bus_ = G_DBUS_CONNECTION(g_object_ref(session_.bus()));
  auto subscribe = [this](const char* signal, GDBusSignalCallback callback) {
    return g_dbus_connection_signal_subscribe(bus_, PortalRequest::kService, PortalSession::kClipboard,
                                              signal, PortalRequest::kObject, nullptr,
                                              G_DBUS_SIGNAL_FLAGS_NONE, callback, this, nullptr);
  };
  ownerChanged_ =
      subscribe("SelectionOwnerChanged", [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                            const gchar*, GVariant* params, gpointer p) {
        auto* self = static_cast<PortalPasteboard*>(p);
        const gchar* handle = nullptr;
        GVariant* options = nullptr;
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(oa{sv})"))) return;
        g_variant_get(params, "(&o@a{sv})", &handle, &options);
        if (handle == self->session_.handle()) self->onOwnerChanged(options);
        g_variant_unref(options);
      });
  transfer_ = subscribe("SelectionTransfer", [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                                const gchar*, GVariant* params, gpointer p) {
    auto* self = static_cast<PortalPasteboard*>(p);
    const gchar *handle = nullptr, *mime = nullptr;
    guint32 serial = 0;
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(osu)"))) return;
    g_variant_get(params, "(&o&su)", &handle, &mime, &serial);
    if (handle == self->session_.handle()) self->onTransfer(mime, serial);
  });
}

GVariant* PortalPasteboard::call(const char* method, GVariant* rest, GUnixFDList** fdsOut) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE_TUPLE);
  g_variant_builder_add(&b, "o", session_.handle().c_str());
  GVariantIter it;
  g_variant_iter_init(&it, rest);
  while (GVariant* child = g_variant_iter_next_value(&it)) {
    g_variant_builder_add_value(&b, child);
    g_variant_unref(child);
  }
  g_variant_unref(g_variant_ref_sink(rest));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      session_.bus(), PortalRequest::kService, PortalRequest::kObject, PortalSession::kClipboard, method,
      g_variant_builder_end(&b), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
      static_cast<int>(kCallTimeout.count()), nullptr, fdsOut, nullptr, &error);
  if (error) g_error_free(error);
  return reply;
}

bool PortalPasteboard::setSelection(const std::vector<std::string>& mimeTypes) {
  GVariantBuilder types;
  g_variant_builder_init(&types, G_VARIANT_TYPE_STRING_ARRAY);
  for (const auto& t : mimeTypes) g_variant_builder_add(&types, "s", t.c_str());
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "mime_types", g_variant_builder_end(&types));
  GVariant* reply = call("SetSelection", g_variant_new("(a{sv})", &options));
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

bool PortalPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
  if (!available()) return false;
  const std::vector<PasteboardItem> all = afterWrite(items);
  std::vector<std::pair<std::string, std::string>> data;
  auto offered = [&](std::string_view t) {
    return std::any_of(data.begin(), data.end(), [&](const auto& d) { return d.first == t; });
  };
  std::optional<std::string> text;
  bool hint = false;
  for (const auto& item : all)
    for (const auto& [type, bytes] : item.entries) {
      if (type == PasteboardType::plainText)
        text = text.value_or(bytes);
      else if (type == PasteboardType::concealed || type == PasteboardType::transient)
        hint = true;
      else if (!offered(type))
        data.emplace_back(type, bytes);
    }
  if (hint && !offered(kHintType)) data.emplace_back(kHintType, kHintSecret);
  if (text)
    for (const char* t : kTextTypes)
      if (!offered(t)) data.emplace_back(t, *text);
  std::vector<std::string> types;
  for (const auto& d : data) types.push_back(d.first);
  if (!setSelection(types)) return false;
  awaitingConfirmation_ = confirmsWrites_;
  read_.reset();
  data_ = std::move(data);
  becameOwn(all, true);
  return true;
}

void PortalPasteboard::releaseSelection() {
  data_.clear();
  // GNOME keeps a copy of each selection's text and puts it back when its owner lets go, which
  // would bring back what we typed: a selection without text first makes it drop that copy.
  if (!available()) return;
  setSelection({kHintType});
  setSelection({});
}

void PortalPasteboard::onTransfer(const std::string& mime, std::uint32_t serial) {
  const auto found = std::find_if(data_.begin(), data_.end(), [&](const auto& d) { return d.first == mime; });
  GUnixFDList* fds = nullptr;
  GVariant* reply = found == data_.end() || refusesCopy(mime)
                        ? nullptr
                        : call("SelectionWrite", g_variant_new("(u)", serial), &fds);
  const int fd = takeFd(reply, fds);
  auto done = [this, serial](bool whole) {
    if (GVariant* reply = call("SelectionWriteDone", g_variant_new("(ub)", serial, whole)))
      g_variant_unref(reply);
  };
  if (fd < 0) {
    done(false);
    return;
  }
  writeToPipe(fd, found->second, [done, read = readNotice(mime)](bool whole) {
    done(whole);
    read(whole);
  });
}

void PortalPasteboard::onOwnerChanged(GVariant* options) {
  gboolean ours = FALSE;
  if (g_variant_lookup(options, "session_is_owner", "b", &ours) && ours) {
    confirmsWrites_ = true;
    awaitingConfirmation_ = false;
    return;  // counted when written
  }
  // The desktop tells of changes in order, ours too: another copy told before ours confirms our
  // write was made before it, and reading it would read our own (which GNOME's portal does not
  // survive).
  if (awaitingConfirmation_) return;
  std::vector<std::string> types;
  GVariant* list = g_variant_lookup_value(options, "mime_types", nullptr);
  // GNOME sends the list wrapped in a tuple of one.
  if (list && g_variant_is_of_type(list, G_VARIANT_TYPE("(as)"))) {
    GVariant* inner = g_variant_get_child_value(list, 0);
    g_variant_unref(list);
    list = inner;
  }
  if (list && g_variant_is_of_type(list, G_VARIANT_TYPE_STRING_ARRAY)) {
    GVariantIter it;
    g_variant_iter_init(&it, list);
    const gchar* t = nullptr;
    // What one copy may announce: a peer must not grow our memory without end.
    while (g_variant_iter_next(&it, "&s", &t))
      if (types.size() < 128 && std::string_view(t).size() <= 256) types.emplace_back(t);
  }
  if (list) g_variant_unref(list);
  read_.reset();
  const char* const* textType = std::find_if(std::begin(kTextTypes), std::end(kTextTypes),
                                             [&](const char* t) { return has(types, t); });
  GUnixFDList* fds = nullptr;
  GVariant* reply = textType == std::end(kTextTypes)
                        ? nullptr
                        : call("SelectionRead", g_variant_new("(s)", *textType), &fds);
  const int fd = takeFd(reply, fds);
  if (fd < 0) {
    foreignRead(std::move(types), std::nullopt);
    return;
  }
  read_ = std::make_unique<PipeRead>(
      fd, kMaxTextBytes, std::chrono::steady_clock::now() + kReadTimeout,
      [this, types = std::move(types)](std::optional<std::string> bytes, bool) mutable {
        if (bytes && !g_utf8_validate(bytes->data(), static_cast<gssize>(bytes->size()), nullptr))
          bytes.reset();
        foreignRead(std::move(types), std::move(bytes));
      });
}

void PortalPasteboard::foreignRead(std::vector<std::string> types, std::optional<std::string> text) {
  foreignChanged();
  types_ = std::move(types);
  text_ = std::move(text);
}

std::vector<PasteboardItem> PortalPasteboard::foreignItems() {
  PasteboardItem item;
  if (text_) item.entries.emplace_back(PasteboardType::plainText, *text_);
  if (has(types_, kHintType)) item.entries.emplace_back(PasteboardType::concealed, "");
  if (item.entries.empty()) return {};
  return {std::move(item)};
}

std::vector<std::string> PortalPasteboard::foreignTypeNames() {
  return foreignTypes(text_.has_value(), has(types_, kHintType), types_);
}

}  // namespace quib
