#include <glib.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/MainQueue.h"

namespace quib {
namespace {

using namespace std::chrono_literals;

TEST(MainQueueTest, DelayedWorkFollowsTheClockAndCanBeCancelled) {
  ManualClock clock;
  MainQueue q(clock);
  std::vector<std::string> ran;
  q.postAfter(600ms, [&] { ran.push_back("late"); });
  auto cancelled = q.postAfter(100ms, [&] { ran.push_back("cancelled"); });
  q.postAfter(300ms, [&] { ran.push_back("early"); });
  q.post([&] { ran.push_back("now 1"); });
  q.post([&] { ran.push_back("now 2"); });
  cancelled.cancel();
  cancelled.cancel();
  EXPECT_EQ(q.runUntilIdle(), 2u);
  EXPECT_EQ(ran, (std::vector<std::string>{"now 1", "now 2"}));
  ran.clear();
  clock.advance(599ms);
  q.runUntilIdle();
  EXPECT_EQ(ran, std::vector<std::string>{"early"});
  clock.advance(1ms);
  q.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"early", "late"}));
}

TEST(MainQueueTest, RunWakesForPostsAndManualTimeAndStops) {
  ManualClock clock;
  MainQueue q(clock);
  std::thread runner([&] { q.run(); });
  std::promise<void> fired;
  q.postAfter(1s, [&] { fired.set_value(); });
  clock.advance(1s);
  fired.get_future().wait();
  std::promise<bool> onMain;
  q.post([&] { onMain.set_value(q.isMainThread()); });
  EXPECT_TRUE(onMain.get_future().get());
  EXPECT_FALSE(q.isMainThread());
  q.stop();
  runner.join();
}

TEST(MainQueueTest, RealClockTimersFire) {
  MainQueue q;
  std::thread runner([&] { q.run(); });
  std::promise<void> fired;
  q.postAfter(1ms, [&] { fired.set_value(); });
  fired.get_future().wait();
  q.stop();
  runner.join();
}

TEST(MainQueueTest, ContextSourcesRunBetweenTasksOnTheMainThread) {
  ManualClock clock;
  MainQueue q(clock);
  std::promise<bool> fromSource;
  // What a desktop library would attach: it must run on the queue's thread while run() runs.
  GSource* idle = g_idle_source_new();
  struct Ctx {
    MainQueue* q;
    std::promise<bool>* p;
  } ctx{&q, &fromSource};
  g_source_set_callback(
      idle,
      [](gpointer data) -> gboolean {
        auto* c = static_cast<Ctx*>(data);
        c->p->set_value(c->q->isMainThread());
        return G_SOURCE_REMOVE;
      },
      &ctx, nullptr);
  g_source_attach(idle, q.context());
  g_source_unref(idle);
  std::thread runner([&] { q.run(); });
  EXPECT_TRUE(fromSource.get_future().get());
  q.stop();
  runner.join();
}

TEST(MainQueueTest, StopBeforeRunReturnsAtOnceAndTheQueueRunsAgain) {
  MainQueue q;
  q.stop();
  q.run();  // would hang if the early stop were lost
  std::thread runner([&] { q.run(); });
  std::promise<void> ran;
  q.post([&] { ran.set_value(); });
  ran.get_future().wait();
  q.stop();
  runner.join();
}

}  // namespace
}  // namespace quib
