// The long-operation runner over Win32: the work runs on its own thread at
// the lowest priority, its answer and its exceptions come back as the
// result, its progress reports do not disturb it, and the calling thread
// keeps running its messages (timers included) while it waits. Without a
// display the cover's windows cannot be made; the runner goes on without
// them, so these run in the plain Wine test prefix as well.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "app/win/uLongOperation.h"
#include "platform/win32/WinApi.h"
#include "ui/uKeyboardBlock.h"

namespace {

using quenlo::TLongOperationResult;
using quenlo::TWorkProgress;
using quenlo::win::TWin32LongOperation;

std::atomic<int> g_timerTicks{0};
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) {
  ++g_timerTicks;
}

class WineLongOperation : public ::testing::Test {
protected:
  TWin32LongOperation operation{[] { return HWND{nullptr}; }};
};

TEST_F(WineLongOperation, WorkRunsOnItsOwnThreadAtTheLowestPriority) {
  const DWORD caller = ::GetCurrentThreadId();
  DWORD workerThread = caller;
  int priority = THREAD_PRIORITY_NORMAL;
  const TLongOperationResult result =
      operation.Run("Analyzing", true, [&](const TWorkProgress &, std::string &) {
        workerThread = ::GetCurrentThreadId();
        priority = ::GetThreadPriority(::GetCurrentThread());
        return true;
      });
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.finished);
  EXPECT_TRUE(result.ok);
  EXPECT_NE(workerThread, caller);
  EXPECT_EQ(priority, THREAD_PRIORITY_LOWEST);
  // The caller's own priority is untouched.
  EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

TEST_F(WineLongOperation, FailureAndExceptionsComeBackAsTheErrorText) {
  TLongOperationResult result =
      operation.Run("Analyzing", true, [](const TWorkProgress &, std::string &errorText) {
        errorText = "RegSaveKey: Access is denied.";
        return false;
      });
  EXPECT_TRUE(result.finished);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.errorText, "RegSaveKey: Access is denied.");

  result = operation.Run("Analyzing", true, [](const TWorkProgress &, std::string &) -> bool {
    throw std::runtime_error("the hive file is locked");
  });
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.finished);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.errorText, "the hive file is locked");

  result = operation.Run("Analyzing", false,
                         [](const TWorkProgress &, std::string &) -> bool { throw 42; });
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.errorText, "an unknown exception");
}

TEST_F(WineLongOperation, CallerRunsItsMessagesWhileTheWorkReports) {
  g_timerTicks = 0;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, &CountTick);
  ASSERT_NE(timer, 0u);
  const TLongOperationResult result =
      operation.Run("Defragmenting", true, [](const TWorkProgress &progress, std::string &) {
        // Many reports from the worker, some beyond the total: none of them
        // may reach a window from this thread or stop the work.
        for (std::uint64_t done = 0; done <= 120; ++done) {
          progress(100, done);
          ::Sleep(3);
        }
        return true;
      });
  ::KillTimer(nullptr, timer);
  EXPECT_TRUE(result.ok);
  // About 400 ms of work with a 10 ms timer: the wait ran the ticks.
  EXPECT_GT(g_timerTicks.load(), 5);
}

TEST_F(WineLongOperation, KeyboardBlockHooksTheKeyboardForItsLifeOnly) {
  {
    const quenlo::ui::TKeyboardBlock block;
    EXPECT_TRUE(block.Hooked());
  }
  // A second block after the first is gone installs again.
  const quenlo::ui::TKeyboardBlock again;
  EXPECT_TRUE(again.Hooked());
}

} // namespace
