#include "platform/wayland/mutter/MutterClipboard.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/linux/MainContextWait.h"
#include "platform/linux/SelectionTypes.h"
#include "platform/wayland/PipeWrite.h"

namespace quib {

namespace {

// What one foreign copy may announce: a peer must not grow our memory without end.
constexpr std::size_t kMaxTypes = 128;
constexpr std::size_t kMaxTypeLength = 256;

GVariant* emptyOptions() {
  return g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
}

// The descriptor a reply carries in its first argument; -1 when none.
int replyFd(GVariant* reply, GUnixFDList* fds) {
  int fd = -1;
  if (reply && fds && g_variant_is_of_type(reply, G_VARIANT_TYPE("(h)"))) {
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    fd = g_unix_fd_list_get(fds, index, nullptr);
  }
  if (reply) g_variant_unref(reply);
  if (fds) g_object_unref(fds);
  return fd;
}

// Tells mutter a transfer has ended. Owns what it needs, so a clipboard gone meanwhile leaves
// nothing dangling.
std::function<void(bool)> writeDone(GDBusConnection* bus, std::string session, std::uint32_t serial) {
  g_object_ref(bus);
  auto owned = std::shared_ptr<GDBusConnection>(bus, [](GDBusConnection* b) { g_object_unref(b); });
  return [owned, session = std::move(session), serial](bool whole) {
    g_dbus_connection_call(owned.get(), MutterSession::kService, session.c_str(),
                           MutterSession::kSessionInterface, "SelectionWriteDone",
                           g_variant_new("(ub)", serial, whole), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                           nullptr, nullptr, nullptr);
  };
}

// Reads another client's copy from mutter's pipe on the main context, up to a limit.
struct TransferRead {
  std::size_t limit = 0;
  std::string out;
  bool finished = false;
  bool complete = false;

  static gboolean step(gint fd, GIOCondition, gpointer p) {
    auto* r = static_cast<TransferRead*>(p);
    for (;;) {
      char buf[65536];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) {
        if (r->out.size() + static_cast<std::size_t>(n) > r->limit) break;
        r->out.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return G_SOURCE_CONTINUE;
      r->complete = n == 0;
      break;
    }
    r->finished = true;
    return G_SOURCE_REMOVE;
  }
};

}  // namespace

MutterClipboard::MutterClipboard(MutterSession& session) : session_(session) {
  session_.onSignal("SelectionOwnerChanged", [this](GVariant* p) { ownerChanged(p); });
  session_.onSignal("SelectionTransfer", [this](GVariant* p) { transfer(p); });
  session_.onStarted([this] {
    // Whatever was ours went with the old session.
    offers_.clear();
    ownLost();
    enable();
  });
  session_.onStateChange([this] {
    if (!session_.started()) enabled_ = false;
  });
  if (session_.ensure() && !enabled_) enable();
  // The copy there is at start is where the count starts; mutter announces it after enabling.
  absorbOwner_ = true;
  absorbTimer_ = g_timeout_add(
      static_cast<guint>(kReadTimeout.count()),
      [](gpointer self) {
        auto* c = static_cast<MutterClipboard*>(self);
        c->absorbOwner_ = false;
        c->absorbTimer_ = 0;
        return G_SOURCE_REMOVE;
      },
      this);
}

MutterClipboard::~MutterClipboard() {
  if (absorbTimer_) g_source_remove(absorbTimer_);
}

void MutterClipboard::enable() {
  GVariant* reply = session_.call("EnableClipboard", emptyOptions());
  enabled_ = reply != nullptr;
  if (reply) g_variant_unref(reply);
}

void MutterClipboard::ownerChanged(GVariant* parameters) {
  GVariant* options = nullptr;
  g_variant_get(parameters, "(@a{sv})", &options);
  gboolean ours = FALSE;
  g_variant_lookup(options, "session-is-owner", "b", &ours);
  // GNOME 43 wraps the list in a tuple; later versions send it bare.
  GVariant* types = g_variant_lookup_value(options, "mime-types", nullptr);
  if (types && g_variant_is_of_type(types, G_VARIANT_TYPE("(as)"))) {
    GVariant* inner = g_variant_get_child_value(types, 0);
    g_variant_unref(types);
    types = inner;
  }
  const bool owned = types && g_variant_is_of_type(types, G_VARIANT_TYPE_STRING_ARRAY);
  std::vector<std::string> announced;
  if (owned) {
    GVariantIter iter;
    g_variant_iter_init(&iter, types);
    const gchar* type = nullptr;
    while (g_variant_iter_next(&iter, "&s", &type))
      if (announced.size() < kMaxTypes && std::string_view(type).size() <= kMaxTypeLength)
        announced.emplace_back(type);
  }
  if (types) g_variant_unref(types);
  g_variant_unref(options);
  // Our own copy, counted when it was written.
  if (owned && ours) return;
  const bool absorb = absorbOwner_;
  absorbOwner_ = false;
  // Our clear let go of the selection: counted when it was made.
  if (!owned && state() == State::cleared) return;
  if (state() == State::own) offers_.clear();
  ownLost();
  foreignTypes_ = std::move(announced);
  if (absorb) {
    forgetForeign();
    return;
  }
  foreignChanged();
}

void MutterClipboard::transfer(GVariant* parameters) {
  const gchar* mime = nullptr;
  guint32 serial = 0;
  g_variant_get(parameters, "(&su)", &mime, &serial);
  const auto offer =
      std::find_if(offers_.begin(), offers_.end(), [&](const auto& o) { return o.first == mime; });
  int fd = -1;
  if (offer != offers_.end() && !refusesCopy(mime)) {
    GUnixFDList* fds = nullptr;
    GVariant* reply = session_.call("SelectionWrite", g_variant_new("(u)", serial), &fds);
    fd = replyFd(reply, fds);
  }
  if (fd < 0) {
    // Not ours to give, a manager's copy of a typed text, or no pipe from mutter: the reader is
    // told at once.
    GVariant* reply = session_.call("SelectionWriteDone", g_variant_new("(ub)", serial, FALSE));
    if (reply) g_variant_unref(reply);
    return;
  }
  // The transfer answers the session that asked, even if it ends meanwhile; a paste is served once
  // the reader has the whole text (mutter drops a transfer still under way when the selection
  // changes).
  writeToPipe(
      fd, offer->second,
      [done = writeDone(session_.bus(), session_.path(), serial), read = readNotice(mime)](bool whole) {
        done(whole);
        read(whole);
      });
}

bool MutterClipboard::announce(const std::vector<std::string>& types) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
  for (const auto& t : types) g_variant_builder_add(&list, "s", t.c_str());
  if (!types.empty())
    g_variant_builder_add(&b, "{sv}", "mime-types", g_variant_builder_end(&list));
  else
    g_variant_builder_clear(&list);
  GVariant* reply = session_.call("SetSelection", g_variant_new("(a{sv})", &b));
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

bool MutterClipboard::writeItems(const std::vector<PasteboardItem>& items) {
  if (!session_.ensure()) return false;
  // Enabling may have failed on a slow desktop: asked again here, where the clipboard is needed.
  if (!enabled_) enable();
  if (!enabled_) return false;
  auto all = afterWrite(items);
  auto offers =
      selectionOffers(all, {kSelectionTextTypes.begin(), kSelectionTextTypes.end()}, kHintType, kHintSecret);
  if (offers.empty()) return false;
  std::vector<std::string> types;
  for (const auto& o : offers) types.push_back(o.first);
  if (!announce(types)) return false;
  offers_ = std::move(offers);
  absorbOwner_ = false;
  becameOwn(std::move(all), true);
  return true;
}

void MutterClipboard::releaseSelection() {
  if (!enabled_ || offers_.empty()) return;
  // Without types mutter lets go of our selection; its announcement of no owner was counted here.
  // Mutter keeps a copy of each selection's text and puts it back when its owner lets go, which
  // would bring back what we typed: a selection without text first makes it drop that copy.
  offers_.clear();
  announce({kHintType});
  announce({});
}

std::optional<std::string> MutterClipboard::read(const std::string& mime, std::size_t limit, bool& stuck) {
  if (stuck || !enabled_) return std::nullopt;
  GUnixFDList* fds = nullptr;
  GVariant* reply = session_.call("SelectionRead", g_variant_new("(s)", mime.c_str()), &fds);
  const int fd = replyFd(reply, fds);
  if (fd < 0) return std::nullopt;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  TransferRead r;
  r.limit = limit;
  const guint source =
      g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP), TransferRead::step, &r);
  if (!linuxdesktop::iterateMainContextUntil([&] { return r.finished; }, kReadTimeout)) {
    g_source_remove(source);
    stuck = true;
  }
  ::close(fd);
  if (!r.complete) return std::nullopt;
  return std::move(r.out);
}

