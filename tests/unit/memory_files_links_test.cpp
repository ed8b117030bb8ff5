// The in-memory machine's links, short names, files in use, read-only files
// and URL cache patterns: what the cleaner's tests rely on behaving as
// Windows does (links followed by paths, removed alone; open files refused).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paths/uSysUtils.h"
#include "platform/FileOps.h"
#include "platform/memory/MemoryPlatform.h"

namespace {

using qp::mem::MemoryFileSystem;

constexpr std::uint32_t kReparse = 0x400;

class MemoryModel : public ::testing::Test {
protected:
  MemoryModel() { platform.Install(); }
  qp::mem::MemoryPlatform platform;
  qp::mem::MemoryFileSystem &fs = platform.Fs();
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

// Wine's views of a Unix symbolic link - no reparse-point attribute, or,
// for a folder, the attribute without a reparse tag: a removal through it
// reaches the target while the link stays.
TEST_F(MemoryLinks, UnmarkedAndTaglessLinksAreRemovedThroughToTheirTargets) {
  fs.AddFile("C:\\Outside\\keep.txt", "data");
  fs.AddFile("C:\\Outside\\full\\inner.txt");
  fs.AddDir("C:\\Outside\\empty");
  using Kind = MemoryFileSystem::LinkKind;
  using Mark = MemoryFileSystem::LinkMark;
  fs.AddLink("C:\\Base\\file.txt", "C:\\Outside\\keep.txt", Kind::FromTarget, Mark::Unmarked);
  fs.AddLink("C:\\Base\\full", "C:\\Outside\\full", Kind::FromTarget, Mark::Unmarked);
  fs.AddLink("C:\\Base\\empty", "C:\\Outside\\empty", Kind::FromTarget, Mark::Tagless);
  fs.AddLink("C:\\Base\\marked", "C:\\Outside\\full");

  EXPECT_EQ(fs.GetAttributes("C:\\Base\\file.txt"), wc::FileAttributeArchive);
  qp::FindData entry;
  ASSERT_NE(fs.FindFirst("C:\\Base\\empty", entry), nullptr);
  EXPECT_EQ(entry.attributes, wc::FileAttributeDirectory | kReparse);
  EXPECT_EQ(entry.reparseTag, 0u);
  ASSERT_NE(fs.FindFirst("C:\\Base\\marked", entry), nullptr);
  EXPECT_EQ(entry.reparseTag, 0xA0000003u); // IO_REPARSE_TAG_MOUNT_POINT
  EXPECT_EQ(fs.GetAttributes("C:\\Base\\full"), wc::FileAttributeDirectory);
  EXPECT_EQ(fs.DeleteFile("C:\\Base\\file.txt"), 0);
  EXPECT_FALSE(fs.Exists("C:\\Outside\\keep.txt"));
  EXPECT_TRUE(fs.IsLink("C:\\Base\\file.txt"));
  EXPECT_EQ(fs.RemoveDirectory("C:\\Base\\full"), wc::ErrorDirNotEmpty);
  EXPECT_TRUE(fs.Exists("C:\\Outside\\full\\inner.txt"));
  EXPECT_EQ(fs.RemoveDirectory("C:\\Base\\empty"), 0);
  EXPECT_FALSE(fs.Exists("C:\\Outside\\empty"));
  EXPECT_TRUE(fs.IsLink("C:\\Base\\empty"));
}

TEST_F(MemoryLinks, FinalPathFollowsEveryLinkAndExpandsShortNames) {
  fs.AddFile("C:\\Outside\\Data.bin");
  fs.AddFile("C:\\Long Folder\\File.txt");
  fs.SetShortName("C:\\Long Folder", "LONGFO~1");
  fs.AddLink("C:\\Base\\junction", "C:\\Outside");
  fs.AddLink("C:\\Base\\chain", "C:\\Base\\junction\\data.bin");
  fs.AddLink("C:\\Base\\plain", "C:\\Outside\\Data.bin", MemoryFileSystem::LinkKind::File,
             MemoryFileSystem::LinkMark::Unmarked);
  std::string out;
  EXPECT_EQ(fs.GetFinalPath("c:\\longfo~1\\FILE.TXT", out), 0);
  EXPECT_EQ(out, "C:\\Long Folder\\File.txt");
  EXPECT_EQ(fs.GetFinalPath("C:\\Base\\junction\\data.bin", out), 0);
  EXPECT_EQ(out, "C:\\Outside\\Data.bin");
  EXPECT_EQ(fs.GetFinalPath("C:\\Base\\chain", out), 0);
  EXPECT_EQ(out, "C:\\Outside\\Data.bin");
  EXPECT_EQ(fs.GetFinalPath("C:\\Base\\plain", out), 0);
  EXPECT_EQ(out, "C:\\Outside\\Data.bin");
  EXPECT_EQ(fs.GetFinalPath("C:\\Base\\junction\\", out), 0);
  EXPECT_EQ(out, "C:\\Outside");
  EXPECT_EQ(fs.GetFinalPath("c:", out), 0);
  EXPECT_EQ(out, "C:\\");
  EXPECT_EQ(fs.GetFinalPath("C:\\Base\\missing.txt", out), wc::ErrorFileNotFound);
  EXPECT_EQ(out, "");
  EXPECT_EQ(fs.GetFinalPath("C:\\Nowhere\\x.txt", out), wc::ErrorPathNotFound);
}

// The shared test of an entry against its folder, and paths' DeleteTree,
// which leaves an unmarked link below the folder it empties (removing it
// would remove what it points at) and says so.
TEST_F(MemoryLinks, EntriesLeadingElsewhereAreToldApartAndDeleteTreeLeavesThem) {
  fs.AddFile("C:\\Outside\\keep.txt", "data");
  fs.AddFile("C:\\Outside\\dir\\inner.txt", "more");
  fs.AddDir("C:\\Outside\\empty");
  fs.AddFile("C:\\Base\\Own File.txt");
  fs.SetShortName("C:\\Base\\Own File.txt", "OWNFIL~1.TXT");
  using Kind = MemoryFileSystem::LinkKind;
  using Mark = MemoryFileSystem::LinkMark;
  fs.AddLink("C:\\Base\\marked", "C:\\Outside\\dir");
  fs.AddLink("C:\\Base\\sub\\file.txt", "C:\\Outside\\keep.txt", Kind::File, Mark::Unmarked);
  fs.AddLink("C:\\Base\\sub\\dir", "C:\\Outside\\dir", Kind::Folder, Mark::Unmarked);
  fs.AddLink("C:\\Base\\empty", "C:\\Outside\\empty", Kind::Folder, Mark::Tagless);
  fs.AddLink("C:\\Via", "C:\\Base", Kind::Folder, Mark::Unmarked);

  const qp::TFolderFinalPath base("C:\\Base");
  ASSERT_TRUE(base.Known());
  EXPECT_FALSE(base.LeadsElsewhere("Own File.txt"));
  EXPECT_FALSE(base.LeadsElsewhere("own file.TXT"));
  EXPECT_FALSE(base.LeadsElsewhere("sub"));
  EXPECT_TRUE(base.LeadsElsewhere("marked"));
  EXPECT_TRUE(base.LeadsElsewhere("empty"));
  EXPECT_FALSE(base.LeadsElsewhere("missing.txt"));
  // A folder reached through a link: its entries are its own.
  EXPECT_FALSE(qp::TFolderFinalPath("C:\\Via\\").LeadsElsewhere("Own File.txt"));
  EXPECT_TRUE(qp::LeadsElsewhere("C:\\Via\\sub\\file.txt"));
  EXPECT_TRUE(qp::LeadsElsewhere("C:\\Via")); // it names the Base folder

  EXPECT_FALSE(quenlo::ShellDeleteFile("C:\\Base", false));
  EXPECT_EQ(fs.Content("C:\\Outside\\keep.txt"), "data");
  EXPECT_EQ(fs.Content("C:\\Outside\\dir\\inner.txt"), "more");
  EXPECT_TRUE(fs.Exists("C:\\Outside\\empty"));
  EXPECT_TRUE(fs.IsLink("C:\\Base\\sub\\file.txt"));
  EXPECT_TRUE(fs.IsLink("C:\\Base\\empty"));
  EXPECT_FALSE(fs.Exists("C:\\Base\\Own File.txt"));
  EXPECT_FALSE(fs.Exists("C:\\Base\\marked")); // a marked link is removed as a link
}

TEST_F(MemoryLinks, ShortNamesReachTheLongOnes) {
  fs.AddFile("C:\\Long Folder Name\\file.txt", "x");
  fs.SetShortName("C:\\Long Folder Name", "LONGFO~1");
  qp::FindData entry;
  ASSERT_NE(fs.FindFirst("C:\\longfo~1", entry), nullptr);
  EXPECT_EQ(entry.name, "Long Folder Name");
  EXPECT_EQ(Listing("C:\\LONGFO~1\\*"), (std::vector<std::string>{".", "..", "file.txt"}));
  EXPECT_EQ(fs.DeleteFile("C:\\LONGFO~1\\file.txt"), 0);
  EXPECT_EQ(fs.RemoveDirectory("C:\\LONGFO~1"), 0);
  EXPECT_FALSE(fs.Exists("C:\\Long Folder Name"));
}

TEST_F(MemoryFilesInUse, OpenFilesAreRefusedButReadable) {
  fs.AddFile("C:\\Data\\open.log", "text");
  fs.SetInUse("C:\\Data\\open.log", true);
  fs.AddFile("C:\\Data\\ro.txt", "", wc::FileAttributeReadOnly);
  std::unique_ptr<qp::IFileLock> lock;
  ASSERT_EQ(fs.OpenLockFile("C:\\Data\\held.lock", lock), 0);

  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\open.log"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\held.lock"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\ro.txt"), 0); // opened for reading only
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data\\missing.txt"), wc::ErrorFileNotFound);
  EXPECT_EQ(fs.TestExclusiveOpen("C:\\Data"), wc::ErrorAccessDenied);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\open.log"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.MoveFile("C:\\Data\\open.log", "C:\\Data\\moved.log", 0), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.RecycleFile("C:\\Data"), wc::ErrorSharingViolation);
  std::string data;
  EXPECT_EQ(fs.ReadFile("C:\\Data\\open.log", data), 0);
  lock.reset();

  fs.SetInUse("C:\\Data\\open.log", false);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\open.log"), 0);
}

TEST_F(MemoryFilesInUse, ReadOnlyFilesGoOnceTheirAttributeIsCleared) {
  fs.AddFile("C:\\Data\\ro.txt", "", wc::FileAttributeReadOnly | wc::FileAttributeHidden);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\ro.txt"), wc::ErrorAccessDenied);
  EXPECT_EQ(fs.SetAttributes("C:\\Data\\missing.txt", 0), wc::ErrorFileNotFound);
  EXPECT_EQ(fs.SetAttributes("C:\\Data", wc::FileAttributeHidden), 0);
  EXPECT_EQ(fs.GetAttributes("C:\\Data"), wc::FileAttributeDirectory | wc::FileAttributeHidden);
  EXPECT_EQ(fs.SetAttributes("C:\\Data\\ro.txt", wc::FileAttributeNormal), 0);
  EXPECT_EQ(fs.GetAttributes("C:\\Data\\ro.txt"), wc::FileAttributeNormal);
  EXPECT_EQ(fs.DeleteFile("C:\\Data\\ro.txt"), 0);

  // What SHFileOperation does and DeleteTree does too, unless the
  // attribute cannot be cleared.
  fs.AddFile("C:\\Tree\\a\\ro.txt", "", wc::FileAttributeReadOnly);
  EXPECT_TRUE(quenlo::ShellDeleteFile("C:\\Tree", false));
  EXPECT_FALSE(fs.Exists("C:\\Tree"));
  fs.AddFile("C:\\Tree\\ro.txt", "", wc::FileAttributeReadOnly);
  fs.InjectFailure(MemoryFileSystem::Op::SetAttributes, "ro.txt", wc::ErrorAccessDenied);
  EXPECT_FALSE(quenlo::ShellDeleteFile("C:\\Tree", false));
  EXPECT_TRUE(fs.Exists("C:\\Tree\\ro.txt"));
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
  EXPECT_EQ(desk.UrlCacheEntries().size(), 3u);
}

} // namespace
