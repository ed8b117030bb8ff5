// The in-memory machine's links, files in use, read-only files, process list
// and desktop session: what the cleaner's tests rely on behaving as Windows
// does (links followed by paths, removed alone; open files refused).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paths/uSysUtils.h"
#include "platform/memory/MemoryPlatform.h"

namespace {

using qp::mem::MemoryFileSystem;
using qp::mem::MemoryProcesses;

constexpr std::uint32_t kReparse = 0x400;

class MemoryModel : public ::testing::Test {
protected:
  MemoryModel() { platform.Install(); }
  qp::mem::MemoryPlatform platform;
  qp::mem::MemoryFileSystem &fs = platform.Fs();
  qp::mem::MemoryProcesses &procs = platform.Procs();
  qp::mem::MemoryDesktop &desk = platform.Desk();

  std::vector<std::string> Listing(const std::string &pattern) {
    std::vector<std::string> names;
    qp::FindData data;
    if (auto find = fs.FindFirst(pattern, data)) {
      do
        names.push_back(data.name);
      while (find->Next(data));
    }
    return names;
  }
};

using MemoryLinks = MemoryModel;
using MemoryFilesInUse = MemoryModel;
using MemoryProcessList = MemoryModel;
using MemoryDesktopSession = MemoryModel;

TEST_F(MemoryLinks, FolderLinkShowsItsTargetAndPathsThroughItReachTheTarget) {
  fs.AddFile("C:\\Outside\\keep.txt", "12345");
  fs.AddLink("C:\\Base\\junction", "C:\\Outside");

  EXPECT_EQ(fs.GetAttributes("C:\\Base\\junction"), wc::FileAttributeDirectory | kReparse);
  qp::FindData entry;
  ASSERT_NE(fs.FindFirst("C:\\Base\\junction", entry), nullptr);
  EXPECT_EQ(entry.attributes, wc::FileAttributeDirectory | kReparse);
  EXPECT_EQ(entry.size, 0u);
  EXPECT_EQ(Listing("C:\\Base\\junction\\*"), (std::vector<std::string>{".", "..", "keep.txt"}));
  std::string data;
  EXPECT_EQ(fs.ReadFile("C:\\Base\\junction\\keep.txt", data), 0);
  EXPECT_EQ(data, "12345");
  // The danger a walker must avoid: a delete through the link removes the
  // target's file.
  EXPECT_EQ(fs.DeleteFile("C:\\Base\\junction\\keep.txt"), 0);
  EXPECT_FALSE(fs.Exists("C:\\Outside\\keep.txt"));
  EXPECT_TRUE(fs.IsLink("C:\\Base\\junction"));
  EXPECT_FALSE(fs.IsLink("C:\\Outside"));
}

TEST_F(MemoryLinks, RemovingALinkLeavesItsTargetWhole) {
  fs.AddFile("C:\\Outside\\keep.txt");
  fs.AddFile("C:\\Outside\\data.bin", "xy");
  fs.AddLink("C:\\Base\\junction", "C:\\Outside");
  fs.AddLink("C:\\Base\\file.lnk", "C:\\Outside\\data.bin");

  EXPECT_EQ(fs.GetAttributes("C:\\Base\\file.lnk"), wc::FileAttributeArchive | kReparse);
  std::string data;
  EXPECT_EQ(fs.ReadFile("C:\\Base\\file.lnk", data), 0);
  EXPECT_EQ(data, "xy");
  // A folder link is no file, and a file link no folder.
  EXPECT_EQ(fs.DeleteFile("C:\\Base\\junction"), wc::ErrorAccessDenied);
  EXPECT_EQ(fs.RemoveDirectory("C:\\Base\\file.lnk"), 267);

  EXPECT_EQ(fs.RemoveDirectory("C:\\Base\\junction"), 0);
  EXPECT_EQ(fs.DeleteFile("C:\\Base\\file.lnk"), 0);
  EXPECT_TRUE(fs.List("C:\\Base").empty());
  EXPECT_EQ(fs.List("C:\\Outside"), (std::vector<std::string>{"data.bin", "keep.txt"}));
}

TEST_F(MemoryLinks, DanglingAndLoopingLinks) {
  fs.AddLink("C:\\Base\\gone", "C:\\Nowhere");
  EXPECT_EQ(fs.GetAttributes("C:\\Base\\gone"), wc::FileAttributeDirectory | kReparse);
  long error = 0;
  qp::FindData entry;
  EXPECT_EQ(fs.FindFirst("C:\\Base\\gone\\*", entry, &error), nullptr);
  EXPECT_EQ(error, wc::ErrorPathNotFound);
  EXPECT_EQ(fs.RemoveDirectory("C:\\Base\\gone"), 0);

  // A link to its own folder lists that folder again; two links pointing
  // at each other give up instead of looping.
  fs.AddLink("C:\\Loop\\self", "C:\\Loop");
  EXPECT_EQ(Listing("C:\\Loop\\self\\self\\*"), (std::vector<std::string>{".", "..", "self"}));
  fs.AddLink("C:\\Ping\\a", "C:\\Pong\\b");
  fs.AddLink("C:\\Pong\\b", "C:\\Ping\\a");
  EXPECT_EQ(fs.GetAttributes("C:\\Ping\\a\\x", &error), wc::InvalidFileAttributes);
  EXPECT_EQ(error, 1921);
}

TEST_F(MemoryLinks, DeleteTreeRemovesLinksWithoutEnteringThem) {
  fs.AddFile("C:\\Outside\\keep.txt");
  fs.AddFile("C:\\Outside\\deep\\keep2.txt");
  fs.AddFile("C:\\Base\\own.txt", "", wc::FileAttributeReadOnly);
  fs.AddLink("C:\\Base\\sub\\junction", "C:\\Outside");
  fs.AddLink("C:\\Base\\file.lnk", "C:\\Outside\\keep.txt");

  EXPECT_TRUE(quenlo::ShellDeleteFile("C:\\Base", false));
  EXPECT_FALSE(fs.Exists("C:\\Base"));
  EXPECT_TRUE(fs.Exists("C:\\Outside\\keep.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Outside\\deep\\keep2.txt"));
}

TEST_F(MemoryFilesInUse, OpenFilesAreRefusedButReadable) {
  fs.AddFile("C:\\Data\\open.log", "text");
  fs.SetInUse("C:\\Data\\open.log", true);

  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\open.log"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\open.log"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.MoveFile("C:\\Data\\open.log", "C:\\Data\\moved.log", 0), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.RecycleFile("C:\\Data\\open.log"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.RecycleFile("C:\\Data"), wc::ErrorSharingViolation);
  std::unique_ptr<qp::IFileLock> lock;
  EXPECT_EQ(fs.OpenLockFile("C:\\Data\\open.log", lock), wc::ErrorSharingViolation);
  std::string data;
  EXPECT_EQ(fs.ReadFile("C:\\Data\\open.log", data), 0);
  EXPECT_FALSE(quenlo::ShellDeleteFile("C:\\Data", false));
  EXPECT_TRUE(fs.Exists("C:\\Data\\open.log"));

  fs.SetInUse("C:\\Data\\open.log", false);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\open.log"), 0);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\open.log"), 0);
}

