#include "platform/MainQueue.h"

#include <glib.h>

#include <algorithm>

namespace quib {

struct MainQueueState {
  std::mutex mutex;  // guards every member below except idleHook (main thread only)
  std::deque<MainQueue::Task> ready;
  // Due time, then id, so that tasks due together run in the order they were posted.
  std::map<std::pair<Clock::TimePoint, std::uint64_t>, MainQueue::Task> timers;
  std::map<std::uint64_t, Clock::TimePoint> timerDue;
  std::uint64_t nextId = 1;
  bool stopRequested = false;
  std::thread::id runner;
  MainQueue::Task idleHook;
  Clock* clock = nullptr;
  GMainContext* context = nullptr;
};

namespace {

// Moves due timers to the ready list. Caller holds the lock.
void promoteDue(MainQueueState& s, Clock::TimePoint now) {
  while (!s.timers.empty() && s.timers.begin()->first.first <= now) {
    auto node = s.timers.extract(s.timers.begin());
    s.timerDue.erase(node.key().second);
    s.ready.push_back(std::move(node.mapped()));
  }
}

struct QueueSource {
  GSource base;
  MainQueueState* state;
};

gboolean prepare(GSource* source, gint* timeout) {
  MainQueueState& s = *reinterpret_cast<QueueSource*>(source)->state;
  std::lock_guard lock(s.mutex);
  promoteDue(s, s.clock->now());
  if (!s.ready.empty()) {
    *timeout = 0;
    return TRUE;
  }
  *timeout = -1;
  // A manual clock wakes the context itself when it moves.
  if (!s.timers.empty() && !s.clock->isManual()) {
    auto wait = s.timers.begin()->first.first - s.clock->now();
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    *timeout = static_cast<gint>(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000));
  }
  return FALSE;
}

gboolean check(GSource* source) {
  MainQueueState& s = *reinterpret_cast<QueueSource*>(source)->state;
  std::lock_guard lock(s.mutex);
  promoteDue(s, s.clock->now());
  return !s.ready.empty();
}

gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
  MainQueueState& s = *reinterpret_cast<QueueSource*>(source)->state;
  std::deque<MainQueue::Task> batch;
  {
    std::lock_guard lock(s.mutex);
    batch.swap(s.ready);
  }
  // Everything ready runs in one turn, in order; tasks posted meanwhile wait for the next turn,
  // so other sources on the context are not starved.
  for (auto& t : batch) {
    t();
    t = nullptr;
  }
  bool idle;
  {
    std::lock_guard lock(s.mutex);
    promoteDue(s, s.clock->now());
    idle = s.ready.empty();
  }
  if (idle && s.idleHook) s.idleHook();
  return G_SOURCE_CONTINUE;
}

GSourceFuncs kQueueFuncs = {prepare, check, dispatch, nullptr, nullptr, nullptr};

}  // namespace

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

MainQueue::MainQueue(Clock& clock, GMainContext* context)
    : clock_(clock),
      context_(context ? g_main_context_ref(context) : g_main_context_new()),
      state_(std::make_shared<MainQueueState>()) {
  state_->clock = &clock_;
  state_->context = context_;
  source_ = g_source_new(&kQueueFuncs, sizeof(QueueSource));
  reinterpret_cast<QueueSource*>(source_)->state = state_.get();
  g_source_set_can_recurse(source_, FALSE);
  g_source_attach(source_, context_);
  std::weak_ptr<MainQueueState> weak = state_;
  clock_.subscribe([weak] {
    if (auto s = weak.lock()) {
      std::lock_guard lock(s->mutex);
      if (s->context) g_main_context_wakeup(s->context);
    }
  });
}

MainQueue::~MainQueue() {
  g_source_destroy(source_);
  g_source_unref(source_);
  {
    // The clock's subscription outlives us and must no longer wake the context.
    std::lock_guard lock(state_->mutex);
    state_->context = nullptr;
  }
  g_main_context_unref(context_);
}

void MainQueue::post(Task task) {
  {
    std::lock_guard lock(state_->mutex);
    state_->ready.push_back(std::move(task));
  }
  g_main_context_wakeup(context_);
}

MainQueue::TimerHandle MainQueue::postAfter(Clock::Duration delay, Task task) {
  std::uint64_t id;
  {
    std::lock_guard lock(state_->mutex);
    id = state_->nextId++;
    auto due = clock_.now() + delay;
    state_->timers.emplace(std::make_pair(due, id), std::move(task));
    state_->timerDue.emplace(id, due);
  }
  g_main_context_wakeup(context_);
  return TimerHandle(state_, id);
}

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
  {
    std::lock_guard lock(state_->mutex);
    state_->runner = std::this_thread::get_id();
  }
  // GIO's asynchronous calls made from tasks complete on the thread-default context.
  const bool pushed = context_ != g_main_context_default();
  if (pushed) g_main_context_push_thread_default(context_);
  for (;;) {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->stopRequested) {
        state_->stopRequested = false;
        break;
      }
    }
    g_main_context_iteration(context_, TRUE);
  }
  if (pushed) g_main_context_pop_thread_default(context_);
}

void MainQueue::stop() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopRequested = true;
  }
  g_main_context_wakeup(context_);
}

bool MainQueue::isMainThread() const {
  std::lock_guard lock(state_->mutex);
  return state_->runner == std::this_thread::get_id();
}

void MainQueue::setIdleHook(Task hook) {
  state_->idleHook = std::move(hook);
}

}  // namespace quib
