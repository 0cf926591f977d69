#pragma once
// The computer's name as the user knows it. Safe on any thread.
#include <optional>
#include <string>

namespace quib {

class HostInfo {
 public:
  virtual ~HostInfo() = default;
  // None when the system gives no name.
  virtual std::optional<std::string> localizedHostName() = 0;
};

}  // namespace quib
