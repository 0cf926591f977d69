#include "platform/linux/AudioHardware.h"

#include <glib.h>

#include <algorithm>

#include "platform/linux/MainContextWait.h"

namespace quib {

namespace {

constexpr std::chrono::milliseconds kAnswerLimit{1000};
constexpr int kMaxReconnectDelayMs = 10000;
// 5 % of full volume, rounded.
constexpr pa_volume_t kVolumeStep = (PA_VOLUME_NORM + 10) / 20;

// Operations whose answer nobody waits for; none when the context is already gone.
void release(pa_operation* op) {
  if (op) pa_operation_unref(op);
}

// A change the next one must follow, not overtake: PipeWire's pulse server was seen to apply a mute
// sent right before a volume after it. Waits for the server's answer, bounded, dispatching the main
// context meanwhile; false when it failed or did not come.
bool await(pa_operation* op) {
  if (!op) return false;
  const bool done = linuxdesktop::iterateMainContextUntil(
      [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, std::chrono::milliseconds(1000));
  const bool ok = done && pa_operation_get_state(op) == PA_OPERATION_DONE;
  if (!done) pa_operation_cancel(op);
  pa_operation_unref(op);
  return ok;
}

}  // namespace

LinuxAudioHardware::LinuxAudioHardware(std::optional<std::string> server,
                                       std::chrono::milliseconds firstStateLimit)
    : server_(std::move(server)), loop_(pa_glib_mainloop_new(nullptr)) {
  connect();
  linuxdesktop::iterateMainContextUntil([this] { return ready_ || !context_ || reconnectSource_; },
                                        firstStateLimit);
}

LinuxAudioHardware::~LinuxAudioHardware() {
  if (reconnectSource_) g_source_remove(reconnectSource_);
  if (notifySource_) g_source_remove(notifySource_);
  disconnect();
  pa_glib_mainloop_free(loop_);
}

void LinuxAudioHardware::connect() {
  context_ = pa_context_new(pa_glib_mainloop_get_api(loop_), "Quibbleton");
  if (!context_) {
    scheduleReconnect();
    return;
  }
  pa_context_set_state_callback(context_, onState, this);
  pa_context_set_subscribe_callback(context_, onEvent, this);
  if (pa_context_connect(context_, server_ ? server_->c_str() : nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    scheduleReconnect();
}

void LinuxAudioHardware::disconnect() {
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

void LinuxAudioHardware::scheduleReconnect() {
  if (reconnectSource_) return;
  reconnectSource_ = g_timeout_add(
      static_cast<guint>(reconnectDelayMs_),
      [](gpointer p) {
        auto* self = static_cast<LinuxAudioHardware*>(p);
        self->reconnectSource_ = 0;
        self->disconnect();
        self->connect();
        return G_SOURCE_REMOVE;
      },
      this);
  reconnectDelayMs_ = std::min(reconnectDelayMs_ * 2, kMaxReconnectDelayMs);
}

void LinuxAudioHardware::onState(pa_context* c, void* p) {
  auto* self = static_cast<LinuxAudioHardware*>(p);
  switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
      self->reconnectDelayMs_ = 500;
      release(pa_context_subscribe(
          c, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
          nullptr, nullptr));
      self->fullRead();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      const bool had = self->ready_;
      self->ready_ = false;
      self->sinks_.clear();
      self->defaultSinkName_.reset();
      if (had) self->markChanged();
      // The context cannot be used again; a new one is made after a pause.
      self->scheduleReconnect();
      break;
    }
    default:
      break;
  }
}

void LinuxAudioHardware::fullRead() {
  pendingReads_ = 2;
  listing_.clear();
  release(pa_context_get_server_info(
      context_,
      [](pa_context* c, const pa_server_info* info, void* p) {
        auto* self = static_cast<LinuxAudioHardware*>(p);
        onServer(c, info, p);
        if (--self->pendingReads_ == 0) self->completeFirstRead();
      },
      this));
  release(pa_context_get_sink_info_list(
      context_,
      [](pa_context*, const pa_sink_info* info, int eol, void* p) {
        auto* self = static_cast<LinuxAudioHardware*>(p);
        if (eol == 0 && info) {
          self->listing_.push_back(sinkOf(*info));
          return;
        }
        std::sort(self->listing_.begin(), self->listing_.end(),
                  [](const Sink& a, const Sink& b) { return a.index < b.index; });
        self->sinks_ = std::move(self->listing_);
        self->listing_.clear();
        if (--self->pendingReads_ == 0) self->completeFirstRead();
      },
      this));
}

void LinuxAudioHardware::completeFirstRead() {
  ready_ = true;
  markChanged();
}

LinuxAudioHardware::Sink LinuxAudioHardware::sinkOf(const pa_sink_info& info) {
  Sink s;
  s.index = info.index;
  s.name = info.name ? info.name : "";
  s.description = info.description && *info.description ? info.description : s.name;
  s.channels = info.channel_map.channels;
  s.volume.assign(info.volume.values, info.volume.values + info.volume.channels);
  s.muted = info.mute != 0;
  return s;
}

void LinuxAudioHardware::onEvent(pa_context* c, pa_subscription_event_type_t t, std::uint32_t index,
                                 void* p) {
  auto* self = static_cast<LinuxAudioHardware*>(p);
  const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto type = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
    release(pa_context_get_server_info(c, onServer, p));
  } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
    if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
      auto& sinks = self->sinks_;
      auto it = std::find_if(sinks.begin(), sinks.end(), [&](const Sink& s) { return s.index == index; });
      if (it != sinks.end()) {
        sinks.erase(it);
        if (self->ready_) self->markChanged();
      }
    } else {
      release(pa_context_get_sink_info_by_index(c, index, onSink, p));
    }
  }
}