TEST_F(MemoryFilesInUse, ExclusiveOpenOfLockedMissingFolderAndReadOnly) {
  fs.AddFile("C:\\Data\\ro.txt", "", wc::FileAttributeReadOnly);
  std::unique_ptr<qp::IFileLock> lock;
  ASSERT_EQ(fs.OpenLockFile("C:\\Data\\held.lock", lock), 0);

  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\ro.txt"), 0);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\held.lock"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\missing.txt"), wc::ErrorFileNotFound);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data"), wc::ErrorAccessDenied);
  lock.reset();
}

TEST_F(MemoryFilesInUse, ReadOnlyFilesNeedTheirAttributeCleared) {
  fs.AddFile("C:\\Data\\ro.txt", "", wc::FileAttributeReadOnly | wc::FileAttributeHidden);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\ro.txt"), wc::ErrorAccessDenied);
  EXPECT_EQ(fs.SetAttributes("C:\\Data\\missing.txt", 0), wc::ErrorFileNotFound);
  // A folder stays a folder whatever the caller passes.
  EXPECT_EQ(fs.SetAttributes("C:\\Data", wc::FileAttributeHidden), 0);
  EXPECT_EQ(fs.GetAttributes("C:\\Data"), wc::FileAttributeDirectory | wc::FileAttributeHidden);

  EXPECT_EQ(fs.SetAttributes("C:\\Data\\ro.txt", wc::FileAttributeNormal), 0);
  EXPECT_EQ(fs.GetAttributes("C:\\Data\\ro.txt"), wc::FileAttributeNormal);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\ro.txt"), 0);

  // What SHFileOperation does and DeleteTree now does too.
  fs.AddFile("C:\\Tree\\a\\ro.txt", "", wc::FileAttributeReadOnly);
  fs.AddFile("C:\\Tree\\ro2.txt", "", wc::FileAttributeReadOnly);
  EXPECT_TRUE(quenlo::ShellDeleteFile("C:\\Tree", false));
  EXPECT_FALSE(fs.Exists("C:\\Tree"));
  // When the attribute cannot be cleared the file stays.
  fs.AddFile("C:\\Tree\\ro.txt", "", wc::FileAttributeReadOnly);
  fs.InjectFailure(MemoryFileSystem::Op::SetAttributes, "ro.txt", wc::ErrorAccessDenied);
  EXPECT_FALSE(quenlo::ShellDeleteFile("C:\\Tree", false));
  EXPECT_TRUE(fs.Exists("C:\\Tree\\ro.txt"));
}

