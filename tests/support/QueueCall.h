#pragma once
// Runs f on a main queue that another thread turns, and waits for its result.
#include <future>
#include <utility>

#include "platform/MainQueue.h"

namespace quib::test {

template <typename F>
auto onQueue(MainQueue& queue, F&& f) -> decltype(f()) {
  std::packaged_task<decltype(f())()> task(std::forward<F>(f));
  auto result = task.get_future();
  queue.post([&task] { task(); });
  return result.get();
}

}  // namespace quib::test
