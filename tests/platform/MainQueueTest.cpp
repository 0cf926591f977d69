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
  std::pair<MainQueue*, std::promise<bool>> fromSource{&q, std::promise<bool>()};
  g_main_context_invoke(
      q.context(),
      [](gpointer p) -> gboolean {
        auto* check = static_cast<std::pair<MainQueue*, std::promise<bool>>*>(p);
        check->second.set_value(check->first->isMainThread());
        return G_SOURCE_REMOVE;
      },
      &fromSource);
  std::thread runner([&] { q.run(); });
  EXPECT_TRUE(fromSource.second.get_future().get());
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

}  // namespace
}  // namespace quib
