#include "platform/wayland/Pasteboard.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <string_view>

#include "platform/linux/SelectionTypes.h"
#include "platform/wayland/PipeTransfer.h"
#include "platform/wayland/PipeWrite.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quib {

namespace {

// What one foreign offer may announce: a peer must not grow our memory without end.
constexpr std::size_t kMaxTypes = 128;
constexpr std::size_t kMaxTypeLength = 256;

bool isTextType(std::string_view t) {
  return std::find(kSelectionTextTypes.begin(), kSelectionTextTypes.end(), t) != kSelectionTextTypes.end();
}

}  // namespace

// An offer the compositor announced, with the types it listed.
struct WaylandPasteboard::Offer {
  zwlr_data_control_offer_v1* offer = nullptr;
  std::vector<std::string> types;
  ~Offer() { zwlr_data_control_offer_v1_destroy(offer); }
  bool has(std::string_view t) const { return std::find(types.begin(), types.end(), t) != types.end(); }
};

// What we offer while the selection is ours.
struct WaylandPasteboard::Source {
  WaylandPasteboard* owner = nullptr;
  zwlr_data_control_source_v1* source = nullptr;
  std::string marker;
  std::vector<PasteboardItem> items;
  std::vector<std::pair<std::string, std::string>> data;  // type, bytes; the first of a type wins
  ~Source() { zwlr_data_control_source_v1_destroy(source); }
};

// What another client's contents looked like at one change count, read as far as asked.
struct WaylandPasteboard::ForeignCache {
  std::int64_t count = 0;
  bool stuck = false;
  std::vector<std::string> types;
  std::optional<std::optional<std::string>> text;
  std::optional<bool> concealed;
};

// A new foreign offer's hint and text being read, the types in the order they are tried.
struct WaylandPasteboard::Prefetch {
  std::shared_ptr<ForeignCache> cache;
  zwlr_data_control_offer_v1* offer = nullptr;
  std::vector<std::string> steps;
  std::size_t next = 0;
  std::chrono::steady_clock::time_point deadline;
  std::unique_ptr<PipeRead> read;
};

namespace {

const zwlr_data_control_offer_v1_listener kOfferListener = {
    .offer =
        [](void* data, zwlr_data_control_offer_v1*, const char* type) {
          auto* o = static_cast<WaylandPasteboard::Offer*>(data);
          if (o->types.size() < kMaxTypes && std::string_view(type).size() <= kMaxTypeLength)
            o->types.push_back(type);
        },
};

const zwlr_data_control_source_v1_listener kSourceListener = {
    .send =
        [](void* data, zwlr_data_control_source_v1*, const char* type, int32_t fd) {
          auto* s = static_cast<WaylandPasteboard::Source*>(data);
          for (const auto& [t, bytes] : s->data)
            if (t == type && !s->owner->refusesCopyOf(s, t)) {
              writeToPipe(fd, bytes, s->owner->sentNotice(s, t));
              return;
            }
          ::close(fd);
        },
    .cancelled =
        [](void* data, zwlr_data_control_source_v1*) {
          auto* s = static_cast<WaylandPasteboard::Source*>(data);
          s->owner->onCancelled(s);
        },
};

}  // namespace

bool WaylandPasteboard::available(const WaylandConnection& c) {
  return c.seat() && c.has(zwlr_data_control_manager_v1_interface.name);
}

WaylandPasteboard::WaylandPasteboard(WaylandConnection& connection)
    : connection_(connection), marker_("application/x-quibbleton-offer-" + std::to_string(getpid()) + "-") {
  static const zwlr_data_control_device_v1_listener listener = {
      .data_offer =
          [](void* self, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* id) {
            auto* pb = static_cast<WaylandPasteboard*>(self);
            auto o = std::make_unique<Offer>();
            o->offer = id;
            zwlr_data_control_offer_v1_add_listener(id, &kOfferListener, o.get());
            pb->offers_.push_back(std::move(o));
          },
      .selection =
          [](void* self, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* id) {
            static_cast<WaylandPasteboard*>(self)->onSelection(id);
          },
      .finished = [](void* self,
                     zwlr_data_control_device_v1*) { static_cast<WaylandPasteboard*>(self)->onFinished(); },
      .primary_selection =
          [](void* self, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* id) {
            // Only the clipboard is ours to follow; the primary selection's offer is let go.
            auto* pb = static_cast<WaylandPasteboard*>(self);
            std::erase_if(pb->offers_, [&](const std::unique_ptr<Offer>& o) {
              return o->offer == id && o.get() != pb->selection_;
            });
          },
  };
  manager_ =
      static_cast<zwlr_data_control_manager_v1*>(connection.bind(&zwlr_data_control_manager_v1_interface, 2));
  if (!manager_ || !connection.seat()) return;
  device_ = zwlr_data_control_manager_v1_get_data_device(manager_, connection.seat());
  zwlr_data_control_device_v1_add_listener(device_, &listener, this);
  // The current selection arrives now; it is where the count starts, not a change.
  connection.roundtrip();
  restartCount();
}

