#include "platform/virtual/HostInfo.h"

#include <unistd.h>

namespace quib {

VirtualHostInfo::VirtualHostInfo() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') name_ = name;
}

std::optional<std::string> VirtualHostInfo::localizedHostName() {
  std::lock_guard lock(mutex_);
  return name_;
}

void VirtualHostInfo::setHostName(std::optional<std::string> name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

}  // namespace quib
