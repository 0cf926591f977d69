#include "platform/virtual/AudioHardware.h"

#include <algorithm>

namespace quib {

std::optional<std::vector<std::uint32_t>> VirtualAudioHardware::deviceIds() {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> ids;
  for (const auto& d : devices_) ids.push_back(d.id);
  return ids;
}

std::optional<std::uint32_t> VirtualAudioHardware::defaultOutputDevice() {
  std::lock_guard lock(mutex_);
  return defaultOutput_;
}

std::optional<std::vector<std::uint32_t>> VirtualAudioHardware::outputChannelsPerBuffer(std::uint32_t device) {
  std::lock_guard lock(mutex_);
  for (const auto& d : devices_)
    if (d.id == device) return d.outputBuffers;
  return std::nullopt;
}

std::optional<std::string> VirtualAudioHardware::deviceName(std::uint32_t device) {
  std::lock_guard lock(mutex_);
  for (const auto& d : devices_)
    if (d.id == device) return d.name;
  return std::nullopt;
}

bool VirtualAudioHardware::setDefaultOutputDevice(std::uint32_t device) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const AudioDevice& d) { return d.id == device; });
    if (it == devices_.end()) return false;
    defaultOutput_ = device;
    name = it->name.value_or("?");
  }
  log_.emit("audio output " + name);
  return true;
}

void VirtualAudioHardware::setOnChange(std::function<void()> onChange) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(onChange);
}

void VirtualAudioHardware::setAudioDevices(std::vector<AudioDevice> devices,
                                           std::optional<std::uint32_t> defaultOutput) {
  std::function<void()> onChange;
  {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
    defaultOutput_ = defaultOutput;
    onChange = onChange_;
  }
  if (onChange) onChange();
}

}  // namespace quib
