#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/MainQueue.h"

namespace quib {
namespace {

using namespace std::chrono_literals;

TEST(MainQueueTest, RunsPostedWorkInOrder) {
  ManualClock clock;
  MainQueue q(clock);
  std::vector<int> order;
  q.post([&] { order.push_back(1); });
  q.post([&] { order.push_back(2); });
  EXPECT_EQ(q.runUntilIdle(), 2u);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MainQueueTest, DelayedWorkFollowsTheClockAndCanBeCancelled) {
  ManualClock clock;
  MainQueue q(clock);
  std::vector<std::string> ran;
  q.postAfter(600ms, [&] { ran.push_back("late"); });
  auto cancelled = q.postAfter(100ms, [&] { ran.push_back("cancelled"); });
  q.postAfter(300ms, [&] { ran.push_back("early"); });
  cancelled.cancel();
  cancelled.cancel();
  q.runUntilIdle();
  EXPECT_TRUE(ran.empty());
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

}  // namespace
}  // namespace quib