std::shared_ptr<MutterClipboard::ForeignCache> MutterClipboard::foreign() {
  if (!cache_ || cache_->count != changeCount()) {
    cache_ = std::make_shared<ForeignCache>();
    cache_->count = changeCount();
  }
  return cache_;
}

bool MutterClipboard::foreignHas(const std::string& type) const {
  return std::find(foreignTypes_.begin(), foreignTypes_.end(), type) != foreignTypes_.end();
}

std::optional<std::string> MutterClipboard::foreignText(ForeignCache& c) {
  if (c.text) return *c.text;
  c.text.emplace();
  for (const char* t : kSelectionTextTypes) {
    if (!foreignHas(t)) continue;
    auto bytes = read(t, kMaxSnapshotBytes, c.stuck);
    if (!bytes || !g_utf8_validate(bytes->data(), static_cast<gssize>(bytes->size()), nullptr)) continue;
    *c.text = std::move(*bytes);
    break;
  }
  return *c.text;
}

bool MutterClipboard::foreignConcealed(ForeignCache& c) {
  if (c.concealed) return *c.concealed;
  c.concealed = false;
  if (foreignHas(kHintType))
    if (auto r = read(kHintType, 64, c.stuck)) c.concealed = *r == kHintSecret;
  return *c.concealed;
}

std::vector<PasteboardItem> MutterClipboard::foreignItems() {
  const auto cache = foreign();
  ForeignCache& c = *cache;
  PasteboardItem item;
  std::size_t total = 0;
  if (auto text = foreignText(c)) {
    total += text->size();
    item.entries.emplace_back(PasteboardType::plainText, std::move(*text));
  }
  if (foreignConcealed(c)) item.entries.emplace_back(PasteboardType::concealed, "");
  // A copy of the types: reading dispatches the main loop, which may announce another copy.
  const std::vector<std::string> types = foreignTypes_;
  readForeignEntries(item, total, kMaxSnapshotBytes, types, c.stuck,
                     [&](const std::string& t, std::size_t limit) { return read(t, limit, c.stuck); });
  if (item.entries.empty()) return {};
  return {std::move(item)};
}

std::vector<std::string> MutterClipboard::foreignTypeNames() {
  const auto cache = foreign();
  ForeignCache& c = *cache;
  const bool text = std::any_of(kSelectionTextTypes.begin(), kSelectionTextTypes.end(),
                                [&](const char* t) { return foreignHas(t); });
  return foreignTypes(text, foreignConcealed(c), foreignTypes_);
}

std::optional<std::string> MutterClipboard::foreignString() {
  const auto cache = foreign();
  return foreignText(*cache);
}

}  // namespace quib
