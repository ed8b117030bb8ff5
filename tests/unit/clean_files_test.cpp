// The cleaner's file routines on the in-memory machine: the walkers' order,
// stop and masks; links reported and removed, never entered; files in use
// kept and read-only files removed, alike in analysis and clean; unsafe base
// folders refused; empty special folders taken as "not found".
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "cleaner/uCleanFiles.h"
#include "cleaner/uSysCleaner.h"

namespace quenlo {
namespace {

constexpr TCleanCategory kCategory = ccRecentDocuments;

class CleanFilesTest : public test::MemoryTest {
protected:
  TCleanPass &Pass(TScanMode mode) {
    result = TPassResult{};
    result.mode = mode;
    pass = std::make_unique<TCleanPass>(mode, result, terminated, mainThread);
    return *pass;
  }
  const TCategoryResult &Outcome() const { return result.categories[kCategory]; }
  bool Found() const { return Outcome().outcome == coDone || Outcome().outcome == coIncomplete; }
  std::vector<std::string> ItemNames() const {
    std::vector<std::string> names;
    for (const TCleanItem &item : Outcome().items)
      names.push_back(item.Name);
    return names;
  }
  std::vector<std::string> KeptNames() const {
    std::vector<std::string> names;
    for (const TCleanNote &note : Outcome().kept) {
      EXPECT_EQ(note.Reason, kReasonInUse) << note.Name;
      names.push_back(note.Name);
    }
    return names;
  }
  std::vector<std::string> Files(std::string_view folder, std::string_view mask, bool recursive,
                                 std::size_t stopAfter = 0) {
    std::vector<std::string> seen;
    const bool complete =
        WalkFiles(folder, mask, recursive, [&](const std::string &path, const qp::FindData &) {
          seen.push_back(path);
          return stopAfter == 0 || seen.size() < stopAfter;
        });
    EXPECT_EQ(complete, stopAfter == 0 || seen.size() < stopAfter);
    return seen;
  }
  std::vector<std::string> Folders(std::string_view folder, std::size_t stopAfter = 0) {
    std::vector<std::string> seen;
    WalkFolders(folder, kAllFilesMask, true, [&](const std::string &path) {
      seen.push_back(path);
      return stopAfter == 0 || seen.size() < stopAfter;
    });
    return seen;
  }

