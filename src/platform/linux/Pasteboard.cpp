#include "platform/linux/Pasteboard.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/linux/MainContextWait.h"
#include "platform/linux/SelectionTypes.h"

namespace quib {

namespace {

constexpr const char* kUtf8String = "UTF8_STRING";
constexpr const char* kUtf8Plain = "text/plain;charset=utf-8";

// Text targets in the order we prefer to read them; the first two carry UTF-8 as is.
constexpr std::array<const char*, 6> kTextTargets = {kUtf8String, kUtf8Plain,      "STRING",
                                                     "TEXT",      "COMPOUND_TEXT", "text/plain"};

// Targets that are requests or conversions, not data of their own.
bool isDataTarget(std::string_view t) {
  static constexpr std::array<std::string_view, 9> kNotData = {
      "TARGETS",          "MULTIPLE",        "TIMESTAMP", "SAVE_TARGETS", "DELETE",
      "INSERT_SELECTION", "INSERT_PROPERTY", "TEXT",      "COMPOUND_TEXT"};
  return std::find(kNotData.begin(), kNotData.end(), t) == kNotData.end();
}

bool isTextTarget(std::string_view t) {
  return std::find(kTextTargets.begin(), kTextTargets.end(), t) != kTextTargets.end();
}

std::string atomName(GdkAtom atom) {
  gchar* name = gdk_atom_name(atom);
  std::string out = name ? name : "";
  g_free(name);
  return out;
}

struct Received {
  std::string bytes;
  std::string type;
  int format = 0;
  std::vector<std::string> targets;  // for a TARGETS request
  std::optional<std::string> text;   // for a text request, decoded to UTF-8
};

// One transfer from the selection owner. Freed by whichever of the waiter and GTK's callback comes
// last: a waiter that gives up leaves the record for the late answer.
struct Transfer {
  bool done = false;
  bool abandoned = false;
  std::optional<Received> result;
};

enum class Want { data, targets, text };

std::optional<std::string> decodeText(GtkSelectionData* d, const std::string& target) {
  const guchar* raw = gtk_selection_data_get_data(d);
  const gint length = gtk_selection_data_get_length(d);
  if (target == kUtf8String || target == kUtf8Plain) {
    // Kept byte for byte; some owners end the text with a NUL.
    std::string s(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
    if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
    if (!g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return std::nullopt;
    return s;
  }
  guchar* text = gtk_selection_data_get_text(d);
  if (!text) return std::nullopt;
  std::string s(reinterpret_cast<char*>(text));
  g_free(text);
  return s;
}

// The answer of the owner for one target; none when it has none or did not answer in time.
// `stuck` becomes true when it did not answer within kReadTimeout; `cut` when `deadline` came
// first, which says nothing about the owner.
std::optional<Received> request(GtkClipboard* clipboard, const std::string& target, Want want, bool& stuck,
                                std::optional<std::chrono::steady_clock::time_point> deadline, bool& cut) {
  auto limit = LinuxPasteboard::kReadTimeout;
  bool deadlineFirst = false;
  if (deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds::zero()) {
      cut = true;
      return std::nullopt;
    }
    if (left < limit) {
      limit = left;
      deadlineFirst = true;
    }
  }
  struct Ask {
    Transfer* transfer;
    Want want;
    std::string target;
  };
  auto* transfer = new Transfer;
  auto* ask = new Ask{transfer, want, target};
  gtk_clipboard_request_contents(
      clipboard, gdk_atom_intern(target.c_str(), FALSE),
      [](GtkClipboard*, GtkSelectionData* d, gpointer p) {
        auto* a = static_cast<Ask*>(p);
        Transfer* t = a->transfer;
        if (!t->abandoned && d && gtk_selection_data_get_length(d) >= 0) {
          Received r;
          r.format = gtk_selection_data_get_format(d);
          r.type = atomName(gtk_selection_data_get_data_type(d));
          if (a->want == Want::targets) {
            GdkAtom* atoms = nullptr;
            gint n = 0;
            if (gtk_selection_data_get_targets(d, &atoms, &n)) {
              for (gint i = 0; i < n; ++i) r.targets.push_back(atomName(atoms[i]));
              g_free(atoms);
            }
          } else if (a->want == Want::text) {
            r.text = decodeText(d, a->target);
          } else {
            const guchar* raw = gtk_selection_data_get_data(d);
            r.bytes.assign(reinterpret_cast<const char*>(raw),
                           static_cast<std::size_t>(gtk_selection_data_get_length(d)));
          }
          t->result = std::move(r);
        }
        t->done = true;
        if (t->abandoned) delete t;
        delete a;
      },
      ask);
  if (!linuxdesktop::iterateMainContextUntil([&] { return transfer->done; }, limit)) {
    transfer->abandoned = true;
    (deadlineFirst ? cut : stuck) = true;
    return std::nullopt;
  }
  auto result = std::move(transfer->result);
  delete transfer;
  return result;
}

constexpr guint kTextAsIs = 1u << 30;            // UTF8_STRING, text/plain;charset=utf-8
constexpr guint kTextConverted = kTextAsIs + 1;  // STRING, TEXT: GTK converts

}  // namespace

// What we offer while we own the selection; GTK holds it until it calls released().
struct LinuxPasteboard::Offer {
  LinuxPasteboard* owner;
  std::vector<std::pair<std::string, std::string>> raw;  // target, bytes; the index is the target's info
  std::optional<std::string> text;
  bool sensitive = false;  // concealed or transient: never handed to a clipboard manager
};

// What another client's contents looked like at one change count, read as far as asked.
struct LinuxPasteboard::ForeignCache {
  std::int64_t count = 0;
  bool stuck = false;
  bool targetsRead = false;
  std::vector<std::string> targets;
  std::optional<std::optional<std::string>> text;
  std::optional<bool> concealed;
};

LinuxPasteboard::LinuxPasteboard() : clipboard_(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD)) {
  haveXfixes_ = gdk_display_request_selection_notification(gtk_clipboard_get_display(clipboard_),
                                                           GDK_SELECTION_CLIPBOARD);
  ownerChangeHandler_ = g_signal_connect(clipboard_, "owner-change", G_CALLBACK(onOwnerChange), this);
}

LinuxPasteboard::~LinuxPasteboard() {
  g_signal_handler_disconnect(clipboard_, ownerChangeHandler_);
  // GTK keeps serving the offer after we are gone; it only must not call back into us.
  if (offer_) offer_->owner = nullptr;
}

void LinuxPasteboard::onOwnerChange(GtkClipboard*, GdkEventOwnerChange* event, void* self) {
  auto* pb = static_cast<LinuxPasteboard*>(self);
  // Our own write, already counted when it was made.
  if (event->owner && gdk_window_get_window_type(event->owner) != GDK_WINDOW_FOREIGN) return;
  if (!event->owner && event->reason == GDK_OWNER_CHANGE_NEW_OWNER && pb->expectedOwnReleases_ > 0) {
    --pb->expectedOwnReleases_;  // our own clear
    return;
  }
  pb->foreignChanged();
}

void LinuxPasteboard::released(GtkClipboard*, void* p) {
  auto* offer = static_cast<Offer*>(p);
  if (LinuxPasteboard* pb = offer->owner; pb && pb->offer_ == offer) {
    // Another client took the selection over.
    pb->offer_ = nullptr;
    if (!pb->haveXfixes_)
      pb->foreignChanged();
    else
      pb->ownLost();
  }
  delete offer;
}

void LinuxPasteboard::serve(GtkClipboard*, GtkSelectionData* d, unsigned info, void* p) {
  auto* offer = static_cast<Offer*>(p);
  GdkAtom target = gtk_selection_data_get_target(d);
  if (info < offer->raw.size()) {
    const std::string& bytes = offer->raw[info].second;
    gtk_selection_data_set(d, target, 8, reinterpret_cast<const guchar*>(bytes.data()),
                           static_cast<gint>(bytes.size()));
  } else if (offer->text && (info == kTextAsIs || info == kTextConverted)) {
    LinuxPasteboard* owner = offer->owner && offer->owner->offer_ == offer ? offer->owner : nullptr;
    g_autofree gchar* type = gdk_atom_name(target);
    if (owner && owner->refusesCopy(type)) return;
    if (info == kTextAsIs)
      gtk_selection_data_set(d, target, 8, reinterpret_cast<const guchar*>(offer->text->data()),
                             static_cast<gint>(offer->text->size()));
    else
      gtk_selection_data_set_text(d, offer->text->c_str(), static_cast<gint>(offer->text->size()));
    if (owner) owner->textRead();
  }
}

std::shared_ptr<LinuxPasteboard::ForeignCache> LinuxPasteboard::foreign() {
  if (!cache_ || cache_->count != changeCount()) {
    cache_ = std::make_shared<ForeignCache>();
    cache_->count = changeCount();
  }
  auto c = cache_;
  if (!c->targetsRead) {
    bool cut = false;
    auto r = request(clipboard_, "TARGETS", Want::targets, c->stuck, deadline_, cut);
    if (r) c->targets = std::move(r->targets);
    c->targetsRead = !cut;
    cut_ |= cut;
  }
  return c;
}

std::optional<std::string> LinuxPasteboard::foreignText(ForeignCache& c) {
  if (c.text) return *c.text;
  c.text.emplace();
  std::vector<std::string> tries;
  for (const char* t : kTextTargets)
    if (std::find(c.targets.begin(), c.targets.end(), t) != c.targets.end()) tries.emplace_back(t);
  // An owner that cannot list its targets may still answer the usual ones.
  if (c.targets.empty()) tries = {kUtf8String, "STRING"};
  bool cut = false;
  for (const auto& t : tries) {
    if (c.stuck || cut) break;
    auto r = request(clipboard_, t, Want::text, c.stuck, deadline_, cut);
    if (r && r->text) {
      *c.text = std::move(r->text);
      break;
    }
  }
  auto text = *c.text;
  if (cut && !text) c.text.reset();  // not known yet: a later question reads again
  cut_ |= cut;
  return text;
}

bool LinuxPasteboard::foreignConcealed(ForeignCache& c) {
  if (c.concealed) return *c.concealed;
  c.concealed = false;
  if (std::find(c.targets.begin(), c.targets.end(), kHintTarget) != c.targets.end() && !c.stuck) {
    bool cut = false;
    if (auto r = request(clipboard_, kHintTarget, Want::data, c.stuck, deadline_, cut))
      c.concealed = r->bytes == kHintSecret;
    if (cut) {
      // Not known yet: taken as concealed, so that a secret is never handed on without its hint.
      c.concealed.reset();
      cut_ = true;
      return true;
    }
  }
  return *c.concealed;
}

std::vector<PasteboardItem> LinuxPasteboard::foreignItems() {
  // Typing waits for this snapshot: whatever the owner answers within kSnapshotTime is kept.
  deadline_ = std::chrono::steady_clock::now() + kSnapshotTime;
  cut_ = false;
  const auto cache = foreign();
  ForeignCache& c = *cache;
  PasteboardItem item;
  std::size_t total = 0;
  if (auto text = foreignText(c)) {
    total += text->size();
    item.entries.emplace_back(PasteboardType::plainText, std::move(*text));
  }
  if (foreignConcealed(c)) item.entries.emplace_back(PasteboardType::concealed, "");
  for (const auto& t : c.targets) {
    if (!isDataTarget(t) || c.stuck || cut_) continue;
    auto r = request(clipboard_, t, Want::data, c.stuck, deadline_, cut_);
    // An entry that would take the whole past kMaxSnapshotBytes is left out; the rest is kept.
    if (!r || r->format != 8 || r->bytes.size() > kMaxSnapshotBytes - std::min(total, kMaxSnapshotBytes))
      continue;
    total += r->bytes.size();
    item.entries.emplace_back(t, std::move(r->bytes));
  }
  deadline_.reset();
  if (item.entries.empty()) return {};
  return {std::move(item)};
}

std::vector<std::string> LinuxPasteboard::foreignTypeNames() {
  const auto cache = foreign();
  ForeignCache& c = *cache;
  std::vector<std::string> data;
  std::copy_if(c.targets.begin(), c.targets.end(), std::back_inserter(data),
               [](const std::string& t) { return isDataTarget(t); });
  return foreignTypes(
      std::any_of(data.begin(), data.end(), [](const std::string& t) { return isTextTarget(t); }),
      foreignConcealed(c), data);
}

std::optional<std::string> LinuxPasteboard::foreignString() {
  const auto cache = foreign();
  return foreignText(*cache);
}

void LinuxPasteboard::releaseSelection() {
  GdkDisplay* display = gtk_clipboard_get_display(clipboard_);
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  if (XGetSelectionOwner(x, gdk_x11_get_xatom_by_name_for_display(display, "CLIPBOARD")) == None) return;
  ++expectedOwnReleases_;
  if (offer_) {
    offer_ = nullptr;  // not a loss to another client
    gtk_clipboard_clear(clipboard_);
  } else {
    gdk_selection_owner_set_for_display(display, nullptr, GDK_SELECTION_CLIPBOARD, GDK_CURRENT_TIME, TRUE);
  }
}

bool LinuxPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
  auto offer = std::make_unique<Offer>();
  offer->owner = this;
  bool hint = false;
  for (const auto& item : items)
    for (const auto& [type, data] : item.entries) {
      if (type == PasteboardType::plainText) {
        if (!offer->text) offer->text = data;
      } else if (type == PasteboardType::concealed || type == PasteboardType::transient) {
        hint = true;
      } else if (std::none_of(offer->raw.begin(), offer->raw.end(),
                              [&](const auto& r) { return r.first == type; })) {
        offer->raw.emplace_back(type, data);
      }
    }
  auto offered = [&](const char* t) {
    return std::any_of(offer->raw.begin(), offer->raw.end(), [&](const auto& r) { return r.first == t; });
  };
  if (hint && !offered(kHintTarget)) offer->raw.emplace_back(kHintTarget, kHintSecret);
  offer->sensitive = hint || offered(kHintTarget);

