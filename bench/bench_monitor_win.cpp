// Benchmark of the registry monitor on the real Win32 registry (run under
// Wine on a throwaway prefix; its keys live below HKCU\Software\QuenloBench
// and are deleted at the end). Prints figures; it asserts nothing.
//
// 1. Latency. Another process (this program with --writer) creates N values
//    one at a time, each holding the moment it was written
//    (GetSystemTimePreciseAsFileTime) as a REG_QWORD. The monitor's handler
//    stamps each value's event on arrival; latency = arrival - written. As a
//    baseline, the same writer against a plain RegNotifyChangeKeyValue wait
//    in this process (re-armed at once, then the newest value read).
// 2. Idle CPU. The monitor on 64 keys with nothing changing, the process's
//    CPU time (GetProcessTimes) over the idle time, next to the same process
//    idle without the monitor for as long.
//
// usage: bench_monitor_win [--values N] [--interval-ms MS] [--idle-seconds S]
//        bench_monitor_win --writer KEYPATH N INTERVAL_MS   (the writer process)
#include "platform/win32/WinApi.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "monitor/uRegMonitor.h"
#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinHandles.h"
#include "registry/uRegAccess.h"

namespace {

using namespace quenlo;
using Clock = std::chrono::steady_clock;

constexpr const wchar_t *kBenchKey = L"Software\\QuenloBench";
constexpr const char *kBenchKeyText = "Software\\QuenloBench";
constexpr int kIdleKeys = 64;
constexpr DWORD kWriterTimeoutMs = 120000;
constexpr auto kArrivalGrace = std::chrono::seconds(5);

// Whether to keep waiting for events: until the writer has ended and then
// for a grace period.
class TWriterWatch {
public:
  explicit TWriterWatch(HANDLE writer) : writer_(writer) {}
  bool StillWaiting() {
    if (!done_ && ::WaitForSingleObject(writer_, 0) == WAIT_OBJECT_0) {
      done_ = true;
      doneAt_ = Clock::now();
    }
    return !done_ || Clock::now() < doneAt_ + kArrivalGrace;
  }

private:
  HANDLE writer_;
  bool done_ = false;
  Clock::time_point doneAt_{};
};

struct TOptions {
  int values = 200;
  int intervalMs = 20;
  int idleSeconds = 60;
};

// A registry key closed on destruction.
struct HKeyTraits {
  using Handle = HKEY;
  static constexpr HKEY Invalid() noexcept { return nullptr; }
  static void Close(HKEY key) noexcept { ::RegCloseKey(key); }
};
using UniqueHKey = qp::TUniqueAny<HKeyTraits>;

// FILETIME as one number (100 ns units), as precise as the system gives.
std::uint64_t PreciseNow() {
  using TPreciseTime = VOID(WINAPI *)(LPFILETIME);
  static const TPreciseTime precise = qp::win32::ProcAddress<TPreciseTime>(
      ::GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime");
  FILETIME ft{};
  if (precise != nullptr)
    precise(&ft);
  else
    ::GetSystemTimeAsFileTime(&ft);
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

double TicksToMs(std::int64_t ticks) {
  return static_cast<double>(ticks) / 10000.0;
}

std::wstring ValueName(int i) {
  wchar_t name[16];
  std::swprintf(name, 16, L"v%04d", i);
  return name;
}

bool CreateKey(const std::wstring &path, UniqueHKey &key) {
  HKEY raw = nullptr;
  const LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &raw, nullptr);
  key.Reset(status == ERROR_SUCCESS ? raw : nullptr);
  if (status != ERROR_SUCCESS)
    std::fprintf(stderr, "RegCreateKeyEx: %s\n", SysErrorMessage(status).c_str());
  return status == ERROR_SUCCESS;
}

void DeleteBenchKeys() {
  qp::IgnoreResult(DeleteKeyTree(wc::HkeyCurrentUser, rv64, kBenchKeyText));
}

// --- the writer process

int RunWriter(const std::wstring &path, int count, int intervalMs) {
  UniqueHKey key;
  if (!CreateKey(path, key))
    return 1;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t stamp = PreciseNow();
    const LONG status = ::RegSetValueExW(key.Get(), ValueName(i).c_str(), 0, REG_QWORD,
                                         reinterpret_cast<const BYTE *>(&stamp), sizeof stamp);
    if (status != ERROR_SUCCESS) {
      std::fprintf(stderr, "RegSetValueEx: %s\n", SysErrorMessage(status).c_str());
      return 1;
    }
    ::Sleep(static_cast<DWORD>(intervalMs));
  }
  return 0;
}

// Starts this program as the writer for HKCU\path.
bool StartWriter(const std::wstring &path, const TOptions &options,
                 qp::win32::UniqueHandle &process) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  std::wstring command = L"\"" + std::wstring(self) + L"\" --writer \"" + path + L"\" " +
                         std::to_wstring(options.values) + L" " +
                         std::to_wstring(options.intervalMs);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    std::fprintf(stderr, "CreateProcess: %s\n",
                 SysErrorMessage(static_cast<long>(::GetLastError())).c_str());
    return false;
  }
  ::CloseHandle(info.hThread);
  process.Reset(info.hProcess);
  return true;
}

