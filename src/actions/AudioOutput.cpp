#include "actions/AudioOutput.h"

#include <algorithm>

namespace quib {

std::optional<AudioOutput::Device> AudioOutput::currentOutputDevice() {
  auto id = hw_.defaultOutputDevice();
  if (!id) return std::nullopt;
  auto n = name(*id);
  if (!n) return std::nullopt;
  return Device{*id, *n};
}

std::vector<AudioOutput::Device> AudioOutput::outputDevices() {
  std::vector<Device> out;
  auto ids = hw_.deviceIds();
  if (!ids) return out;
  for (auto id : *ids) {
    auto buffers = hw_.outputChannelsPerBuffer(id);
    if (!buffers || buffers->empty()) continue;
    if (std::none_of(buffers->begin(), buffers->end(), [](std::uint32_t c) { return c > 0; })) continue;
    auto n = name(id);
    if (!n) continue;
    out.push_back({id, *n});
  }
  return out;
}

std::optional<std::string> AudioOutput::switchToNext() {
  auto devices = outputDevices();
  if (devices.empty()) return std::nullopt;
  if (devices.size() == 1) return devices[0].name;
  std::size_t next = 0;
  if (auto current = currentOutputDevice()) {
    auto it =
        std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.id == current->id; });
    if (it != devices.end()) next = static_cast<std::size_t>(it - devices.begin()) + 1;
  }
  const Device& target = devices[next % devices.size()];
  if (!hw_.setDefaultOutputDevice(target.id)) return std::nullopt;
  return target.name;
}

}  // namespace quib
