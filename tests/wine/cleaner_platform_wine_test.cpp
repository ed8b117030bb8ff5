// The Win32 calls of the history cleaner under Wine: the process list and
// closing a process, the clipboard, the WinINet cache, ADSI, and the
// exclusive-open test on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

#include <wininet.h>
#undef DeleteUrlCacheEntry // the platform's method, not WinINet's macro

namespace {

using qp::win32::Narrow;
using qp::win32::Wide;

bool EndsWithIgnoringCase(const std::string &text, const std::string &end) {
  if (text.size() < end.size())
    return false;
  return std::equal(end.rbegin(), end.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

std::vector<qp::ProcessEntry> Processes() {
  std::vector<qp::ProcessEntry> list;
  EXPECT_TRUE(qp::Platform().Processes().ListProcesses(list));
  return list;
}

TEST(Win32CleanerProcesses, ListHasOwnProcessInItsSession) {
  auto &processes = qp::Platform().Processes();
  const std::uint32_t self = processes.CurrentProcessId();
  EXPECT_EQ(self, ::GetCurrentProcessId());
  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(self, &session));
  EXPECT_EQ(processes.CurrentSessionId(), session);
  bool found = false;
  for (const auto &entry : Processes()) {
    if (entry.id != self)
      continue;
    found = true;
    EXPECT_EQ(entry.sessionId, session);
    // A device path, as GetProcessImageFileName gives it.
    EXPECT_TRUE(EndsWithIgnoringCase(entry.imagePath, "\\quenlo_wine_tests.exe"))
        << entry.imagePath;
    EXPECT_EQ(entry.imagePath.rfind("\\Device\\", 0), 0u) << entry.imagePath;
  }
  EXPECT_TRUE(found);
  // The own process is never closed; a process that is not there neither.
  EXPECT_EQ(processes.CloseProcess(self, 100), qp::cpNotClosed);
  EXPECT_EQ(processes.CloseProcess(0x7FFFFFF0u, 100), qp::cpNotClosed);
}

// A window of a class of the test's own that ends its program when closed;
// null when there is no display to make windows on.
HWND MakeClosableWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message == WM_DESTROY)
      ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, w, l);
  };
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuenloCloseTest";
  ::RegisterClassW(&windowClass);
  return ::CreateWindowExW(0, L"QuenloCloseTest", L"Quenlo close test", WS_OVERLAPPEDWINDOW, 0, 0,
                           100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
}

// The program the close test starts (this one again): with a window it
// ends when the window is closed, without one it sleeps.
TEST(Win32CleanerHelper, DISABLED_RunsUntilClosed) {
  if (MakeClosableWindow() != nullptr) {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
      ::DispatchMessageW(&message);
    return;
  }
  ::Sleep(60000);
}

