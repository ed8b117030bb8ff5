// The portable helpers every layer shares: path text, folder creation, the
// owning template, the scope guard and the guards for paired calls.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/FileOps.h"
#include "platform/Guards.h"
#include "platform/PathText.h"
#include "platform/ScopeGuard.h"
#include "platform/UniqueAny.h"
#include "tests/unit/TestPlatform.h"

namespace quenlo::test {
namespace {

TEST(PathText, TrailingBackslashesAndParts) {
  EXPECT_EQ(qp::WithTrailingBackslash("C:\\Dir"), "C:\\Dir\\");
  EXPECT_EQ(qp::WithTrailingBackslash("C:\\Dir\\"), "C:\\Dir\\");
  EXPECT_EQ(qp::WithTrailingBackslash(""), "\\");
  EXPECT_EQ(qp::WithoutTrailingBackslash("C:\\Dir\\\\"), "C:\\Dir");
  // A drive root keeps its backslash: "C:" would be the drive's current folder.
  EXPECT_EQ(qp::WithoutTrailingBackslash("C:\\"), "C:\\");
  EXPECT_EQ(qp::WithoutTrailingBackslash("C:\\\\"), "C:\\");
  EXPECT_EQ(qp::WithoutTrailingBackslash("\\"), "");
  EXPECT_EQ(qp::FolderOf("C:\\Undo\\2024-01-02\\120000000.REG"), "C:\\Undo\\2024-01-02");
  EXPECT_EQ(qp::FolderOf("name"), "");
  EXPECT_EQ(qp::TitleWithoutExtension("C:\\Undo\\day\\120000000.REG64"), "120000000");
  EXPECT_EQ(qp::TitleWithoutExtension("C:\\a.b\\name"), "name");
  EXPECT_EQ(qp::TitleWithoutExtension("x.tar.gz"), "x.tar");
}

class FileOps : public MemoryTest {};

TEST_F(FileOps, ForceDirectoriesMakesEveryMissingParentAndSaysWhyItCannot) {
  long error = -1;
  ASSERT_TRUE(qp::ForceDirectories("C:\\A\\B\\C\\", error));
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(qp::FolderExists("C:\\A\\B"));
  EXPECT_TRUE(qp::FolderExists("C:\\A\\B\\C\\"));
  EXPECT_TRUE(qp::ForceDirectories("C:\\A\\B", error)); // already there
  EXPECT_TRUE(qp::ForceDirectories("C:\\", error));

  fs.AddFile("C:\\A\\file");
  EXPECT_TRUE(qp::FileExists("C:\\A\\file"));
  EXPECT_FALSE(qp::FolderExists("C:\\A\\file"));
  EXPECT_FALSE(qp::ForceDirectories("C:\\A\\file\\sub", error));
  EXPECT_NE(error, 0);
  EXPECT_FALSE(qp::ForceDirectories("", error));
  EXPECT_EQ(error, 0);
}

// A handle type whose closes are counted; 0 is its invalid value.
std::vector<int> g_closed;
struct CountedTraits {
  using Handle = int;
  static constexpr int Invalid() noexcept { return 0; }
  static void Close(int h) noexcept { g_closed.push_back(h); }
};
// The same handles, but invalid at -1 (as file and find handles are).
struct MinusOneTraits {
  using Handle = int;
  static constexpr int Invalid() noexcept { return -1; }
  static void Close(int h) noexcept { g_closed.push_back(h); }
};

TEST(UniqueAny, ClosesExactlyOnceWhateverHappensToIt) {
  g_closed.clear();
  {
    qp::TUniqueAny<CountedTraits> a(7);
    a.Reset(7); // the handle it holds: nothing to close
    EXPECT_TRUE(g_closed.empty());
    qp::TUniqueAny<CountedTraits> b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.Get(), 7);
    b.Out() = 8; // the out slot closes what it held first
    EXPECT_EQ(g_closed, std::vector<int>{7});
    qp::TUniqueAny<CountedTraits> c(9);
    c = std::move(b);
    EXPECT_EQ(g_closed, (std::vector<int>{7, 9}));
    const int released = qp::TUniqueAny<CountedTraits>(10).Release();
    EXPECT_EQ(released, 10);
  }
  EXPECT_EQ(g_closed, (std::vector<int>{7, 9, 8}));

