#pragma once
// The audio hardware's property reads and the one write, each able to fail. Main thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quib {

class AudioHardware {
 public:
  virtual ~AudioHardware() = default;
  virtual std::optional<std::vector<std::uint32_t>> deviceIds() = 0;
  virtual std::optional<std::uint32_t> defaultOutputDevice() = 0;
  // Channel count of each output buffer; none when the configuration cannot be read.
  virtual std::optional<std::vector<std::uint32_t>> outputChannelsPerBuffer(std::uint32_t device) = 0;
  virtual std::optional<std::string> deviceName(std::uint32_t device) = 0;
  virtual bool setDefaultOutputDevice(std::uint32_t device) = 0;
  // Called on the main thread after the devices or the default output changed (headphones plugged,
  // another program switched). Backends that cannot tell never call it.
  virtual void setOnChange(std::function<void()> onChange) { (void)onChange; }
};

}  // namespace quib