TEST(Win32CleanerProcesses, StartedProcessIsFoundAndClosed) {
  auto &processes = qp::Platform().Processes();
  wchar_t self[MAX_PATH] = {};
  ASSERT_NE(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::vector<std::uint32_t> before;
  for (const auto &entry : Processes())
    before.push_back(entry.id);
  // With a display the program has a window and ends by itself on
  // WM_CLOSE; without one nothing receives it and the close ends the
  // program by force after the time-out.
  const HWND probe = MakeClosableWindow();
  const bool windows = probe != nullptr;
  if (probe != nullptr)
    ::DestroyWindow(probe);
  ASSERT_TRUE(processes.StartProcess("\"" + Narrow(self) +
                                     "\" --gtest_also_run_disabled_tests "
                                     "--gtest_filter=Win32CleanerHelper.DISABLED_RunsUntilClosed"));
  std::uint32_t started = 0;
  for (int attempt = 0; attempt < 100 && started == 0; ++attempt) {
    for (const auto &entry : Processes())
      if (EndsWithIgnoringCase(entry.imagePath, "\\quenlo_wine_tests.exe") &&
          std::find(before.begin(), before.end(), entry.id) == before.end())
        started = entry.id;
    if (started == 0)
      ::Sleep(100);
  }
  ASSERT_NE(started, 0u) << "the started program is not in the list";
  const qp::win32::UniqueHandle watch(::OpenProcess(SYNCHRONIZE, FALSE, started));
  ASSERT_TRUE(watch);
  if (windows)
    ::Sleep(1000); // its window is made
  EXPECT_EQ(processes.CloseProcess(started, windows ? 10000 : 300),
            windows ? qp::cpEnded : qp::cpTerminated);
  EXPECT_EQ(::WaitForSingleObject(watch.Get(), 5000), WAIT_OBJECT_0);
  for (const auto &entry : Processes())
    EXPECT_NE(entry.id, started) << entry.imagePath;
  // A command that does not start.
  EXPECT_FALSE(processes.StartProcess("C:\\nowhere\\missing-program.exe"));
}

// Puts data on the clipboard under the given format; false when Wine has
// no clipboard to offer.
bool PutOnClipboard(UINT format, const void *data, std::size_t bytes) {
  if (!::OpenClipboard(nullptr))
    return false;
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(::GlobalLock(memory), data, bytes);
  ::GlobalUnlock(memory);
  const bool put = ::SetClipboardData(format, memory) != nullptr;
  if (!put)
    ::GlobalFree(memory);
  ::CloseClipboard();
  return put;
}

TEST(Win32CleanerDesktop, ClipboardIsReadAndEmptied) {
  auto &desktop = qp::Platform().Desktop();
  ASSERT_TRUE(desktop.EmptyClipboard());
  static const wchar_t kText[] = L"quenlo clipboard text";
  const UINT registered = ::RegisterClipboardFormatW(L"Quenlo Test Format");
  const char kPrivate[] = "0123456789";
  if (!PutOnClipboard(CF_UNICODETEXT, kText, sizeof(kText)))
    GTEST_SKIP() << "no clipboard";
  ASSERT_TRUE(PutOnClipboard(registered, kPrivate, 10));
  // A bitmap is a GDI handle, not global memory: it has no size to give.
  ASSERT_TRUE(::OpenClipboard(nullptr));
  HBITMAP bitmap = ::CreateBitmap(4, 4, 1, 32, nullptr);
  ASSERT_NE(::SetClipboardData(CF_BITMAP, bitmap), nullptr);
  ::CloseClipboard();

  std::vector<qp::ClipboardEntry> formats;
  ASSERT_TRUE(desktop.ReadClipboard(formats));
  const auto find = [&](UINT format) {
    return std::find_if(formats.begin(), formats.end(),
                        [&](const qp::ClipboardEntry &e) { return e.format == format; });
  };
  ASSERT_NE(find(CF_UNICODETEXT), formats.end());
  EXPECT_EQ(find(CF_UNICODETEXT)->size, sizeof(kText));
  EXPECT_EQ(find(CF_UNICODETEXT)->registeredName, "");
  ASSERT_NE(find(registered), formats.end());
  EXPECT_EQ(find(registered)->registeredName, "Quenlo Test Format");
  EXPECT_EQ(find(registered)->size, 10u);
  ASSERT_NE(find(CF_BITMAP), formats.end());
  EXPECT_EQ(find(CF_BITMAP)->size, 0u);

  ASSERT_TRUE(desktop.EmptyClipboard());
  ASSERT_TRUE(desktop.ReadClipboard(formats));
  EXPECT_TRUE(formats.empty()) << formats.size() << " formats left, the first "
                               << formats[0].format;
}

TEST(Win32CleanerDesktop, UrlCacheContainersEntriesAndDeletion) {
  auto &desktop = qp::Platform().Desktop();
  for (const auto &[flag, name] : {std::pair{qp::kCacheContainerContent, "content"},
                                   std::pair{qp::kCacheContainerCookies, "cookies"},
                                   std::pair{qp::kCacheContainerHistory, "history"}}) {
    std::string path;
    const bool found = desktop.GetUrlCacheContainer(flag, path);
    std::printf("WinINet %s container: %s \"%s\"\n", name, found ? "found" : "missing",
                path.c_str());
    if (found) {
      ASSERT_GE(path.size(), 3u);
      EXPECT_EQ(path.substr(1, 2), ":\\") << path;
    }
  }

  // An entry of the test's own, committed through WinINet: found by the
  // search with its file and size, then deleted.
  const HMODULE wininet = ::LoadLibraryW(L"wininet.dll");
  ASSERT_NE(wininet, nullptr);
  using CreateFn = BOOL(WINAPI *)(LPCWSTR, DWORD, LPCWSTR, LPWSTR, DWORD);
  using CommitFn =
      BOOL(WINAPI *)(LPCWSTR, LPCWSTR, FILETIME, FILETIME, DWORD, LPWSTR, DWORD, LPCWSTR, LPCWSTR);
  const auto create = qp::win32::ProcAddress<CreateFn>(wininet, "CreateUrlCacheEntryW");
  const auto commit = qp::win32::ProcAddress<CommitFn>(wininet, "CommitUrlCacheEntryW");
  ASSERT_NE(create, nullptr);
  ASSERT_NE(commit, nullptr);
  const std::string url =
      "http://quenlo.test/cleaner/page-with-a-rather-long-name-" + std::string(3000, 'x') + ".html";
  const std::wstring wideUrl = Wide(url);
  wchar_t file[MAX_PATH] = {};
  ASSERT_TRUE(create(wideUrl.c_str(), 0, L"html", file, 0)) << ::GetLastError();
  const std::string body(1234, 'b');
  ASSERT_EQ(qp::Platform().Files().WriteFile(Narrow(file), body), 0);
  ASSERT_TRUE(commit(wideUrl.c_str(), file, FILETIME{}, FILETIME{}, NORMAL_CACHE_ENTRY, nullptr, 0,
                     nullptr, nullptr))
      << ::GetLastError();

  const auto findOurs = [&](qp::UrlCacheEntry &ours) {
    bool found = false;
    int entries = 0;
    desktop.EnumUrlCache("", [&](const qp::UrlCacheEntry &entry) {
      ++entries;
      if (entry.sourceUrl == url) {
        ours = entry;
        found = true;
      }
      return true;
    });
    std::printf("WinINet cache: %d entries\n", entries);
    return found;
  };
  qp::UrlCacheEntry ours;
  // The URL is longer than the search's first buffer: the two-call pattern.
  ASSERT_TRUE(findOurs(ours));
  EXPECT_EQ(ours.localFile, Narrow(file));
  EXPECT_EQ(ours.size, body.size());
  EXPECT_NE(ours.entryType & NORMAL_CACHE_ENTRY, 0u);
  // The visitor stops the search.
  int visited = 0;
  desktop.EnumUrlCache("", [&](const qp::UrlCacheEntry &) { return ++visited < 1; });
  EXPECT_EQ(visited, 1);

  EXPECT_EQ(desktop.DeleteUrlCacheEntry(url), 0);
  EXPECT_FALSE(findOurs(ours));
  EXPECT_EQ(desktop.DeleteUrlCacheEntry(url), ERROR_FILE_NOT_FOUND);
}

TEST(Win32CleanerDesktop, UrlHistoryIisAndBroadcastAnswer) {
  auto &desktop = qp::Platform().Desktop();
  const qp::win32::ComScope com;
  ASSERT_TRUE(com.Usable());
  const long cleared = desktop.ClearUrlHistory();
  std::printf("IUrlHistoryStg2::ClearHistory: 0x%08lx\n", static_cast<unsigned long>(cleared));
  // Wine registers the URL history object: the call reaches it.
  EXPECT_NE(cleared, REGDB_E_CLASSNOTREG);

  // No IIS under Wine: no container, no sites.
  std::vector<qp::IisSite> sites{{"stale", "", ""}};
  EXPECT_FALSE(desktop.ListIisSites("W3SVC", sites));
  EXPECT_TRUE(sites.empty());

  const ULONGLONG start = ::GetTickCount64();
  desktop.BroadcastSettingChange();
  EXPECT_LT(::GetTickCount64() - start, 6000u);
}

class Win32ExclusiveOpen : public testing::Test {
protected:
  void SetUp() override {
    dir_ = qp::Platform().System().GetTempPath() + "QuenloExclusive";
    Clean();
    ASSERT_EQ(files().CreateDirectory(dir_), 0);
  }
  void TearDown() override { Clean(); }
  void Clean() {
    for (const char *name : {"\\held.txt", "\\readonly.txt"}) {
      qp::IgnoreResult(files().SetAttributes(dir_ + name, FILE_ATTRIBUTE_NORMAL));
      qp::IgnoreResult(files().DeleteFile(dir_ + name));
    }
    qp::IgnoreResult(files().RemoveDirectory(dir_));
  }
  static qp::IFileSystem &files() { return qp::Platform().Files(); }
  std::string dir_;
};

TEST_F(Win32ExclusiveOpen, InUseReadOnlyFolderAndMissing) {
  const std::string held = dir_ + "\\held.txt";
  const std::string readOnly = dir_ + "\\readonly.txt";
  ASSERT_EQ(files().WriteFile(held, "held"), 0);
  ASSERT_EQ(files().WriteFile(readOnly, "read-only"), 0);
  ASSERT_EQ(files().SetAttributes(readOnly, FILE_ATTRIBUTE_READONLY), 0);
  {
    // Held the way SQLite holds a database: shared for reading and writing.
    const qp::win32::UniqueFile open(::CreateFileW(Wide(held).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open);
    EXPECT_EQ(files().TestExclusiveOpen(held), ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(files().TestExclusiveOpen(held), 0);
  // The test leaves nothing open: a second test answers the same.
  EXPECT_EQ(files().TestExclusiveOpen(held), 0);
  EXPECT_EQ(files().TestExclusiveOpen(readOnly), 0);
  EXPECT_EQ(files().TestExclusiveOpen(dir_), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files().TestExclusiveOpen(dir_ + "\\missing.txt"), ERROR_FILE_NOT_FOUND);
}

} // namespace