  g_closed.clear();
  {
    // 0 is a real handle where -1 is the invalid one.
    qp::TUniqueAny<MinusOneTraits> zero(0);
    EXPECT_TRUE(zero);
    qp::TUniqueAny<MinusOneTraits> none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.Get(), -1);
  }
  EXPECT_EQ(g_closed, std::vector<int>{0});
}

TEST(ScopeExit, RunsOnEveryWayOutUnlessDismissed) {
  int runs = 0;
  try {
    auto guard = qp::ScopeExit([&]() noexcept { ++runs; });
    throw std::runtime_error("change failed");
  } catch (const std::runtime_error &) {
  }
  EXPECT_EQ(runs, 1);
  {
    auto guard = qp::ScopeExit([&]() noexcept { ++runs; });
    guard.Dismiss();
  }
  EXPECT_EQ(runs, 1);
  {
    auto guard = qp::ScopeExit([&]() noexcept { ++runs; });
    guard.RunNow();
    EXPECT_EQ(runs, 2);
  }
  EXPECT_EQ(runs, 2);
}

class Guards : public MemoryTest {};

TEST_F(Guards, APrivilegeIsSwitchedOffOnlyWhenTheScopeSwitchedItOn) {
  {
    const qp::TPrivilegeScope scope("SeShutdownPrivilege");
    EXPECT_TRUE(scope.Held());
    EXPECT_TRUE(sys.PrivilegeEnabled("SeShutdownPrivilege"));
  }
  EXPECT_FALSE(sys.PrivilegeEnabled("SeShutdownPrivilege"));
  EXPECT_EQ(sys.PrivilegeCalls(),
            (std::vector<std::string>{"SeShutdownPrivilege:on", "SeShutdownPrivilege:off"}));

  sys.SetPrivilegeResult(wc::ErrorNotAllAssigned);
  {
    const qp::TPrivilegeScope scope("SeBackupPrivilege");
    EXPECT_FALSE(scope.Held());
    EXPECT_EQ(scope.Status(), wc::ErrorNotAllAssigned);
  }
  EXPECT_EQ(sys.PrivilegeCalls().size(), 3u); // no ":off" for a privilege it never got
}

TEST_F(Guards, APrivilegeHeldBeforeTheScopeStaysHeldAfterIt) {
  ASSERT_EQ(sys.SetPrivilege("SeBackupPrivilege", true, nullptr), 0);
  {
    const qp::TPrivilegeScope outer("SeBackupPrivilege");
    const qp::TPrivilegeScope inner("SeBackupPrivilege");
    EXPECT_TRUE(inner.Held());
  }
  EXPECT_TRUE(sys.PrivilegeEnabled("SeBackupPrivilege")) << "the caller switched it on itself";
  {
    const qp::TPrivilegeScope outer("SeRestorePrivilege");
    { const qp::TPrivilegeScope inner("SeRestorePrivilege"); }
    EXPECT_TRUE(sys.PrivilegeEnabled("SeRestorePrivilege")) << "the outer scope still needs it";
  }
  EXPECT_FALSE(sys.PrivilegeEnabled("SeRestorePrivilege"));
}

TEST_F(Guards, TheFileSystemViewComesBackOnTheWayOut) {
  const char *only32 = "C:\\Windows\\System32\\regedit.exe"; // only in SysWOW64
  ASSERT_FALSE(qp::FileExists(only32));
  try {
    const qp::TFsViewSwitch view;
    ASSERT_TRUE(view.Switched());
    EXPECT_TRUE(qp::FileExists(only32));
    throw std::runtime_error("probe failed");
  } catch (const std::runtime_error &) {
  }
  EXPECT_FALSE(qp::FileExists(only32));
  {
    const qp::TFsViewSwitch notWanted(false);
    EXPECT_FALSE(notWanted.Switched());
    EXPECT_FALSE(qp::FileExists(only32));
  }
}

} // namespace
} // namespace quenlo::test