// --- figures

struct TLatencies {
  std::vector<double> ms;
  int expected = 0;
};

double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty())
    return 0;
  std::sort(sorted.begin(), sorted.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

void PrintLatencies(const char *what, const TLatencies &l) {
  std::printf("%-34s %4zu of %4d  p50 %7.2f  p90 %7.2f  p99 %7.2f  max %7.2f ms\n", what,
              l.ms.size(), l.expected, Percentile(l.ms, 0.50), Percentile(l.ms, 0.90),
              Percentile(l.ms, 0.99), Percentile(l.ms, 1.0));
}

// --- 1. latency

// A plain wait on the key: each signal re-arms at once, then reads the
// newest value (the values are created in order, so it is the last one).
TLatencies BaselineLatency(const TOptions &options) {
  TLatencies result;
  result.expected = options.values;
  const std::wstring path = std::wstring(kBenchKey) + L"\\Baseline";
  UniqueHKey key;
  if (!CreateKey(path, key))
    return result;
  qp::win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
  if (::RegNotifyChangeKeyValue(key.Get(), FALSE, kFilter, event.Get(), TRUE) != ERROR_SUCCESS)
    return result;
  qp::win32::UniqueHandle writer;
  if (!StartWriter(path, options, writer))
    return result;
  DWORD seen = 0;
  TWriterWatch watch(writer.Get());
  while (static_cast<int>(seen) < options.values && watch.StillWaiting()) {
    if (::WaitForSingleObject(event.Get(), 100) != WAIT_OBJECT_0)
      continue;
    const std::uint64_t arrival = PreciseNow();
    qp::IgnoreResult(::RegNotifyChangeKeyValue(key.Get(), FALSE, kFilter, event.Get(), TRUE));
    DWORD values = 0;
    if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        values <= seen)
      continue;
    std::uint64_t stamp = 0;
    DWORD size = sizeof stamp;
    if (::RegQueryValueExW(key.Get(), ValueName(static_cast<int>(values) - 1).c_str(), nullptr,
                           nullptr, reinterpret_cast<BYTE *>(&stamp), &size) == ERROR_SUCCESS)
      result.ms.push_back(TicksToMs(static_cast<std::int64_t>(arrival - stamp)));
    seen = values;
  }
  ::WaitForSingleObject(writer.Get(), kWriterTimeoutMs);
  return result;
}

TLatencies MonitorLatency(const TOptions &options) {
  TLatencies result;
  result.expected = options.values;
  const std::wstring path = std::wstring(kBenchKey) + L"\\Monitor";
  {
    UniqueHKey key;
    if (!CreateKey(path, key))
      return result;
  }
  TRegMonitor monitor;
  monitor.SetKeyList(
      {"HKEY_CURRENT_USER\\" + qp::Utf16ToUtf8(reinterpret_cast<const char16_t *>(path.c_str()))});
  int arrived = 0;
  monitor.OnKeyChanged = [&](TRegMonitor &, const TKeyChange &change) {
    const std::uint64_t arrival = PreciseNow();
    if (change.type != keCreateValue || !change.after || !change.after->dataKept ||
        change.after->data.size() != sizeof(std::uint64_t))
      return;
    std::uint64_t stamp = 0;
    std::copy(change.after->data.begin(), change.after->data.end(),
              reinterpret_cast<std::uint8_t *>(&stamp));
    result.ms.push_back(TicksToMs(static_cast<std::int64_t>(arrival - stamp)));
    ++arrived;
  };
  monitor.OnError = [](TRegMonitor &, const TMonitorError &error) {
    std::fprintf(stderr, "monitor: %s\n", error.text.c_str());
  };
  monitor.Activate();
  qp::win32::UniqueHandle writer;
  if (!StartWriter(path, options, writer))
    return result;
  TWriterWatch watch(writer.Get());
  while (arrived < options.values && watch.StillWaiting()) {
    qp::MainThread().PumpWait(std::chrono::milliseconds(50));
  }
  monitor.Deactivate();
  ::WaitForSingleObject(writer.Get(), kWriterTimeoutMs);
  return result;
}

