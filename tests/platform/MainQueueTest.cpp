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
  q.post([&] { ran.push_back("now"); });
  cancelled.cancel();
  cancelled.cancel();
  EXPECT_EQ(q.runUntilIdle(), 1u);
  clock.advance(599ms);
  q.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "early"}));
  clock.advance(1ms);
  q.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "early", "late"}));
}

// What a desktop library attaches to the queue's context must run on the queue's thread too.
TEST(MainQueueTest, RunWakesForPostsTimersAndContextSourcesAndStops) {
  ManualClock clock;
  MainQueue q(clock);
  q.stop();
  q.run();  // would hang if the early stop were lost
  std::promise<bool> fromSource;
  GSource* idle = g_idle_source_new();
  g_source_set_callback(
      idle,
      [](gpointer p) -> gboolean {
        auto* args = static_cast<std::pair<MainQueue*, std::promise<bool>*>*>(p);
        args->second->set_value(args->first->isMainThread());
        return G_SOURCE_REMOVE;
      },
      new std::pair<MainQueue*, std::promise<bool>*>(&q, &fromSource),
      [](gpointer p) { delete static_cast<std::pair<MainQueue*, std::promise<bool>*>*>(p); });
  g_source_attach(idle, q.context());
  g_source_unref(idle);
  std::thread runner([&] { q.run(); });
  EXPECT_TRUE(fromSource.get_future().get());
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

  MainQueue real;
  std::thread realRunner([&] { real.run(); });
  std::promise<void> realFired;
  real.postAfter(1ms, [&] { realFired.set_value(); });
  realFired.get_future().wait();
  real.stop();
  realRunner.join();
}

}  // namespace
}  // namespace quib