WaylandPasteboard::~WaylandPasteboard() {
  prefetch_.reset();
  source_.reset();
  offers_.clear();
  if (device_) zwlr_data_control_device_v1_destroy(device_);
  if (manager_) zwlr_data_control_manager_v1_destroy(manager_);
  connection_.flush();
}

void WaylandPasteboard::onSelection(zwlr_data_control_offer_v1* id) {
  Offer* now = nullptr;
  for (auto& o : offers_)
    if (o->offer == id) now = o.get();
  // Every earlier offer is replaced by this one.
  std::erase_if(offers_, [&](const std::unique_ptr<Offer>& o) { return o.get() != now; });
  selection_ = nullptr;
  prefetch_.reset();
  if (now) {
    auto ours = std::find_if(now->types.begin(), now->types.end(),
                             [&](const std::string& t) { return t.starts_with(marker_); });
    if (ours != now->types.end()) {
      // Our own write, counted when it was made. A foreign change seen in between was older.
      if (source_ && *ours == source_->marker && state() == State::foreign) becameOwn(source_->items, false);
      offers_.clear();
      return;
    }
    selection_ = now;
    // A clear of ours still pending must not wipe it while it is read.
    cancelRelease();
    prefetch(*now);
    return;
  } else if (expectedOwnClears_ > 0) {
    --expectedOwnClears_;
    return;
  }
  foreignChanged();
}

void WaylandPasteboard::onCancelled(Source* s) {
  if (s != source_.get()) return;
  // Another client took the selection; its selection event does the counting.
  source_.reset();
  ownLost();
}

std::function<void(bool)> WaylandPasteboard::sentNotice(Source* source, const std::string& type) {
  // A write for a source since replaced counts for nothing.
  if (source != source_.get()) return {};
  return readNotice(type);
}

void WaylandPasteboard::onFinished() {
  // The seat is gone: nothing more will arrive on this device.
  prefetch_.reset();
  offers_.clear();
  selection_ = nullptr;
  if (device_) zwlr_data_control_device_v1_destroy(device_);
  device_ = nullptr;
}

std::optional<std::string> WaylandPasteboard::read(const std::string& type, std::size_t limit, bool& stuck) {
  if (!selection_ || stuck) return std::nullopt;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  zwlr_data_control_offer_v1_receive(selection_->offer, type.c_str(), fds[1]);
  ::close(fds[1]);
  if (!connection_.flush()) {
    ::close(fds[0]);
    return std::nullopt;
  }
  return readPipeNow(fds[0], limit, kReadTimeout, stuck);
}

void WaylandPasteboard::prefetch(const Offer& offer) {
  auto p = std::make_unique<Prefetch>();
  p->cache = std::make_shared<ForeignCache>();
  p->cache->types = offer.types;
  p->cache->text.emplace();
  p->cache->concealed = false;
  p->offer = offer.offer;
  if (offer.has(kHintType)) p->steps.emplace_back(kHintType);
  for (const char* t : kSelectionTextTypes)
    if (offer.has(t)) p->steps.emplace_back(t);
  p->deadline = std::chrono::steady_clock::now() + kReadTimeout;
  prefetch_ = std::move(p);
  prefetchNext();
}

void WaylandPasteboard::prefetchNext() {
  Prefetch& p = *prefetch_;
  ForeignCache& c = *p.cache;
  int fds[2] = {-1, -1};
  if (c.stuck || c.text->has_value() || p.next >= p.steps.size() || pipe2(fds, O_CLOEXEC) != 0) {
    auto cache = std::move(p.cache);
    prefetch_.reset();
    foreignChanged();
    cache->count = changeCount();
    cache_ = std::move(cache);
    return;
  }
  const bool hint = p.steps[p.next] == kHintType;
  zwlr_data_control_offer_v1_receive(p.offer, p.steps[p.next++].c_str(), fds[1]);
  ::close(fds[1]);
  connection_.flush();
  p.read = std::make_unique<PipeRead>(
      fds[0], hint ? 64 : kMaxSnapshotBytes, p.deadline,
      [this, hint](std::optional<std::string> bytes, bool timedOut) {
        ForeignCache& c = *prefetch_->cache;
        c.stuck = timedOut;
        if (bytes && hint)
          c.concealed = *bytes == kHintSecret;
        else if (bytes && g_utf8_validate(bytes->data(), static_cast<gssize>(bytes->size()), nullptr))
          *c.text = std::move(*bytes);
        prefetchNext();
      });
}

