// Benchmark of a full scan (every category) against a bare walk of the same
// registry: builds a synthetic tree of `keys` keys with two string values
// each (a tenth of all values are file paths, most of them to a pool of
// existing programs, some to missing files), then times
//  * the bare walk: every key of HKLM and HKCU opened once, its values and
//    subkeys enumerated and string data converted, in each view the scan
//    visits;
//  * the full scan through the scanner;
// and prints both, their ratio, the findings and the peak memory.
//
// Native: on the in-memory Windows. Windows build (run under Wine on a
// throwaway prefix): the keys are created below the bench marker key in
// HKLM\Software and HKCU\Software and deleted at the end.
//
// Usage: bench_full_scan [keys]      one size (default 200000)
//        bench_full_scan --growth    50k ... 1M keys, each in its own process
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"
#include "scanner/uRegScanner.h"

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#else
#include <sys/resource.h>

#include <fstream>

#include "platform/memory/MemoryPlatform.h"
#endif

namespace {

using namespace quenlo;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t HKLM = wc::HkeyLocalMachine;
constexpr std::uint32_t HKCU = wc::HkeyCurrentUser;
constexpr const char *kMarker = "Software\\QuenloBenchFull";
constexpr int kBranch = 8;      // subkeys per key in the synthetic tree
constexpr int kPrograms = 2000; // existing programs the paths point to

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

qp::Bytes StringData(const std::string &text) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

std::string ProgramPath(int n) {
  return "C:\\Program Files\\QuenloBenchApp" + std::to_string(n) + "\\app.exe";
}

// Key n of the tree: its parent is key (n - 1) / kBranch; key 0 is the
// marker key. Keys alternate between HKCU (three in five) and HKLM by
// their top-level branch.
struct Tree {
  int keys;
  std::uint32_t RootOf(int n) const {
    while (n > kBranch)
      n = (n - 1) / kBranch;
    return n % 5 < 3 ? HKCU : HKLM;
  }
  std::string PathOf(int n) const {
    std::vector<int> chain;
    for (; n > 0; n = (n - 1) / kBranch)
      chain.push_back(n);
    std::string path = kMarker;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      path += "\\K" + std::to_string((*it - 1) % kBranch) + "_" + std::to_string(*it);
    return path;
  }
};

int Paths = 0, Missing = 0;
int MissingEvery = 20; // one path in this many names a missing file

// Two values per key; every fifth value is a path (a tenth of all values),
// one path in twenty names a missing file.
void SetValues(qp::HKey key, int n) {
  qp::IgnoreResult(
      Reg().SetValue(key, "Name", wc::RegSz, StringData("Item number " + std::to_string(n))));
  std::string second = "Setting " + std::to_string(n * 7) + ", plain text";
  std::uint32_t type = wc::RegSz;
  if (n % 5 == 0) {
    ++Paths;
    const int k = n / 5;
    if (k % MissingEvery == 7) {
      ++Missing;
      second = "C:\\QuenloGone\\lib" + std::to_string(n) + ".dll";
    } else if (k % 4 == 1) {
      second = "%ProgramFiles%\\QuenloBenchApp" + std::to_string(k % kPrograms) + "\\app.exe";
      type = wc::RegExpandSz;
    } else {
      second = "\"" + ProgramPath(k % kPrograms) + "\" /run";
    }
  }
  qp::IgnoreResult(Reg().SetValue(key, "Data", type, StringData(second)));
}

void Build(const Tree &tree) {
  const std::uint32_t sam = wc::KeyAllAccess | ViewFlag(rv64);
  for (int n = 1; n < tree.keys; ++n) {
    qp::HKey key = 0;
    if (Reg().CreateKey(tree.RootOf(n), tree.PathOf(n), sam, key, nullptr) != wc::ErrorSuccess)
      continue;
    SetValues(key, n);
    qp::IgnoreResult(Reg().CloseKey(key));
  }
}

// --- the bare walk

struct WalkCounts {
  std::uint64_t keys = 0, values = 0, bytes = 0;
};

void BareWalk(std::uint32_t root, const std::string &path, std::uint32_t sam, WalkCounts &c) {
  qp::HKey key = 0;
  if (Reg().OpenKey(root, path, sam, key) != wc::ErrorSuccess)
    return;
  ++c.keys;
  qp::KeyInfo info;
  std::vector<std::string> subKeys;
  if (Reg().QueryInfoKey(key, info) == wc::ErrorSuccess) {
    std::string name;
    std::uint32_t type = 0;
    qp::Bytes data;
    for (std::uint32_t i = 0; i < info.values; ++i) {
      if (Reg().EnumValue(key, i, info.maxValueNameLen + 1, info.maxValueLen, name, type, data) !=
          wc::ErrorSuccess)
        continue;
      ++c.values;
      c.bytes += DataToText(type, data).size();
    }
    for (std::uint32_t i = 0; i < info.subKeys; ++i)
      if (Reg().EnumKey(key, i, info.maxSubKeyLen + 1, name) == wc::ErrorSuccess)
        subKeys.push_back(name);
  }
  qp::IgnoreResult(Reg().CloseKey(key));
  for (const std::string &name : subKeys)
    BareWalk(root, path.empty() ? name : path + "\\" + name, sam, c);
}

#ifndef _WIN32
long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}
long StatusKb(const char *field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0)
      return std::atol(line.c_str() + std::string(field).size());
  return -1;
}
// Lets VmHWM measure the scan alone.
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