  TPassResult result;
  std::atomic<bool> terminated{false};
  qp::TMainThread mainThread;
  std::unique_ptr<TCleanPass> pass;
};

using CleanWalkers = CleanFilesTest;
using CleanLinks = CleanFilesTest;
using CleanSweep = CleanFilesTest;
using CleanBaseFolders = CleanFilesTest;
using CleanSpecialFolders = CleanFilesTest;
using CleanSingleFile = CleanFilesTest;

TEST_F(CleanWalkers, ParentsFilesComeBeforeTheirSubfoldersAndFoldersDeepestFirst) {
  // "sub" sorts between "a.txt" and "z.txt": a walker that recursed as it
  // met the folder would report sub's files before z.txt.
  fs.AddFile("C:\\Base\\a.txt", "1");
  fs.AddFile("C:\\Base\\z.txt", "22");
  fs.AddFile("C:\\Base\\sub\\b.txt");
  fs.AddFile("C:\\Base\\sub\\deep\\c.txt");
  fs.AddFile("C:\\Base\\sub2\\d.txt");
  fs.AddDir("C:\\Base\\sub2\\empty");

  EXPECT_EQ(Files("C:\\Base", kAllFilesMask, true),
            (std::vector<std::string>{"C:\\Base\\a.txt", "C:\\Base\\z.txt", "C:\\Base\\sub\\b.txt",
                                      "C:\\Base\\sub\\deep\\c.txt", "C:\\Base\\sub2\\d.txt"}));
  EXPECT_EQ(Files("C:\\Base\\", kAllFilesMask, false),
            (std::vector<std::string>{"C:\\Base\\a.txt", "C:\\Base\\z.txt"}));
  EXPECT_EQ(Folders("C:\\Base"),
            (std::vector<std::string>{"C:\\Base\\sub\\deep", "C:\\Base\\sub",
                                      "C:\\Base\\sub2\\empty", "C:\\Base\\sub2"}));

  std::vector<std::int64_t> sizes;
  WalkFiles("C:\\Base", kAllFilesMask, false, [&](const std::string &, const qp::FindData &e) {
    sizes.push_back(static_cast<std::int64_t>(e.size));
    return true;
  });
  EXPECT_EQ(sizes, (std::vector<std::int64_t>{1, 2}));
}

TEST_F(CleanWalkers, MaskReachesIntoSubfoldersThatDoNotMatchIt) {
  fs.AddFile("C:\\Cache\\index.dat");
  fs.AddFile("C:\\Cache\\page.htm");
  fs.AddFile("C:\\Cache\\Content.IE5\\index.dat");
  fs.AddFile("C:\\Cache\\Content.IE5\\ABCD\\index.dat");
  fs.AddFile("C:\\Cache\\Content.IE5\\ABCD\\pic.gif");

  EXPECT_EQ(Files("C:\\Cache", "index.dat", true),
            (std::vector<std::string>{"C:\\Cache\\index.dat", "C:\\Cache\\Content.IE5\\index.dat",
                                      "C:\\Cache\\Content.IE5\\ABCD\\index.dat"}));
  EXPECT_EQ(Files("C:\\Cache", "index.dat", false),
            (std::vector<std::string>{"C:\\Cache\\index.dat"}));
  EXPECT_TRUE(Files("C:\\Missing", kAllFilesMask, true).empty());
  EXPECT_TRUE(Folders("C:\\Missing").empty());
}

TEST_F(CleanWalkers, ACallbackAnsweringFalseStopsTheWholeWalk) {
  fs.AddFile("C:\\Base\\a.txt");
  fs.AddFile("C:\\Base\\b.txt");
  fs.AddFile("C:\\Base\\sub\\c.txt");
  fs.AddFile("C:\\Base\\sub\\deep\\d.txt");
  fs.AddFile("C:\\Base\\tail\\e.txt");

  EXPECT_EQ(Files("C:\\Base", kAllFilesMask, true, 1).size(), 1u);
  // Stopped inside a subfolder: nothing of the folders after it either.
  EXPECT_EQ(
      Files("C:\\Base", kAllFilesMask, true, 3),
      (std::vector<std::string>{"C:\\Base\\a.txt", "C:\\Base\\b.txt", "C:\\Base\\sub\\c.txt"}));
  EXPECT_EQ(Folders("C:\\Base", 1), (std::vector<std::string>{"C:\\Base\\sub\\deep"}));
}

TEST_F(CleanLinks, WalkersHandLinksOverWithoutEnteringThem) {
  fs.AddFile("C:\\Outside\\keep.txt");
  fs.AddFile("C:\\Outside\\inner\\keep2.txt");
  fs.AddFile("C:\\Outside\\data.bin", "abc");
  fs.AddLink("C:\\Base\\junction", "C:\\Outside");
  fs.AddLink("C:\\Base\\sub\\file.lnk", "C:\\Outside\\data.bin");
  fs.AddFile("C:\\Base\\own.txt");

  std::vector<std::string> seen;
  WalkFiles("C:\\Base", kAllFilesMask, true, [&](const std::string &path, const qp::FindData &e) {
    seen.push_back(path);
    if (path.find(".lnk") != std::string::npos || path.find("junction") != std::string::npos) {
      EXPECT_TRUE(IsLink(e)) << path;
      EXPECT_EQ(e.size, 0u) << path;
    }
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"C:\\Base\\junction", "C:\\Base\\own.txt",
                                            "C:\\Base\\sub\\file.lnk"}));
  EXPECT_EQ(Folders("C:\\Base"), (std::vector<std::string>{"C:\\Base\\junction", "C:\\Base\\sub"}));
}

TEST_F(CleanLinks, AFolderSwappedForALinkAfterItWasListedIsNotEntered) {
  fs.AddFile("C:\\Outside\\keep.txt");
  fs.AddFile("C:\\Base\\a.txt");
  fs.AddFile("C:\\Base\\sub\\b.txt");
  std::vector<std::string> seen;
  WalkFiles("C:\\Base", kAllFilesMask, true,
            [&](const std::string &path, const qp::FindData &entry) {
              seen.push_back(path + (LeadsElsewhere(entry) ? " (elsewhere)" : ""));
              if (path == "C:\\Base\\a.txt") { // "sub" is listed already
                fs.Remove("C:\\Base\\sub");
                fs.AddLink("C:\\Base\\sub", "C:\\Outside");
              }
              return true;
            });
  // Its entry still says "folder", but where it leads tells it apart: it
  // is handed over as a link, never entered.
  EXPECT_EQ(seen, (std::vector<std::string>{"C:\\Base\\a.txt", "C:\\Base\\sub (elsewhere)"}));
}

// The sweep and the single-file item with links Wine shows as plain
// entries: kept in both modes, never removed through.
TEST_F(CleanLinks, SweepAndSingleFileKeepUnmarkedLinks) {
  using Kind = qp::mem::MemoryFileSystem::LinkKind;
  using Mark = qp::mem::MemoryFileSystem::LinkMark;
  fs.AddFile("C:\\Outside\\keep.txt", "12345");
  fs.AddFile("C:\\Outside\\dir\\inner.txt", "in");
  fs.AddFile("C:\\Base\\own.txt");
  fs.AddLink("C:\\Base\\sub\\file.txt", "C:\\Outside\\keep.txt", Kind::File, Mark::Unmarked);
  fs.AddLink("C:\\Base\\dir", "C:\\Outside\\dir", Kind::Folder, Mark::Unmarked);
  const auto keptLinks = [&] {
    std::vector<std::string> names;
    for (const TCleanNote &note : Outcome().kept)
      names.push_back(note.Name + (note.Reason == kReasonLink ? "" : " (" + note.Reason + ")"));
    return names;
  };

  SweepFolder(Pass(smReport), kCategory, "C:\\Base");
  EXPECT_EQ(ItemNames(), std::vector<std::string>{"own.txt"});
  EXPECT_EQ(keptLinks(), (std::vector<std::string>{"dir", "sub\\file.txt"}));
  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  EXPECT_EQ(keptLinks(), (std::vector<std::string>{"dir", "sub\\file.txt"}));
  EXPECT_TRUE(Outcome().failures.empty());
  EXPECT_EQ(fs.Content("C:\\Outside\\keep.txt"), "12345");
  EXPECT_EQ(fs.Content("C:\\Outside\\dir\\inner.txt"), "in");
  EXPECT_FALSE(fs.Exists("C:\\Base\\own.txt"));

  for (const TScanMode mode : {smReport, smClean}) {
    SingleFileItem(Pass(mode), kCategory, "C:\\Base\\sub", "file.txt");
    EXPECT_TRUE(ItemNames().empty());
    EXPECT_EQ(keptLinks(), std::vector<std::string>{"file.txt"});
  }
  EXPECT_EQ(fs.Content("C:\\Outside\\keep.txt"), "12345");
}

TEST_F(CleanLinks, SweepAndShellDeleteRemoveTheLinkAndLeaveItsTarget) {
  fs.AddFile("C:\\Outside\\keep.txt", "12345");
  fs.AddFile("C:\\Outside\\inner\\keep2.txt");
  fs.AddFile("C:\\Outside\\data.bin", "abc");
  fs.AddLink("C:\\Base\\junction", "C:\\Outside");
  fs.AddLink("C:\\Base\\sub\\file.lnk", "C:\\Outside\\data.bin");
  fs.AddFile("C:\\Base\\own.txt");

  SweepFolder(Pass(smReport), kCategory, "C:\\Base");
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"junction", "own.txt", "sub\\file.lnk"}));
  for (const TCleanItem &item : Outcome().items)
    EXPECT_EQ(item.Size, 0) << item.Name; // links count 0 bytes, own.txt is empty

  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  EXPECT_FALSE(fs.Exists("C:\\Base"));
  EXPECT_EQ(fs.Content("C:\\Outside\\keep.txt"), "12345");
  EXPECT_TRUE(fs.Exists("C:\\Outside\\inner\\keep2.txt"));
  EXPECT_EQ(fs.Content("C:\\Outside\\data.bin"), "abc");
  EXPECT_TRUE(Outcome().failures.empty());

  // A base folder that is a link is not swept at all.
  fs.AddLink("C:\\Base", "C:\\Outside");
  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  EXPECT_FALSE(Found());
  EXPECT_EQ(fs.Content("C:\\Outside\\keep.txt"), "12345");
  EXPECT_TRUE(fs.IsLink("C:\\Base"));

  fs.AddLink("C:\\Parent\\deep\\junction", "C:\\Outside");
  fs.AddLink("C:\\Parent\\file.lnk", "C:\\Outside\\keep.txt",
             qp::mem::MemoryFileSystem::LinkKind::File);
  EXPECT_TRUE(ShellDelete("C:\\Parent"));
  EXPECT_FALSE(fs.Exists("C:\\Parent"));
  EXPECT_EQ(fs.List("C:\\Outside"), (std::vector<std::string>{"data.bin", "inner", "keep.txt"}));
}