// --- 2. idle CPU

double ProcessCpuMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
    return 0;
  const auto ticks = [](const FILETIME &ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  };
  return TicksToMs(static_cast<std::int64_t>(ticks(kernel) + ticks(user)));
}

// CPU time used while the main thread pumps for the idle time.
double IdleCpuMs(const TOptions &options) {
  const double before = ProcessCpuMs();
  const Clock::time_point end = Clock::now() + std::chrono::seconds(options.idleSeconds);
  while (Clock::now() < end)
    qp::MainThread().PumpWait(std::chrono::milliseconds(100));
  return ProcessCpuMs() - before;
}

void IdleCpu(const TOptions &options) {
  std::vector<std::string> keys;
  for (int i = 0; i < kIdleKeys; ++i) {
    const std::wstring path = std::wstring(kBenchKey) + L"\\Idle\\K" + std::to_wstring(i);
    UniqueHKey key;
    if (!CreateKey(path, key))
      return;
    const DWORD data = static_cast<DWORD>(i);
    qp::IgnoreResult(::RegSetValueExW(key.Get(), L"Value", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE *>(&data), sizeof data));
    keys.push_back("HKEY_CURRENT_USER\\" + std::string(kBenchKeyText) + "\\Idle\\K" +
                   std::to_string(i));
  }
  const double wallMs = options.idleSeconds * 1000.0;
  const double baseline = IdleCpuMs(options);
  TRegMonitor monitor;
  monitor.SetKeyList(keys);
  monitor.Activate();
  const std::size_t points = monitor.WatchPoints().size();
  const double watching = IdleCpuMs(options);
  monitor.Deactivate();
  std::printf("idle CPU over %d s, %zu watch points:\n", options.idleSeconds, points);
  std::printf("  without the monitor  %8.1f ms  (%6.3f %% of one core)\n", baseline,
              baseline * 100.0 / wallMs);
  std::printf("  with the monitor     %8.1f ms  (%6.3f %% of one core)\n", watching,
              watching * 100.0 / wallMs);
  std::printf("  the monitor's share  %8.1f ms  (%6.3f %% of one core)\n", watching - baseline,
              (watching - baseline) * 100.0 / wallMs);
}

bool ParseNumber(const wchar_t *text, int low, int high, int &out) {
  wchar_t *end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  if (end == text || *end != L'\0' || value < low || value > high)
    return false;
  out = static_cast<int>(value);
  return true;
}

int Usage() {
  std::fputs("usage: bench_monitor_win [--values N] [--interval-ms MS] [--idle-seconds S]\n",
             stderr);
  return 2;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc == 5 && std::wcscmp(argv[1], L"--writer") == 0) {
    int count = 0, interval = 0;
    if (!ParseNumber(argv[3], 1, 100000, count) || !ParseNumber(argv[4], 0, 10000, interval))
      return 2;
    return RunWriter(argv[2], count, interval);
  }
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc)
      return Usage();
    const std::wstring arg = argv[i];
    int *target = arg == L"--values"         ? &options.values
                  : arg == L"--interval-ms"  ? &options.intervalMs
                  : arg == L"--idle-seconds" ? &options.idleSeconds
                                             : nullptr;
    if (target == nullptr || !ParseNumber(argv[++i], 1, 100000, *target))
      return Usage();
  }
  qp::win32::InstallWin32Platform();
  qp::MainThread().BindToCurrentThread();
  InitRegistryLayer();
  DeleteBenchKeys();
  const auto cleanup = qp::ScopeExit([] { DeleteBenchKeys(); });

  std::printf("latency: %d values, one every %d ms, written by another process\n", options.values,
              options.intervalMs);
  const TLatencies baseline = BaselineLatency(options);
  PrintLatencies("  RegNotifyChangeKeyValue wait", baseline);
  const TLatencies monitor = MonitorLatency(options);
  PrintLatencies("  the monitor", monitor);
  const double base50 = Percentile(baseline.ms, 0.5), base90 = Percentile(baseline.ms, 0.9);
  if (base50 > 0 && base90 > 0)
    std::printf("  ratio monitor / baseline: p50 %.2f, p90 %.2f\n",
                Percentile(monitor.ms, 0.5) / base50, Percentile(monitor.ms, 0.9) / base90);
  std::fflush(stdout);
  IdleCpu(options);
  return 0;
}
