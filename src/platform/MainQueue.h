#pragma once
// The main queue: a serial queue of work run by one thread, the program's main thread, which calls
// run(). post() and postAfter() may be called from any thread. Delayed work follows the queue's
// Clock; with a ManualClock, tests move time and the due work runs without sleeping.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Clock.h"

namespace quib {

class MainQueue {
 public:
  using Task = std::function<void()>;

  // Cancels its delayed task; cancelling work that already ran or was cancelled does nothing.
  class TimerHandle {
   public:
    TimerHandle() = default;
    void cancel();
    explicit operator bool() const { return !queue_.expired(); }

   private:
    friend class MainQueue;
    TimerHandle(std::weak_ptr<struct MainQueueState> q, std::uint64_t id) : queue_(std::move(q)), id_(id) {}
    std::weak_ptr<struct MainQueueState> queue_;
    std::uint64_t id_ = 0;
  };

  explicit MainQueue(Clock& clock = SteadyClock::instance());
  ~MainQueue();
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  void post(Task task);
  TimerHandle postAfter(Clock::Duration delay, Task task);

  // Runs work until stop(); the calling thread becomes the main thread.
  void run();
  void stop();
  // Runs what is due now on the calling thread and returns how many tasks ran. For single-threaded tests.
  std::size_t runUntilIdle();
  bool isMainThread() const;
  // Called on the main thread each time run() has done all ready work and is about to wait.
  void setIdleHook(Task hook) { idleHook_ = std::move(hook); }
  Clock& clock() const { return clock_; }

 private:
  Clock& clock_;
  std::shared_ptr<struct MainQueueState> state_;
  Task idleHook_;
};

}  // namespace quib