TEST_F(MemoryProcessList, ListsTheOwnProcessAndClosesByBehaviour) {
  const std::uint32_t polite = procs.AddProcess({0, 1, "\\Device\\X\\a.exe"});
  const std::uint32_t stubborn = procs.AddProcess({0, 1, "\\Device\\X\\b.exe"},
                                                  MemoryProcesses::CloseBehaviour::OnlyTerminable);
  const std::uint32_t guarded =
      procs.AddProcess({77, 2, "\\Device\\X\\c.exe"}, MemoryProcesses::CloseBehaviour::CannotOpen);
  EXPECT_EQ(guarded, 77u);
  EXPECT_NE(polite, stubborn);

  std::vector<qp::ProcessEntry> list;
  ASSERT_TRUE(procs.ListProcesses(list));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list.front().id, procs.CurrentProcessId());
  EXPECT_EQ(list.front().sessionId, procs.CurrentSessionId());

  EXPECT_EQ(procs.CloseProcess(procs.CurrentProcessId(), 500), qp::cpNotClosed);
  EXPECT_EQ(procs.CloseProcess(polite, 500), qp::cpEnded);
  EXPECT_EQ(procs.CloseProcess(stubborn, 500), qp::cpTerminated);
  EXPECT_EQ(procs.CloseProcess(guarded, 500), qp::cpNotClosed);
  EXPECT_EQ(procs.CloseProcess(4242, 500), qp::cpNotClosed);
  ASSERT_EQ(procs.Running().size(), 1u);
  EXPECT_EQ(procs.Running().front().id, guarded);

  procs.SetProcessListAvailable(false);
  EXPECT_FALSE(procs.ListProcesses(list));
  EXPECT_TRUE(list.empty());
}

TEST_F(MemoryProcessList, StartAndEndHooksModelAShellThatComesBack) {
  procs.SetOnStart([](std::string_view commandLine) -> std::optional<qp::ProcessEntry> {
    if (commandLine.find("explorer") == std::string_view::npos)
      return std::nullopt;
    return qp::ProcessEntry{0, 1, "\\Device\\X\\explorer.exe"};
  });
  EXPECT_TRUE(procs.StartProcess("c:\\windows\\notepad.exe"));
  EXPECT_TRUE(procs.Running().empty());
  EXPECT_TRUE(procs.StartProcess("c:\\windows\\explorer.exe"));
  ASSERT_EQ(procs.Running().size(), 1u);
  EXPECT_EQ(procs.StartedCommandLines(),
            (std::vector<std::string>{"c:\\windows\\notepad.exe", "c:\\windows\\explorer.exe"}));

  // The hook may add the process again (Windows restarts its shell).
  procs.SetOnEnd([this](const qp::ProcessEntry &ended) {
    procs.AddProcess({0, ended.sessionId, ended.imagePath});
  });
  const std::uint32_t first = procs.Running().front().id;
  EXPECT_EQ(procs.CloseProcess(first, 500), qp::cpEnded);
  ASSERT_EQ(procs.Running().size(), 1u);
  EXPECT_NE(procs.Running().front().id, first);

  procs.SetStartFails(true);
  EXPECT_FALSE(procs.StartProcess("c:\\windows\\explorer.exe"));
  EXPECT_EQ(procs.StartedCommandLines().size(), 2u);
}

