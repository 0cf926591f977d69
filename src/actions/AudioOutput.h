#pragma once
// The devices that can play sound and the switch of the default output. Reads the hardware afresh
// on every call. Main thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioHardware.h"

namespace quib {

class AudioOutput {
 public:
  struct Device {
    std::uint32_t id = 0;
    std::string name;
    bool operator==(const Device&) const = default;
  };

  explicit AudioOutput(AudioHardware& hardware) : hw_(hardware) {}

  std::optional<std::string> name(std::uint32_t id) { return hw_.deviceName(id); }
  std::optional<Device> currentOutputDevice();
  // Devices with at least one output channel and a readable name, in the hardware's order.
  std::vector<Device> outputDevices();
  // The name of the device switched to; none when nothing could be switched to.
  std::optional<std::string> switchToNext();

 private:
  AudioHardware& hw_;
};

}  // namespace quib