TEST_F(CleanSweep, FilesInUseAreKeptInBothModesAndReadOnlyFilesGo) {
  fs.AddFile("C:\\Base\\open.log", "busy");
  fs.SetInUse("C:\\Base\\open.log", true);
  fs.AddFile("C:\\Base\\ro.txt", "ro", wc::FileAttributeReadOnly);
  fs.AddFile("C:\\Base\\sub\\x.txt", "xyz");
  fs.AddFile("C:\\Base\\sub\\held.tmp");
  fs.SetInUse("C:\\Base\\sub\\held.tmp", true);

  SweepFolder(Pass(smReport), kCategory, "C:\\Base\\");
  EXPECT_TRUE(Found());
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"ro.txt", "sub\\x.txt"}));
  ASSERT_EQ(Outcome().items.size(), 2u);
  EXPECT_EQ(Outcome().items[0].Size, 2);
  EXPECT_EQ(Outcome().items[1].Size, 3);
  EXPECT_EQ(KeptNames(), (std::vector<std::string>{"open.log", "sub\\held.tmp"}));
  EXPECT_TRUE(fs.Exists("C:\\Base\\ro.txt")); // the analysis changed nothing

  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  EXPECT_EQ(KeptNames(), (std::vector<std::string>{"open.log", "sub\\held.tmp"}));
  EXPECT_TRUE(Outcome().failures.empty());
  EXPECT_FALSE(fs.Exists("C:\\Base\\ro.txt"));
  EXPECT_FALSE(fs.Exists("C:\\Base\\sub\\x.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Base\\open.log"));
  EXPECT_TRUE(fs.Exists("C:\\Base\\sub\\held.tmp"));

  // Once nothing holds them, a clean takes the rest and the folder.
  fs.SetInUse("C:\\Base\\open.log", false);
  fs.SetInUse("C:\\Base\\sub\\held.tmp", false);
  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  EXPECT_FALSE(fs.Exists("C:\\Base"));
  EXPECT_TRUE(Outcome().kept.empty());
}

