#pragma once
// The sound server's outputs through libpulse (PulseAudio, or PipeWire's pulse server): the devices
// are the sinks (ids are sink indices, names their descriptions, one buffer with the channel map's
// channel count), the default output is the default sink.
//
// Main thread only. libpulse runs on the default GMainContext, which the program dispatches. The
// interface is synchronous, so reads answer from a mirror of the sinks and the default sink that the
// server's change events keep current; while the mirror is not complete (before the first full read,
// while disconnected) every read answers none. A lost server is reconnected to, with growing pauses.
#include <pulse/glib-mainloop.h>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioHardware.h"

namespace quib {

class LinuxAudioHardware final : public AudioHardware {
 public:
  static constexpr int kVolumeUp = 0;
  static constexpr int kVolumeDown = 1;
  static constexpr int kMuteToggle = 7;

  // Connects to `server` (none: the usual one, as PULSE_SERVER or the session says; never spawned)
  // and waits up to `firstStateLimit` for the sinks, iterating the default GMainContext.
  explicit LinuxAudioHardware(std::optional<std::string> server = std::nullopt,
                              std::chrono::milliseconds firstStateLimit = std::chrono::milliseconds(2000));
  ~LinuxAudioHardware() override;
  LinuxAudioHardware(const LinuxAudioHardware&) = delete;
  LinuxAudioHardware& operator=(const LinuxAudioHardware&) = delete;

  std::optional<std::vector<std::uint32_t>> deviceIds() override;
  std::optional<std::uint32_t> defaultOutputDevice() override;
  std::optional<std::vector<std::uint32_t>> outputChannelsPerBuffer(std::uint32_t device) override;
  std::optional<std::string> deviceName(std::uint32_t device) override;
  // Makes the sink the default (waiting up to a second for the server's answer) and moves the
  // streams that play elsewhere to it, as the desktop's sound settings do.
  bool setDefaultOutputDevice(std::uint32_t device) override;
  // Called from an idle callback after the sinks or the default sink changed (also on disconnect).
  void setOnChange(std::function<void()> onChange) override { onChange_ = std::move(onChange); }

  // The volume keys done by the sound server itself, for sessions without a media-key handler:
  // kVolumeUp/kVolumeDown step the default sink by 5 % (never above 100 %; up also unmutes),
  // kMuteToggle toggles its mute. Other keys and a missing default sink do nothing.
  void mediaKey(int key);

  // True once the mirror is complete and the server connected.
  bool ready() const { return ready_; }

 private:
  struct Sink {
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    std::uint32_t channels = 0;
    std::vector<std::uint32_t> volume;  // per channel
    bool muted = false;
    bool sameForMenu(const Sink& o) const {
      return index == o.index && name == o.name && description == o.description && channels == o.channels;
    }
  };

  void connect();
  void disconnect();
  void scheduleReconnect();
  void fullRead();
  void completeFirstRead();
  void markChanged();
  Sink* find(std::uint32_t index);
  Sink* defaultSink();

  static Sink sinkOf(const pa_sink_info& info);
  static void onState(pa_context* c, void* self);
  static void onEvent(pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* self);
  static void onSink(pa_context* c, const pa_sink_info* info, int eol, void* self);
  static void onServer(pa_context* c, const pa_server_info* info, void* self);

  std::optional<std::string> server_;
  pa_glib_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::vector<Sink> sinks_;    // by index
  std::vector<Sink> listing_;  // the full read in progress
  std::uint32_t moveTarget_ = 0;
  std::optional<std::string> defaultSinkName_;
  int pendingReads_ = 0;  // of the first full read after connecting
  bool ready_ = false;
  unsigned reconnectSource_ = 0;
  unsigned notifySource_ = 0;
  int reconnectDelayMs_ = 500;
  std::function<void()> onChange_;
};

}  // namespace quib
