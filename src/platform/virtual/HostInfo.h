#pragma once
// The virtual desktop's name: this machine's host name unless a test sets another (or none).
// Thread-safe.
#include <mutex>

#include "platform/HostInfo.h"

namespace quib {

class VirtualHostInfo final : public HostInfo {
 public:
  VirtualHostInfo();
  std::optional<std::string> localizedHostName() override;
  void setHostName(std::optional<std::string> name);

 private:
  std::mutex mutex_;  // guards name_
  std::optional<std::string> name_;
};

}  // namespace quib
