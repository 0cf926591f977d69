#include "platform/linux/ChildLimits.h"

namespace quib {

ChildLimits ChildLimits::raiseOwnDescriptorLimit() {
  ChildLimits started;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return started;
  started.openFiles = files.rlim_cur;
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  return started;
}

void applyChildLimits(void* data) {
  const auto* limits = static_cast<const ChildLimits*>(data);
  if (!limits || !limits->openFiles) return;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return;
  files.rlim_cur = *limits->openFiles < files.rlim_max ? *limits->openFiles : files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
}

}  // namespace quib
