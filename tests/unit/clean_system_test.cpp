// The cleaner's system routines on the in-memory machine: clipboard format
// captions, processes found by name within the current session only, and the
// shell restart (started when absent, closed and waited for, another
// session's shell left alone).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestPlatform.h"
#include "cleaner/uCleanSystem.h"

namespace quenlo {
namespace {

using Behaviour = qp::mem::MemoryProcesses::CloseBehaviour;

constexpr std::uint32_t kSession = 1;
constexpr std::uint32_t kOtherSession = 2;
constexpr const char *kShellImage = "\\Device\\HarddiskVolume1\\Windows\\explorer.exe";

class CleanSystemTest : public test::MemoryTest {
protected:
  std::uint32_t AddShell(std::uint32_t session = kSession,
                         Behaviour behaviour = Behaviour::EndsOnClose,
                         const char *image = kShellImage) {
    return procs.AddProcess({0, session, image}, behaviour);
  }
  // Windows starting this session's shell again `sleeps` sleeps after it
  // ended.
  void WindowsRestartsShellAfter(int sleeps) {
    procs.SetOnEnd([this, sleeps](const qp::ProcessEntry &ended) {
      if (ended.sessionId == kSession)
        pendingSleeps = sleeps;
    });
    sys.SetOnSleep([this](std::uint32_t) {
      if (pendingSleeps > 0 && --pendingSleeps == 0)
        AddShell();
    });
  }
  bool ShellRunsIn(std::uint32_t session) const {
    for (const qp::ProcessEntry &entry : procs.Running())
      if (entry.sessionId == session && entry.imagePath == kShellImage)
        return true;
    return false;
  }

  qp::mem::MemoryProcesses &procs = platform.Procs();
  int pendingSleeps = 0;
};

using CleanClipboardCaptions = CleanSystemTest;
using CleanProcesses = CleanSystemTest;
using CleanShellRestart = CleanSystemTest;

TEST_F(CleanClipboardCaptions, RegisteredNameThenTableThenNumber) {
  EXPECT_EQ(GetClipboardFormatCaption(768, ""), "Microsoft Windows GDI object");
  EXPECT_EQ(GetClipboardFormatCaption(1023, ""), "Microsoft Windows GDI object");
  EXPECT_EQ(GetClipboardFormatCaption(769, ""), "Unnamed clipboard format #769");
  EXPECT_EQ(GetClipboardFormatCaption(17, ""), "BITMAPV5HEADER memory object");
  EXPECT_EQ(GetClipboardFormatCaption(18, ""), "Unnamed clipboard format #18");
  EXPECT_EQ(GetClipboardFormatCaption(767, ""), "Private clipboard format");
  // A registered name wins, even over a standard number; at most 255
  // characters of it, as GetClipboardFormatNameA gives.
  EXPECT_EQ(GetClipboardFormatCaption(49161, "DataObject"), "DataObject");
  EXPECT_EQ(GetClipboardFormatCaption(1, "Rich Text Format"), "Rich Text Format");
  EXPECT_EQ(GetClipboardFormatCaption(49200, std::string(300, 'x')), std::string(255, 'x'));
}

TEST_F(CleanProcesses, FoundByImageNameInAnyCaseWithinTheCurrentSession) {
  EXPECT_FALSE(FindProcessByName("explorer.exe"));
  const std::uint32_t other = AddShell(kOtherSession);
  EXPECT_FALSE(FindProcessByName("explorer.exe")); // another user's shell
  const std::uint32_t mine = AddShell(kSession, Behaviour::EndsOnClose,
                                      "\\Device\\HarddiskVolume1\\WINDOWS\\EXPLORER.EXE");
  const std::uint32_t second = AddShell();
  procs.AddProcess({0, kSession, "\\Device\\HarddiskVolume1\\Tools\\notexplorer.exe"});
  EXPECT_EQ(FindProcessByName("explorer.exe"), mine);
  EXPECT_EQ(FindProcessByName("Explorer.EXE"), mine);
  EXPECT_EQ(FindProcessesByName("explorer.exe"), (std::vector<std::uint32_t>{mine, second}));

  procs.SetCurrentSession(kOtherSession);
  EXPECT_EQ(FindProcessByName("explorer.exe"), other);

  procs.SetProcessListAvailable(false);
  EXPECT_FALSE(FindProcessByName("explorer.exe"));
  EXPECT_TRUE(FindProcessesByName("explorer.exe").empty());
}

TEST_F(CleanProcesses, ClosingByNameGoesLastFirstAndNeverClosesItself) {
  const std::uint32_t first = AddShell();
  const std::uint32_t second = AddShell(kSession, Behaviour::OnlyTerminable);
  const std::uint32_t other = AddShell(kOtherSession);
  EXPECT_EQ(CloseProcess(procs.CurrentProcessId(), 500), qp::cpNotClosed);
  EXPECT_TRUE(procs.CloseCalls().empty()); // not even asked

  EXPECT_TRUE(CloseProcessesByName("explorer.exe"));
  const auto calls = procs.CloseCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].id, second);
  EXPECT_EQ(calls[1].id, first);
  EXPECT_EQ(calls[0].timeoutMs, 500u);
  ASSERT_EQ(procs.Running().size(), 1u);
  EXPECT_EQ(procs.Running().front().id, other);

