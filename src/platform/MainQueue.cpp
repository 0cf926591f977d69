#include "platform/MainQueue.h"

namespace quib {

struct MainQueueState {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<MainQueue::Task> ready;
  // Due time, then id, so that tasks due together run in the order they were posted.
  std::map<std::pair<Clock::TimePoint, std::uint64_t>, MainQueue::Task> timers;
  std::map<std::uint64_t, Clock::TimePoint> timerDue;
  std::uint64_t nextId = 1;
  bool stopped = false;
  bool sleeping = false;  // the runner waits on `wake`; only then does a post need to signal
  std::thread::id runner;
};

void MainQueue::TimerHandle::cancel() {
  auto q = queue_.lock();
  if (!q) return;
  MainQueue::Task dropped;  // destroyed outside the lock: it may own objects whose destructors post
  {
    std::lock_guard lock(q->mutex);
    auto it = q->timerDue.find(id_);
    if (it == q->timerDue.end()) return;
    auto t = q->timers.find({it->second, id_});
    dropped = std::move(t->second);
    q->timers.erase(t);
    q->timerDue.erase(it);
  }
}

MainQueue::MainQueue(Clock& clock) : clock_(clock), state_(std::make_shared<MainQueueState>()) {
  std::weak_ptr<MainQueueState> weak = state_;
  clock_.subscribe([weak] {
    if (auto s = weak.lock()) {
      std::lock_guard lock(s->mutex);
      s->wake.notify_all();
    }
  });
}

MainQueue::~MainQueue() = default;

void MainQueue::post(Task task) {
  std::lock_guard lock(state_->mutex);
  state_->ready.push_back(std::move(task));
  if (state_->sleeping) state_->wake.notify_one();
}

MainQueue::TimerHandle MainQueue::postAfter(Clock::Duration delay, Task task) {
  std::lock_guard lock(state_->mutex);
  std::uint64_t id = state_->nextId++;
  auto due = clock_.now() + delay;
  state_->timers.emplace(std::make_pair(due, id), std::move(task));
  state_->timerDue.emplace(id, due);
  state_->wake.notify_one();
  return TimerHandle(state_, id);
}

namespace {
// Moves due timers to the ready list. Caller holds the lock.
void promoteDue(MainQueueState& s, Clock::TimePoint now) {
  while (!s.timers.empty() && s.timers.begin()->first.first <= now) {
    auto node = s.timers.extract(s.timers.begin());
    s.timerDue.erase(node.key().second);
    s.ready.push_back(std::move(node.mapped()));
  }
}
}  // namespace

std::size_t MainQueue::runUntilIdle() {
  std::size_t ran = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard lock(state_->mutex);
      state_->runner = std::this_thread::get_id();
      promoteDue(*state_, clock_.now());
      if (state_->ready.empty()) return ran;
      task = std::move(state_->ready.front());
      state_->ready.pop_front();
    }
    task();
    ++ran;
  }
}

void MainQueue::run() {
  std::unique_lock lock(state_->mutex);
  state_->runner = std::this_thread::get_id();
  while (!state_->stopped) {
    promoteDue(*state_, clock_.now());
    if (!state_->ready.empty()) {
      // Run everything that is ready in one turn of the lock, in order.
      std::deque<Task> batch;
      batch.swap(state_->ready);
      lock.unlock();
      for (auto& t : batch) {
        t();
        t = nullptr;
      }
      lock.lock();
      continue;
    }
    if (idleHook_) {
      lock.unlock();
      idleHook_();
      lock.lock();
      promoteDue(*state_, clock_.now());
      if (!state_->ready.empty() || state_->stopped) continue;
    }
    state_->sleeping = true;
    if (state_->timers.empty() || clock_.isManual()) {
      state_->wake.wait(lock);
    } else {
      auto wait = state_->timers.begin()->first.first - clock_.now();
      state_->wake.wait_for(lock, wait);
    }
    state_->sleeping = false;
  }
  state_->stopped = false;
}

void MainQueue::stop() {
  std::lock_guard lock(state_->mutex);
  state_->stopped = true;
  state_->wake.notify_all();
}

bool MainQueue::isMainThread() const {
  std::lock_guard lock(state_->mutex);
  return state_->runner == std::this_thread::get_id();
}

}  // namespace quib
