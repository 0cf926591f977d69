#pragma once
// Keeps the recent clipboard texts, newest first: a one-second poll on the main queue records each
// new plain-text content (not concealed or transient ones), cut to 20,000 characters, without
// duplicates, at most 30. tick() and start() run on the main thread; history() may be read from
// any thread and returns a consistent copy.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/Pasteboard.h"

namespace quib {

class ClipboardWatcher {
 public:
  static constexpr std::size_t kMaxItems = 30;
  static constexpr std::size_t kMaxLength = 20000;
  static constexpr std::chrono::seconds kInterval{1};

  // Whatever is on the clipboard now is not recorded; only later changes are.
  ClipboardWatcher(Pasteboard& pasteboard, MainQueue& mainQueue);
  ~ClipboardWatcher();

  void start();
  void tick();
  std::vector<std::string> history() const;

 private:
  void schedule();

  Pasteboard& pasteboard_;
  MainQueue& mainQueue_;
  MainQueue::TimerHandle timer_;
  bool started_ = false;
  std::int64_t lastChangeCount_;
  mutable std::mutex historyMutex_;  // history_ is written on the main thread, read by the server queue
  std::vector<std::string> history_;
};

}  // namespace quib