  AddShell(kSession, Behaviour::CannotOpen);
  const std::uint32_t closable = AddShell();
  EXPECT_FALSE(CloseProcessesByName("explorer.exe"));
  for (const qp::ProcessEntry &entry : procs.Running())
    EXPECT_NE(entry.id, closable); // the others were still closed
  EXPECT_TRUE(CloseProcessesByName("nothing.exe"));
}

TEST_F(CleanShellRestart, NoShellRunning) {
  EXPECT_FALSE(RestartExplorer());
  EXPECT_EQ(procs.StartedCommandLines(), (std::vector<std::string>{"c:\\windows\\explorer.exe"}));

  // Another session's shell is not this session's: it is not touched, and
  // this session's shell is started.
  const std::uint32_t other = AddShell(kOtherSession);
  EXPECT_FALSE(RestartExplorer());
  EXPECT_TRUE(procs.CloseCalls().empty());
  EXPECT_EQ(procs.StartedCommandLines().size(), 2u);
  EXPECT_EQ(procs.Running().front().id, other);

  procs.SetProcessListAvailable(false);
  EXPECT_FALSE(RestartExplorer());
  EXPECT_EQ(procs.StartedCommandLines().size(), 2u);
}

TEST_F(CleanShellRestart, ClosesItAndWaitsForWindowsToStartItAgain) {
  AddShell();
  WindowsRestartsShellAfter(10);
  const std::uint64_t start = sys.TickCount();
  EXPECT_TRUE(RestartExplorer());
  EXPECT_TRUE(procs.StartedCommandLines().empty()); // Windows did it
  EXPECT_EQ(sys.TickCount() - start, 10u * 50u);
  EXPECT_TRUE(ShellRunsIn(kSession));
}

TEST_F(CleanShellRestart, StartsItWhenWindowsDoesNot) {
  sys.SetWindowsDirectory("D:\\WinNT");
  AddShell(kSession, Behaviour::OnlyTerminable);
  procs.SetOnStart([](std::string_view) -> std::optional<qp::ProcessEntry> {
    return qp::ProcessEntry{0, kSession, kShellImage};
  });
  const std::uint64_t start = sys.TickCount();
  EXPECT_TRUE(RestartExplorer());
  EXPECT_EQ(procs.StartedCommandLines(), (std::vector<std::string>{"d:\\winnt\\explorer.exe"}));
  EXPECT_EQ(sys.TickCount() - start, 51u * 50u); // 51 looks before it gave up waiting
  EXPECT_TRUE(ShellRunsIn(kSession));
}

TEST_F(CleanShellRestart, AnswersFalseWhenTheShellNeverComesBackOrCannotBeClosed) {
  AddShell();
  const std::uint64_t start = sys.TickCount();
  EXPECT_FALSE(RestartExplorer());
  EXPECT_EQ(procs.StartedCommandLines().size(), 1u);
  EXPECT_EQ(sys.TickCount() - start, 2u * 51u * 50u);

  const std::uint32_t stuck = AddShell(kSession, Behaviour::CannotOpen);
  EXPECT_FALSE(RestartExplorer());
  EXPECT_EQ(procs.StartedCommandLines().size(), 1u); // nothing started
  EXPECT_EQ(procs.Running().front().id, stuck);
}

TEST_F(CleanShellRestart, AnotherSessionsShellIsNeitherClosedNorWaitedFor) {
  const std::uint32_t other = AddShell(kOtherSession);
  AddShell();
  // Only another user's shell runs once this session's closed: that must
  // not count as this session's shell being back.
  EXPECT_FALSE(RestartExplorer());
  ASSERT_EQ(procs.CloseCalls().size(), 1u);
  EXPECT_NE(procs.CloseCalls().front().id, other);
  ASSERT_EQ(procs.Running().size(), 1u);
  EXPECT_EQ(procs.Running().front().id, other);

  WindowsRestartsShellAfter(3);
  AddShell();
  EXPECT_TRUE(RestartExplorer());
  EXPECT_TRUE(ShellRunsIn(kOtherSession));
  EXPECT_EQ(procs.CloseCalls().size(), 2u);
}

} // namespace
} // namespace quenlo