TEST_F(CleanSweep, OtherRefusalsAreFailuresWithTheirReasonAndAStopEndsTheClean) {
  fs.AddFile("C:\\Base\\a.txt");
  fs.AddFile("C:\\Base\\b.txt");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Delete, "a.txt", wc::ErrorAccessDenied);
  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  ASSERT_EQ(Outcome().failures.size(), 1u);
  EXPECT_EQ(Outcome().failures[0].Name, "a.txt");
  EXPECT_EQ(Outcome().failures[0].Reason, kReasonAccessDenied);
  EXPECT_EQ(Outcome().outcome, coIncomplete);
  EXPECT_FALSE(fs.Exists("C:\\Base\\b.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Base"));

  fs.AddFile("C:\\Base\\c.txt");
  terminated = true;
  SweepFolder(Pass(smClean), kCategory, "C:\\Base");
  EXPECT_TRUE(fs.Exists("C:\\Base\\a.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Base\\c.txt"));
}

TEST_F(CleanBaseFolders, RefusesEveryKindOfUnsafeFolder) {
  for (const char *folder : {"",
                             "Temp",
                             "C:Temp",
                             "\\Temp",
                             "C:",
                             "C:\\",
                             "c:/",
                             "\\\\server\\share",
                             "\\\\server\\share\\",
                             "C:\\Windows",
                             "c:\\windows\\",
                             "C:\\Windows.",
                             "C:/Windows",
                             "C:\\Windows\\System32",
                             "C:\\Windows\\SysWOW64",
                             "C:\\Users\\user",
                             "C:\\USERS\\USER\\",
                             "C:\\Users",
                             "C:\\Program Files",
                             "C:\\Program Files (x86)",
                             "C:\\Users\\user\\AppData\\..",
                             "C:\\Users\\user\\AppData\\..\\..\\..\\Windows",
                             "C:\\Users\\user\\.\\"}) {
    std::string reason;
    EXPECT_FALSE(IsSafeBaseFolder(folder, &reason)) << folder;
    EXPECT_FALSE(reason.empty()) << folder;
  }
  for (const char *folder :
       {"C:\\Users\\user\\AppData\\Local\\Temp", "C:\\Users\\user\\AppData\\Local\\Temp\\",
        "C:\\Windows\\Temp", "C:\\Windows\\System32\\LogFiles\\W3SVC1", "\\\\server\\share\\logs",
        "C:\\Users\\user2", "C:\\Users\\use", "C:\\Program Files\\Quenlo\\cache"})
    EXPECT_TRUE(IsSafeBaseFolder(folder)) << folder;
}