int Growth(const char *self) {
  std::printf("%9s %9s %9s %9s %7s %9s %11s %11s\n", "keys", "values", "bare s", "scan s", "ratio",
              "findings", "base MB", "scan+MB");
  std::fflush(stdout);
  for (const int keys : {50000, 100000, 250000, 500000, 1000000}) {
    const std::string command = std::string(self) + " " + std::to_string(keys) + " --row";
    if (std::system(command.c_str()) != 0)
      return 1;
  }
  return 0;
}
#endif

} // namespace

int main(int argc, char **argv) {
#ifndef _WIN32
  if (argc > 1 && std::string(argv[1]) == "--growth")
    return Growth(argv[0]);
#endif
  const int keys = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200000;
  const bool row = argc > 2 && std::string(argv[2]) == "--row";
  if (const char *every = std::getenv("QUENLO_BENCH_MISSING_EVERY"))
    MissingEvery = std::max(8, std::atoi(every));
#ifdef _WIN32
  qp::win32::InstallWin32Platform();
#else
  qp::mem::MemoryPlatform platform;
  platform.Install();
  for (int n = 0; n < kPrograms; ++n)
    platform.Fs().AddFile(ProgramPath(n), "MZ");
#endif
  qp::TMainThread main;
  InitRegistryLayer();

  const Tree tree{keys};
  const auto built = Clock::now();
  Build(tree);
  const double buildSeconds = Seconds(Clock::now() - built);
#ifdef _WIN32
  // The programs the paths name, in the prefix.
  for (int n = 0; n < kPrograms; n += 1) {
    const std::string dir = "C:\\Program Files\\QuenloBenchApp" + std::to_string(n);
    qp::Platform().Files().CreateDirectory(dir);
    qp::Platform().Files().WriteFile(ProgramPath(n), "MZ");
  }
#endif

  const bool both = ReflectionAvailable && ProcessOnWow64;
  double bestBare = 1e30, bestScan = 1e30;
  WalkCounts counts;
  int findings = 0;
  long baseKb = 0, scanKb = 0;
  // Best of three; the largest sizes once.
  for (int round = 0; round < (keys > 250000 ? 1 : 3); ++round) {
    auto start = Clock::now();
    counts = {};
    for (const TRegistryView view : {rv32, rv64}) {
      if (view == rv64 && !both)
        break;
      for (const std::uint32_t root : {HKLM, HKCU})
        BareWalk(root, "", wc::KeyRead | ViewFlag(view), counts);
    }
    bestBare = std::min(bestBare, Seconds(Clock::now() - start));

#ifndef _WIN32
    baseKb = StatusKb("VmRSS:");
    ResetPeak();
#endif
    TRegScanner scanner(main);
    scanner.SetScanCategories(AllCategories);
    start = Clock::now();
    scanner.StartScan();
    while (scanner.IsScanning())
      main.PumpWait(std::chrono::milliseconds(1));
    bestScan = std::min(bestScan, Seconds(Clock::now() - start));
    findings = scanner.ErrorCount();
#ifndef _WIN32
    scanKb = std::max(scanKb, StatusKb("VmHWM:") - baseKb);
#endif
  }
  if (row) {
    std::printf("%9d %9llu %9.3f %9.3f %7.2f %9d %11.1f %11.1f\n", keys,
                static_cast<unsigned long long>(counts.values), bestBare, bestScan,
                bestScan / bestBare, findings, baseKb / 1024.0, scanKb / 1024.0);
    return 0;
  }
  std::printf("built %d keys, %d values (%d paths, %d missing) in %.2f s\n", keys, 2 * (keys - 1),
              Paths, Missing, buildSeconds);
  std::printf("bare walk: %.3f s (%llu keys, %llu values, %s)\n", bestBare,
              static_cast<unsigned long long>(counts.keys),
              static_cast<unsigned long long>(counts.values), both ? "both views" : "one view");
  std::printf("full scan: %.3f s (%d findings)\n", bestScan, findings);
  std::printf("ratio full scan / bare walk: %.2f\n", bestScan / bestBare);
#ifndef _WIN32
  std::printf("memory: %.1f MB with the registry built, the scan adds at most %.1f MB "
              "(process peak %.1f MB)\n",
              baseKb / 1024.0, scanKb / 1024.0, PeakRssKb() / 1024.0);
#else
  for (const std::uint32_t root : {HKLM, HKCU})
    for (const TRegistryView view : {rv64, rv32})
      DeleteKeyTree(root, view, kMarker);
  for (int n = 0; n < kPrograms; ++n) {
    qp::Platform().Files().DeleteFile(ProgramPath(n));
    qp::Platform().Files().RemoveDirectory("C:\\Program Files\\QuenloBenchApp" + std::to_string(n));
  }
#endif
  return 0;
}
