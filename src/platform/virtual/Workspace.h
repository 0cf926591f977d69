#pragma once
// The virtual desktop's address opening: every address is accepted and recorded. Thread-safe.
#include <mutex>
#include <vector>

#include "platform/Workspace.h"
#include "platform/virtual/EffectLog.h"

namespace quib {

class VirtualWorkspace final : public Workspace {
 public:
  explicit VirtualWorkspace(EffectLog& log) : log_(log) {}

  bool openURL(const std::string& url) override {
    {
      std::lock_guard lock(mutex_);
      opened_.push_back(url);
    }
    log_.emit("open " + url);
    return true;
  }
  std::vector<std::string> openedURLs() {
    std::lock_guard lock(mutex_);
    return opened_;
  }

 private:
  EffectLog& log_;
  std::mutex mutex_;  // guards opened_
  std::vector<std::string> opened_;
};

}  // namespace quib