TEST_F(CleanBaseFolders, FollowsTheMachinesOwnFoldersAndRefusesASweepOfThem) {
  fs.AddFile("C:\\Users\\user\\Documents\\letter.doc");
  SweepFolder(Pass(smClean), kCategory, "C:\\Users\\user");
  EXPECT_EQ(Outcome().outcome, coFailed);
  EXPECT_EQ(Outcome().reason, kReasonUnsafeFolder);
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\Documents\\letter.doc"));
  SweepFolder(Pass(smClean), kCategory, "Documents");
  EXPECT_EQ(Outcome().outcome, coFailed);
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\Documents\\letter.doc"));

  // A profile elsewhere: it, and the folder above it, are refused.
  sys.SetSpecialFolder(kCsidlProfile, "D:\\Profiles\\bob");
  EXPECT_FALSE(IsSafeBaseFolder("D:\\Profiles\\bob"));
  EXPECT_FALSE(IsSafeBaseFolder("D:\\Profiles"));
  EXPECT_TRUE(IsSafeBaseFolder("D:\\Profiles\\bob\\AppData\\Local\\Temp"));
  // The profiles folder stays refused through the shared profile.
  ASSERT_TRUE(sys.SetEnvironmentVariable("USERPROFILE", "D:\\Profiles\\bob"));
  EXPECT_FALSE(IsSafeBaseFolder("C:\\Users"));
  sys.SetWindowsDirectory("E:\\WinNT");
  EXPECT_FALSE(IsSafeBaseFolder("E:\\WinNT"));
}

TEST_F(CleanBaseFolders, ShortNamesAreReadAsTheLongOnes) {
  fs.SetShortName("C:\\Program Files", "PROGRA~1");
  fs.SetShortName("C:\\Users\\user", "USERPR~1");
  EXPECT_FALSE(IsSafeBaseFolder("C:\\PROGRA~1"));
  EXPECT_FALSE(IsSafeBaseFolder("c:\\progra~1\\"));
  EXPECT_FALSE(IsSafeBaseFolder("C:\\Users\\USERPR~1"));
  EXPECT_TRUE(IsSafeBaseFolder("C:\\Users\\USERPR~1\\AppData\\Local\\Temp"));
  // The machine's own folders in short form guard their long form too.
  sys.SetWindowsDirectory("C:\\PROGRA~1\\WinNT");
  EXPECT_FALSE(IsSafeBaseFolder("C:\\Program Files\\WinNT"));
}