  std::vector<GtkTargetEntry> targets;
  for (std::size_t i = 0; i < offer->raw.size(); ++i)
    targets.push_back({const_cast<gchar*>(offer->raw[i].first.c_str()), 0, static_cast<guint>(i)});
  if (offer->text) {
    for (const char* t : {kUtf8String, kUtf8Plain})
      if (!offered(t)) targets.push_back({const_cast<gchar*>(t), 0, kTextAsIs});
    for (const char* t : {"STRING", "TEXT"})
      if (!offered(t)) targets.push_back({const_cast<gchar*>(t), 0, kTextConverted});
  }

  cancelRelease();
  Offer* previous = offer_;
  offer_ = nullptr;  // its release, which GTK calls now, is a replacement, not a loss
  if (!gtk_clipboard_set_with_data(clipboard_, targets.data(), static_cast<guint>(targets.size()), serve,
                                   released, offer.get())) {
    offer_ = previous;
    return false;
  }
  offer_ = offer.release();
  if (!offer_->sensitive) gtk_clipboard_set_can_store(clipboard_, nullptr, 0);
  becameOwn(afterWrite(items), true);
  return true;
}

void LinuxPasteboard::storeForManager() {
  if (state() != State::own || !offer_ || offer_->sensitive) return;
  GdkDisplay* display = gtk_clipboard_get_display(clipboard_);
  // Without a manager GTK would wait for one in vain.
  if (XGetSelectionOwner(GDK_DISPLAY_XDISPLAY(display),
                         gdk_x11_get_xatom_by_name_for_display(display, "CLIPBOARD_MANAGER")) == None)
    return;
  gtk_clipboard_store(clipboard_);
}

}  // namespace quib