void LinuxAudioHardware::onSink(pa_context*, const pa_sink_info* info, int eol, void* p) {
  if (eol != 0 || !info) return;  // the end, or the sink went away meanwhile (its removal follows)
  auto* self = static_cast<LinuxAudioHardware*>(p);
  Sink s = sinkOf(*info);
  auto& sinks = self->sinks_;
  auto it = std::lower_bound(sinks.begin(), sinks.end(), s.index,
                             [](const Sink& a, std::uint32_t i) { return a.index < i; });
  bool changed = true;
  if (it != sinks.end() && it->index == s.index) {
    changed = !it->sameForMenu(s);
    *it = std::move(s);
  } else {
    sinks.insert(it, std::move(s));
  }
  if (changed && self->ready_) self->markChanged();
}

void LinuxAudioHardware::onServer(pa_context*, const pa_server_info* info, void* p) {
  if (!info) return;
  auto* self = static_cast<LinuxAudioHardware*>(p);
  std::optional<std::string> name;
  if (info->default_sink_name && *info->default_sink_name) name = info->default_sink_name;
  if (name == self->defaultSinkName_) return;
  self->defaultSinkName_ = std::move(name);
  if (self->ready_) self->markChanged();
}

void LinuxAudioHardware::markChanged() {
  if (notifySource_) return;
  // From an idle callback, so one burst of events is one call and the callback never runs inside
  // a libpulse callback.
  notifySource_ = g_idle_add(
      [](gpointer p) {
        auto* self = static_cast<LinuxAudioHardware*>(p);
        self->notifySource_ = 0;
        if (self->onChange_) self->onChange_();
        return G_SOURCE_REMOVE;
      },
      this);
}

LinuxAudioHardware::Sink* LinuxAudioHardware::find(std::uint32_t index) {
  for (auto& s : sinks_)
    if (s.index == index) return &s;
  return nullptr;
}

LinuxAudioHardware::Sink* LinuxAudioHardware::defaultSink() {
  if (!ready_ || !defaultSinkName_) return nullptr;
  for (auto& s : sinks_)
    if (s.name == *defaultSinkName_) return &s;
  return nullptr;
}

std::optional<std::vector<std::uint32_t>> LinuxAudioHardware::deviceIds() {
  if (!ready_) return std::nullopt;
  std::vector<std::uint32_t> ids;
  for (const auto& s : sinks_) ids.push_back(s.index);
  return ids;
}