TEST_F(CleanSpecialFolders, AnEmptyOrRelativeSpecialFolderIsNotFound) {
  EXPECT_EQ(GetSpecialFolderPath(kCsidlRecent),
            "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Recent");
  sys.SetSpecialFolder(kCsidlInternetCache, "C:\\Cache\\");
  EXPECT_EQ(GetSpecialFolderPath(kCsidlInternetCache), "C:\\Cache");
  for (std::optional<std::string> answer :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("Recent"), std::optional<std::string>("C:Recent")}) {
    sys.SetSpecialFolder(kCsidlRecent, answer);
    EXPECT_EQ(GetSpecialFolderPath(kCsidlRecent), "") << answer.value_or("<none>");
  }

  // The fault this guards against: an empty folder taken as the current
  // directory, whose files a sweep would remove.
  fs.SetCurrentDirectory("C:\\Work");
  fs.AddFile("C:\\Work\\report.doc");
  SweepFolder(Pass(smClean), kCategory, GetSpecialFolderPath(kCsidlRecent));
  EXPECT_TRUE(fs.Exists("C:\\Work\\report.doc"));
  EXPECT_FALSE(Found());
  EXPECT_NE(Outcome().outcome, coFailed);
  SweepFolder(Pass(smReport), kCategory, "C:\\Missing");
  EXPECT_FALSE(Found());
}

TEST_F(CleanSpecialFolders, BrowserFolders) {
  const std::string profiles = "C:\\Users\\user\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\";
  EXPECT_FALSE(FirefoxProfileFolder(false).exists);
  fs.AddFile(profiles + "aaa.default"); // a file of that name is no profile
  fs.AddDir(profiles + "x1y2.default");
  fs.AddDir(profiles + "z9.default");
  const TBrowserFolder firefox = FirefoxProfileFolder(false);
  EXPECT_TRUE(firefox.exists);
  EXPECT_EQ(firefox.path, profiles + "x1y2.default\\");
  EXPECT_FALSE(FirefoxProfileFolder(true).exists);

  const TBrowserFolder chrome = ChromeProfileFolder("Cache");
  EXPECT_EQ(chrome.path,
            "C:\\Users\\user\\AppData\\Local\\Google\\Chrome\\User Data\\Default\\Cache\\");
  EXPECT_FALSE(chrome.exists);
  fs.AddDir(chrome.path);
  EXPECT_TRUE(ChromeProfileFolder("Cache").exists);

  sys.SetSpecialFolder(kCsidlAppData, std::nullopt);
  EXPECT_EQ(FirefoxProfileFolder(false).path, "");
  EXPECT_EQ(SafariPreferencesFolder().path, "");
  EXPECT_FALSE(SafariPreferencesFolder().exists);
}

