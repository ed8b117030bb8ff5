#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/MainThread.h"

namespace {

using namespace std::chrono_literals;

TEST(ThreadedMainThread, SynchronizeRunsOnTheMainThreadAndWaits) {
  qp::TMainThread main;
  const auto mainId = std::this_thread::get_id();
  std::atomic<int> wakes{0};
  main.SetWakeHook([&] { ++wakes; });
  std::thread::id ranOn;
  int value = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    main.Synchronize([&] {
      ranOn = std::this_thread::get_id();
      value = 42;
    });
    // The call has run by the time Synchronize returns.
    EXPECT_EQ(value, 42);
    EXPECT_THROW(main.Synchronize([] { throw std::runtime_error("boom"); }), std::runtime_error);
    main.Queue([&] { done = true; });
  });
  while (!done)
    main.PumpWait(5ms);
  worker.join();
  EXPECT_EQ(ranOn, mainId);
  EXPECT_EQ(wakes.load(), 3);
  // On the main thread itself a call runs at once.
  bool direct = false;
  main.Synchronize([&] { direct = true; });
  EXPECT_TRUE(direct);
  EXPECT_EQ(main.Pump(), 0u);
}

TEST(ThreadedMainThread, QueuedFailureReachesTheLoop) {
  qp::TMainThread main;
  std::thread worker([&] { main.Queue([] { throw std::runtime_error("late"); }); });
  worker.join();
  EXPECT_THROW(main.Pump(), std::runtime_error);
  EXPECT_EQ(main.Pump(), 0u);
}

} // namespace