std::shared_ptr<WaylandPasteboard::ForeignCache> WaylandPasteboard::foreign() {
  if (prefetch_ && (!cache_ || cache_->count != changeCount())) {
    // The previous contents, whose cache is gone, are not read while the next ones are.
    auto nothing = std::make_shared<ForeignCache>();
    nothing->stuck = true;
    nothing->text.emplace();
    nothing->concealed = false;
    return nothing;
  }
  if (!cache_ || cache_->count != changeCount()) {
    cache_ = std::make_shared<ForeignCache>();
    cache_->count = changeCount();
    if (selection_) cache_->types = selection_->types;
  }
  return cache_;
}

std::optional<std::string> WaylandPasteboard::foreignText(ForeignCache& c) {
  if (c.text) return *c.text;
  c.text.emplace();
  for (const char* t : kSelectionTextTypes) {
    if (std::find(c.types.begin(), c.types.end(), t) == c.types.end()) continue;
    auto bytes = read(t, kMaxSnapshotBytes, c.stuck);
    if (!bytes) continue;
    if (!g_utf8_validate(bytes->data(), static_cast<gssize>(bytes->size()), nullptr)) continue;
    *c.text = std::move(*bytes);
    break;
  }
  return *c.text;
}

bool WaylandPasteboard::foreignConcealed(ForeignCache& c) {
  if (c.concealed) return *c.concealed;
  c.concealed = false;
  if (std::find(c.types.begin(), c.types.end(), kHintType) != c.types.end())
    if (auto r = read(kHintType, 64, c.stuck)) c.concealed = *r == kHintSecret;
  return *c.concealed;
}

std::vector<PasteboardItem> WaylandPasteboard::foreignItems() {
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
  const std::vector<std::string> types = c.types;
  readForeignEntries(item, total, kMaxSnapshotBytes, types, c.stuck,
                     [&](const std::string& t, std::size_t limit) { return read(t, limit, c.stuck); });
  if (item.entries.empty()) return {};
  return {std::move(item)};
}

std::vector<std::string> WaylandPasteboard::foreignTypeNames() {
  const auto cache = foreign();
  ForeignCache& c = *cache;
  return foreignTypes(
      std::any_of(c.types.begin(), c.types.end(), [](const std::string& t) { return isTextType(t); }),
      foreignConcealed(c), c.types);
}

std::optional<std::string> WaylandPasteboard::foreignString() {
  const auto cache = foreign();
  return foreignText(*cache);
}

void WaylandPasteboard::releaseSelection() {
  if (!device_ || (!source_ && !selection_)) return;
  ++expectedOwnClears_;
  prefetch_.reset();
  zwlr_data_control_device_v1_set_selection(device_, nullptr);
  source_.reset();
  selection_ = nullptr;
  offers_.clear();
  connection_.flush();
}

bool WaylandPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
  if (!device_ || !manager_) return false;
  auto s = std::make_unique<Source>();
  s->owner = this;
  s->items = afterWrite(items);
  s->marker = marker_ + std::to_string(++serial_);
  s->data = selectionOffers(s->items, {kSelectionTextTypes.begin(), kSelectionTextTypes.end()}, kHintType,
                            kHintSecret);
  s->data.emplace_back(s->marker, "");

  s->source = zwlr_data_control_manager_v1_create_data_source(manager_);
  zwlr_data_control_source_v1_add_listener(s->source, &kSourceListener, s.get());
  for (const auto& [type, data] : s->data) zwlr_data_control_source_v1_offer(s->source, type.c_str());
  zwlr_data_control_device_v1_set_selection(device_, s->source);
  if (!connection_.flush()) return false;

  prefetch_.reset();
  becameOwn(s->items, true);
  source_ = std::move(s);  // the one it replaces is withdrawn with it
  selection_ = nullptr;
  return true;
}

}  // namespace quib