TEST_F(CleanSingleFile, ListsRemovesOrKeepsOneNamedFile) {
  fs.AddFile("C:\\Opera\\cookies4.dat", "12345", wc::FileAttributeReadOnly);
  fs.SetReportedSize("C:\\Opera\\cookies4.dat", 5'000'000'000ull);
  SingleFileItem(Pass(smReport), kCategory, "C:\\Opera", "cookies4.dat");
  ASSERT_EQ(Outcome().items.size(), 1u);
  EXPECT_EQ(Outcome().items[0].Name, "cookies4.dat");
  EXPECT_EQ(Outcome().items[0].Size, 5'000'000'000ll);

  fs.SetInUse("C:\\Opera\\cookies4.dat", true);
  SingleFileItem(Pass(smReport), kCategory, "C:\\Opera\\", "cookies4.dat");
  EXPECT_TRUE(Outcome().items.empty());
  EXPECT_EQ(KeptNames(), (std::vector<std::string>{"cookies4.dat"}));
  SingleFileItem(Pass(smClean), kCategory, "C:\\Opera", "cookies4.dat");
  EXPECT_EQ(KeptNames(), (std::vector<std::string>{"cookies4.dat"}));
  EXPECT_TRUE(fs.Exists("C:\\Opera\\cookies4.dat"));
  // A file the clean could not remove keeps its read-only attribute.
  EXPECT_NE(fs.GetAttributes("C:\\Opera\\cookies4.dat") & wc::FileAttributeReadOnly, 0u);

  fs.SetInUse("C:\\Opera\\cookies4.dat", false);
  SingleFileItem(Pass(smClean), kCategory, "C:\\Opera", "cookies4.dat");
  EXPECT_FALSE(fs.Exists("C:\\Opera\\cookies4.dat"));
  EXPECT_TRUE(Outcome().failures.empty());

  SingleFileItem(Pass(smReport), kCategory, "C:\\Opera", "cookies4.dat");
  EXPECT_FALSE(Found());
  // A name that is not a plain file name reaches nothing outside.
  fs.AddFile("C:\\secret.txt");
  fs.AddFile("C:\\Opera\\sub\\x.txt");
  for (const char *name : {"..\\secret.txt", "..", "...", "sub", "*.txt", "C:\\secret.txt"})
    SingleFileItem(Pass(smClean), kCategory, "C:\\Opera", name);
  EXPECT_TRUE(fs.Exists("C:\\secret.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Opera\\sub\\x.txt"));
  SingleFileItem(Pass(smClean), kCategory, "", "secret.txt");
  EXPECT_TRUE(fs.Exists("C:\\secret.txt"));
}

TEST_F(CleanSingleFile, SizesNamesAndPlainDelete) {
  fs.AddFile("C:\\Data\\big.bin");
  fs.SetReportedSize("C:\\Data\\big.bin", 1ull << 33);
  EXPECT_EQ(GetFileSizeByName("C:\\Data\\big.bin"), std::int64_t{1} << 33);
  EXPECT_EQ(GetFileSizeByName("C:\\Data\\missing.bin"), -1);

  EXPECT_EQ(RelativeName("C:\\Base", "C:\\Base\\sub\\x.txt"), "sub\\x.txt");
  EXPECT_EQ(RelativeName("C:\\Base\\", "c:\\base\\x.txt"), "x.txt");
  EXPECT_EQ(RelativeName("C:\\Base", "C:\\Basement\\x.txt"), "C:\\Basement\\x.txt");
  EXPECT_EQ(RelativeName("C:\\Base", "C:\\Base"), "C:\\Base");

  for (const char *name : {"History.plist", "cookies4.dat", "a b.txt", ".hidden"})
    EXPECT_TRUE(IsPlainFileName(name)) << name;
  for (const char *name :
       {"", ".", "..", "...", "a\\b", "a/b", "C:x", "x*", "x?", "a.", "a ", "tab\there", "a|b"})
    EXPECT_FALSE(IsPlainFileName(name)) << name;

  // The plain delete leaves a read-only file alone: its callers record it.
  fs.AddFile("C:\\Data\\ro.dat", "", wc::FileAttributeReadOnly);
  EXPECT_EQ(PlainDelete("C:\\Data\\ro.dat"), wc::ErrorAccessDenied);
  EXPECT_TRUE(fs.Exists("C:\\Data\\ro.dat"));
  // The shell delete reports each entry it could not remove.
  fs.AddFile("C:\\Data\\sub\\open.db");
  fs.SetInUse("C:\\Data\\sub\\open.db", true);
  std::vector<std::pair<std::string, long>> failed;
  EXPECT_FALSE(ShellDelete("C:\\Data", [&](const std::string &path, long status) {
    failed.emplace_back(path, status);
  }));
  EXPECT_EQ(failed, (std::vector<std::pair<std::string, long>>{
                        {"C:\\Data\\sub\\open.db", wc::ErrorSharingViolation}}));
  EXPECT_FALSE(fs.Exists("C:\\Data\\ro.dat"));
  EXPECT_TRUE(ShellDelete("C:\\Nothing\\here"));
  EXPECT_FALSE(ShellDelete("C:\\"));
  EXPECT_FALSE(ShellDelete("relative"));
  EXPECT_FALSE(ShellDelete("C:\\Data\\.."));
  EXPECT_FALSE(ShellDelete("C:\\Windows"));
  EXPECT_FALSE(ShellDelete("C:\\Users\\user\\"));
  EXPECT_TRUE(fs.Exists("C:\\Windows\\notepad.exe"));
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\AppData"));
}

} // namespace
} // namespace quenlo
