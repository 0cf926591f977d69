#pragma once
// The main queue: a serial queue of work run by one thread, the program's main thread, which calls
// run(). The queue is a source on a GLib main context, so the desktop libraries that dispatch on
// that context (GIO, GTK, PulseAudio's GLib loop, D-Bus) run on the same thread, between tasks.
// post() and postAfter() may be called from any thread. Delayed work follows the queue's Clock;
// with a ManualClock, tests move time and the due work runs without sleeping.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Clock.h"

typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;

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

  // With no context the queue makes a private one (tests run several queues side by side); the
  // program passes the default context, the one GTK and GDK dispatch on.
  explicit MainQueue(Clock& clock = SteadyClock::instance(), GMainContext* context = nullptr);
  ~MainQueue();
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  void post(Task task);
  TimerHandle postAfter(Clock::Duration delay, Task task);

  // Runs the context until stop(); the calling thread becomes the main thread. A stop() that came
  // before run() makes it return at once.
  void run();
  void stop();
  // Runs what is due now on the calling thread and returns how many tasks ran. For single-threaded
  // tests; the context's other sources are not dispatched.
  std::size_t runUntilIdle();
  bool isMainThread() const;
  // Called on the main thread each time run() has done all ready work and is about to wait.
  void setIdleHook(Task hook);
  Clock& clock() const { return clock_; }
  GMainContext* context() const { return context_; }

 private:
  Clock& clock_;
  GMainContext* context_;
  std::shared_ptr<struct MainQueueState> state_;
  GSource* source_ = nullptr;
};

}  // namespace quib