std::optional<std::uint32_t> LinuxAudioHardware::defaultOutputDevice() {
  if (const Sink* s = defaultSink()) return s->index;
  return std::nullopt;
}

std::optional<std::vector<std::uint32_t>> LinuxAudioHardware::outputChannelsPerBuffer(std::uint32_t device) {
  if (!ready_) return std::nullopt;
  if (const Sink* s = find(device)) return std::vector<std::uint32_t>{s->channels};
  return std::nullopt;
}

std::optional<std::string> LinuxAudioHardware::deviceName(std::uint32_t device) {
  if (!ready_) return std::nullopt;
  if (const Sink* s = find(device)) return s->description;
  return std::nullopt;
}

bool LinuxAudioHardware::setDefaultOutputDevice(std::uint32_t device) {
  const Sink* s = ready_ ? find(device) : nullptr;
  if (!s) return false;
  const std::string name = s->name;
  int success = 0;
  pa_operation* op = pa_context_set_default_sink(
      context_, name.c_str(), [](pa_context*, int ok, void* p) { *static_cast<int*>(p) = ok; }, &success);
  if (!op) return false;
  const bool answered = linuxdesktop::iterateMainContextUntil(
      [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, kAnswerLimit);
  // A late answer must not write into this frame.
  if (!answered) pa_operation_cancel(op);
  pa_operation_unref(op);
  if (!answered || !success || !context_ || !ready_) return false;

  // The server's own event confirms this later; reads right after the switch already see it.
  if (defaultSinkName_ != name) {
    defaultSinkName_ = name;
    markChanged();
  }
  moveTarget_ = device;
  release(pa_context_get_sink_input_info_list(
      context_,
      [](pa_context* c, const pa_sink_input_info* input, int eol, void* p) {
        if (eol != 0 || !input) return;
        auto* self = static_cast<LinuxAudioHardware*>(p);
        if (input->sink != self->moveTarget_)
          if (pa_operation* move =
                  pa_context_move_sink_input_by_index(c, input->index, self->moveTarget_, nullptr, nullptr))
            pa_operation_unref(move);
      },
      this));
  return true;
}

void LinuxAudioHardware::mediaKey(int key) {
  Sink* s = defaultSink();
  if (!s || !context_) return;
  // The waits below dispatch the server's events, which may change or drop the sink: nothing of
  // it is touched after the first wait but its index.
  const std::uint32_t index = s->index;
  if (key == kMuteToggle) {
    s->muted = !s->muted;
    await(pa_context_set_sink_mute_by_index(context_, index, s->muted, nullptr, nullptr));
    return;
  }
  if (key != kVolumeUp && key != kVolumeDown) return;
  pa_cvolume v;
  pa_cvolume_init(&v);
  v.channels = static_cast<std::uint8_t>(std::min<std::size_t>(s->volume.size(), PA_CHANNELS_MAX));
  std::copy_n(s->volume.begin(), v.channels, v.values);
  if (!pa_cvolume_valid(&v)) return;
  if (key == kVolumeUp) {
    // A volume the user raised above 100 % elsewhere is left as it is.
    if (pa_cvolume_max(&v) < PA_VOLUME_NORM) pa_cvolume_inc_clamp(&v, kVolumeStep, PA_VOLUME_NORM);
  } else {
    pa_cvolume_dec(&v, kVolumeStep);
  }
  // Kept at once, so a quick second press steps from here rather than from the old volume.
  s->volume.assign(v.values, v.values + v.channels);
  if (key == kVolumeUp) {
    // Unmuted whatever the mute we hold says: under PipeWire it was seen to lag the server's right
    // after a quick toggle, and the press then left the output muted.
    s->muted = false;
    if (!await(pa_context_set_sink_mute_by_index(context_, index, 0, nullptr, nullptr))) return;
  }
  await(pa_context_set_sink_volume_by_index(context_, index, &v, nullptr, nullptr));
}

}  // namespace quib
