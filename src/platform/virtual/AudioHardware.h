#pragma once
// The virtual desktop's sound devices, as a test (or nobody) sets them. Thread-safe.
#include <mutex>
#include <vector>

#include "platform/AudioHardware.h"
#include "platform/virtual/EffectLog.h"

namespace quib {

class VirtualAudioHardware final : public AudioHardware {
 public:
  struct AudioDevice {
    std::uint32_t id = 0;
    std::optional<std::string> name;                          // none: the name cannot be read
    std::optional<std::vector<std::uint32_t>> outputBuffers;  // none: the configuration cannot be read
  };

  explicit VirtualAudioHardware(EffectLog& log) : log_(log) {}

  std::optional<std::vector<std::uint32_t>> deviceIds() override;
  std::optional<std::uint32_t> defaultOutputDevice() override;
  std::optional<std::vector<std::uint32_t>> outputChannelsPerBuffer(std::uint32_t device) override;
  std::optional<std::string> deviceName(std::uint32_t device) override;
  bool setDefaultOutputDevice(std::uint32_t device) override;
  void setOnChange(std::function<void()> onChange) override;

  // Replaces the devices, as plugging or unplugging would; tells the change callback.
  void setAudioDevices(std::vector<AudioDevice> devices, std::optional<std::uint32_t> defaultOutput);

 private:
  EffectLog& log_;
  std::mutex mutex_;  // guards the members below
  std::vector<AudioDevice> devices_;
  std::optional<std::uint32_t> defaultOutput_;
  std::function<void()> onChange_;
};

}  // namespace quib