TEST_F(MemoryDesktopSession, UrlCachePatternsMatchThePrefixInAnyCase) {
  desk.AddUrlCacheEntry({"Cookie:user@example.com/", "c1.txt", qp::kCookieCacheEntry, 10});
  desk.AddUrlCacheEntry({"cookie:user@other.org/", "c2.txt", qp::kCookieCacheEntry, 20});
  desk.AddUrlCacheEntry({"Visited: user@http://example.com/", "", qp::kUrlHistoryCacheEntry, 0});
  desk.AddUrlCacheEntry({"http://example.com/page", "page.htm", 0, 5});

  std::vector<std::string> seen;
  const auto collect = [&seen](const qp::UrlCacheEntry &e) {
    seen.push_back(e.sourceUrl);
    return true;
  };
  desk.EnumUrlCache("cookie:", collect);
  EXPECT_EQ(seen, (std::vector<std::string>{"Cookie:user@example.com/", "cookie:user@other.org/"}));
  seen.clear();
  desk.EnumUrlCache("visited:", collect);
  EXPECT_EQ(seen, (std::vector<std::string>{"Visited: user@http://example.com/"}));
  seen.clear();
  desk.EnumUrlCache("", collect);
  EXPECT_EQ(seen.size(), 4u);

  // Deleting while enumerating, and stopping early.
  int visits = 0;
  desk.EnumUrlCache("cookie:", [&](const qp::UrlCacheEntry &e) {
    ++visits;
    EXPECT_EQ(desk.DeleteUrlCacheEntry(e.sourceUrl), 0);
    return false;
  });
  EXPECT_EQ(visits, 1);
  EXPECT_EQ(desk.DeleteUrlCacheEntry("Cookie:user@example.com/"), wc::ErrorFileNotFound);
  desk.SetUrlCacheDeleteFails("cookie:user@other.org/", wc::ErrorSharingViolation);
  EXPECT_EQ(desk.DeleteUrlCacheEntry("cookie:user@other.org/"), wc::ErrorSharingViolation);
  EXPECT_EQ(desk.UrlCacheEntries().size(), 3u);
}

TEST_F(MemoryDesktopSession, ClipboardContainersSitesAndCounts) {
  desk.SetClipboard({{1, "", 6}, {49161, "DataObject", 4}});
  std::vector<qp::ClipboardEntry> formats;
  ASSERT_TRUE(desk.ReadClipboard(formats));
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[1].registeredName, "DataObject");
  desk.SetClipboardOpenFails(true);
  EXPECT_FALSE(desk.ReadClipboard(formats));
  EXPECT_FALSE(desk.EmptyClipboard());
  desk.SetClipboardOpenFails(false);
  EXPECT_TRUE(desk.EmptyClipboard());
  EXPECT_TRUE(desk.Clipboard().empty());
  EXPECT_EQ(desk.ClipboardEmpties(), 1);

  std::string path;
  EXPECT_FALSE(desk.GetUrlCacheContainer(qp::kCacheContainerCookies, path));
  desk.SetCacheContainer(qp::kCacheContainerCookies, "C:\\Cookies\\");
  ASSERT_TRUE(desk.GetUrlCacheContainer(qp::kCacheContainerCookies, path));
  EXPECT_EQ(path, "C:\\Cookies\\");
  EXPECT_FALSE(desk.GetUrlCacheContainer(qp::kCacheContainerHistory, path));

  std::vector<qp::IisSite> sites;
  EXPECT_FALSE(desk.ListIisSites("W3SVC", sites));
  desk.SetIisSites("W3SVC", {{"1", "IIsWebServer", "C:\\Logs"}});
  ASSERT_TRUE(desk.ListIisSites("w3svc", sites));
  EXPECT_EQ(sites.front().logFileDirectory, "C:\\Logs");
  EXPECT_FALSE(desk.ListIisSites("MSFTPSVC", sites));

  desk.SetClearUrlHistoryResult(static_cast<long>(0x80004005));
  EXPECT_EQ(desk.ClearUrlHistory(), static_cast<long>(0x80004005));
  EXPECT_EQ(desk.UrlHistoryClears(), 1);
  desk.BroadcastSettingChange();
  EXPECT_EQ(desk.Broadcasts(), 1);
}

} // namespace
