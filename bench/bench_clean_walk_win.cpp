// Benchmark of the cleaner's file walk on the real Win32 file system (run
// under Wine on a throwaway folder, removed at the end). Prints figures; it
// asserts nothing.
//
// The walk asks, for every entry, whether it leads elsewhere (one open and
// GetFinalPathNameByHandle per entry), so that a link the system does not
// mark as one is never entered or removed. This measures what that costs:
// an analysis walk (WalkFiles with the in-use test, as the temporary files'
// analysis does) next to a bare FindFirstFile/FindNextFile listing of the
// same tree as the baseline, and the ratio of the two.
//
// usage: bench_clean_walk_win [--folders N] [--files-per-folder N] [--rounds N]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "cleaner/uCleanFiles.h"
#include "paths/uSysUtils.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Platform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TOptions {
  int folders = 50;
  int filesPerFolder = 200;
  int rounds = 3;
};

TOptions ParseOptions(int argc, wchar_t **argv) {
  TOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const int value = std::max(1, static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10)));
    if (std::wcscmp(argv[i], L"--folders") == 0)
      options.folders = value;
    else if (std::wcscmp(argv[i], L"--files-per-folder") == 0)
      options.filesPerFolder = value;
    else if (std::wcscmp(argv[i], L"--rounds") == 0)
      options.rounds = value;
  }
  return options;
}

// The baseline: every entry of the tree listed, nothing opened (with
// inUseTest, each file also opened for the in-use test, as the analysis
// does).
std::uint64_t ListTree(const std::string &folder, bool inUseTest = false) {
  std::uint64_t count = 0;
  qp::FindData entry;
  auto find = qp::Platform().Files().FindFirst(folder + "\\*", entry);
  if (!find)
    return 0;
  do {
    if (entry.name == "." || entry.name == "..")
      continue;
    if ((entry.attributes & wc::FileAttributeDirectory) != 0)
      count += ListTree(folder + "\\" + entry.name, inUseTest);
    else if (!inUseTest || quenlo::CanOpenExclusive(folder + "\\" + entry.name))
      ++count;
  } while (find->Next(entry));
  return count;
}

template <typename Fn> double Seconds(Fn &&fn) {
  const auto start = Clock::now();
  fn();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int wmain(int argc, wchar_t **argv) {
  qp::win32::InstallWin32Platform();
  const TOptions options = ParseOptions(argc, argv);
  auto &files = qp::Platform().Files();
  const std::string root = qp::Platform().System().GetTempPath() + "QuenloBenchWalk";
  qp::IgnoreResult(quenlo::ShellDeleteFile(root, false));
  if (files.CreateDirectory(root) != 0) {
    std::printf("cannot create %s\n", root.c_str());
    return 1;
  }
  for (int f = 0; f < options.folders; ++f) {
    const std::string folder = root + "\\folder" + std::to_string(f);
    qp::IgnoreResult(files.CreateDirectory(folder));
    for (int n = 0; n < options.filesPerFolder; ++n)
      qp::IgnoreResult(files.WriteFile(folder + "\\file" + std::to_string(n) + ".tmp", "x"));
  }

  std::printf("tree: %d folders x %d files\n", options.folders, options.filesPerFolder);
  double bestList = 1e9;
  double bestListOpen = 1e9;
  double bestWalkOnly = 1e9;
  double bestWalk = 1e9;
  std::uint64_t listed = 0;
  std::uint64_t walked = 0;
  for (int round = 0; round < options.rounds; ++round) {
    bestList = std::min(bestList, Seconds([&] { listed = ListTree(root); }));
    bestListOpen = std::min(bestListOpen, Seconds([&] { qp::IgnoreResult(ListTree(root, true)); }));
    bestWalkOnly = std::min(bestWalkOnly, Seconds([&] {
                              qp::IgnoreResult(quenlo::WalkFiles(
                                  root, quenlo::kAllFilesMask, true,
                                  [](const std::string &, const qp::FindData &) { return true; }));
                            }));
    bestWalk = std::min(bestWalk, Seconds([&] {
                          walked = 0;
                          qp::IgnoreResult(
                              quenlo::WalkFiles(root, quenlo::kAllFilesMask, true,
                                                [&](const std::string &path, const qp::FindData &) {
                                                  walked += quenlo::CanOpenExclusive(path) ? 1 : 0;
                                                  return true;
                                                }));
                        }));
  }
  std::printf("bare listing: %llu files in %.3f s (%.1f us per file)\n",
              static_cast<unsigned long long>(listed), bestList,
              bestList * 1e6 / static_cast<double>(std::max<std::uint64_t>(listed, 1)));
  std::printf("analysis walk (link test + in-use test): %llu files in %.3f s (%.1f us per file)\n",
              static_cast<unsigned long long>(walked), bestWalk,
              bestWalk * 1e6 / static_cast<double>(std::max<std::uint64_t>(walked, 1)));
  const double perFile = 1e6 / static_cast<double>(std::max<std::uint64_t>(listed, 1));
  std::printf("listing + in-use test: %.1f us per file\n", bestListOpen * perFile);
  std::printf("walk (link test) without the in-use test: %.1f us per file\n",
              bestWalkOnly * perFile);
  std::printf("ratio walk / listing: %.1f; analysis walk / listing + in-use test: %.2f\n",
              bestWalk / std::max(bestList, 1e-9), bestWalk / std::max(bestListOpen, 1e-9));
  qp::IgnoreResult(quenlo::ShellDeleteFile(root, false));
  return 0;
}
