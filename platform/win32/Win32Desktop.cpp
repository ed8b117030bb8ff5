// IDesktop over user32 (clipboard, broadcast), WinINet (the URL cache),
// the URL history object and ADSI. WinINet and Activeds.dll are loaded at
// run time: a system without them answers "not there" instead of failing
// to start the program.
#include "platform/win32/Win32System.h"

#include <array>
#include <cstdint>
#include <vector>

#include "platform/ScopeGuard.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

#include <iads.h>
#include <oleauto.h>
#include <urlhist.h>
#include <wininet.h>
// winineti.h (the cache configuration) pulls in sspi.h, which asks which
// security interface is meant.
#define SECURITY_WIN32
#include <winineti.h>

// The interface's method names, not WinINet's macros.
#undef DeleteUrlCacheEntry

namespace qp::win32 {

namespace {

struct ModuleTraits {
  using Handle = HMODULE;
  static constexpr HMODULE Invalid() noexcept { return nullptr; }
  static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};
using UniqueModule = qp::TUniqueAny<ModuleTraits>;

// --- clipboard

constexpr int kClipboardOpenAttempts = 5;
constexpr DWORD kClipboardRetryMs = 20;
constexpr int kFormatNameChars = 255;

// The clipboard opened for no window (another program may hold it for a
// moment: a few tries), closed on destruction.
class TClipboardScope {
public:
  TClipboardScope() {
    for (int attempt = 0; attempt < kClipboardOpenAttempts && !open_; ++attempt) {
      open_ = ::OpenClipboard(nullptr) != 0;
      if (!open_)
        ::Sleep(kClipboardRetryMs);
    }
  }
  ~TClipboardScope() {
    if (open_)
      IgnoreResult(::CloseClipboard());
  }
  TClipboardScope(const TClipboardScope &) = delete;
  TClipboardScope &operator=(const TClipboardScope &) = delete;
  bool Open() const { return open_; }

private:
  bool open_ = false;
};

// Whether a format's data is global memory that GlobalSize may measure:
// bitmaps, palettes and enhanced metafiles are GDI handles, the owner's
// display formats and private formats are whatever their owner put there.
bool IsGlobalMemoryFormat(UINT format) {
  switch (format) {
  case CF_BITMAP:
  case CF_DSPBITMAP:
  case CF_PALETTE:
  case CF_ENHMETAFILE:
  case CF_DSPENHMETAFILE:
  case CF_OWNERDISPLAY:
    return false;
  default:
    return !(format >= CF_PRIVATEFIRST && format <= CF_PRIVATELAST) &&
           !(format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST);
  }
}

// --- WinINet, loaded at run time

using GetCacheConfigWFn = BOOL(WINAPI *)(LPINTERNET_CACHE_CONFIG_INFOW, LPDWORD, DWORD);
using GetCacheConfigAFn = BOOL(WINAPI *)(LPINTERNET_CACHE_CONFIG_INFOA, LPDWORD, DWORD);
using FindFirstCacheFn = HANDLE(WINAPI *)(LPCWSTR, LPINTERNET_CACHE_ENTRY_INFOW, LPDWORD);
using FindNextCacheFn = BOOL(WINAPI *)(HANDLE, LPINTERNET_CACHE_ENTRY_INFOW, LPDWORD);
using FindCloseCacheFn = BOOL(WINAPI *)(HANDLE);
using DeleteCacheEntryFn = BOOL(WINAPI *)(LPCWSTR);

struct TWinInet {
  UniqueModule module;
  GetCacheConfigWFn getConfigW = nullptr;
  GetCacheConfigAFn getConfigA = nullptr;
  FindFirstCacheFn findFirst = nullptr;
  FindNextCacheFn findNext = nullptr;
  FindCloseCacheFn findClose = nullptr;
  DeleteCacheEntryFn deleteEntry = nullptr;
};

// Loaded once, kept until the program ends.
const TWinInet &WinInet() {
  static const TWinInet api = [] {
    TWinInet found;
    found.module.Reset(::LoadLibraryW(L"wininet.dll"));
    const HMODULE m = found.module.Get();
    found.getConfigW = ProcAddress<GetCacheConfigWFn>(m, "GetUrlCacheConfigInfoW");
    found.getConfigA = ProcAddress<GetCacheConfigAFn>(m, "GetUrlCacheConfigInfoA");
    found.findFirst = ProcAddress<FindFirstCacheFn>(m, "FindFirstUrlCacheEntryW");
    found.findNext = ProcAddress<FindNextCacheFn>(m, "FindNextUrlCacheEntryW");
    found.findClose = ProcAddress<FindCloseCacheFn>(m, "FindCloseUrlCache");
    found.deleteEntry = ProcAddress<DeleteCacheEntryFn>(m, "DeleteUrlCacheEntryW");
    return found;
  }();
  return api;
}

// An INTERNET_CACHE_ENTRY_INFOW with the strings that follow it, in a
// buffer aligned for the structure.
class TCacheEntryBuffer {
public:
  TCacheEntryBuffer() { Resize(kFirstBytes); }
  auto *Info() { return reinterpret_cast<LPINTERNET_CACHE_ENTRY_INFOW>(words_.data()); }
  DWORD Bytes() const { return static_cast<DWORD>(words_.size() * sizeof(std::uint64_t)); }
  void Resize(DWORD bytes) { words_.assign((bytes + sizeof(std::uint64_t) - 1) / 8, 0); }

private:
  static constexpr DWORD kFirstBytes = 4096;
  std::vector<std::uint64_t> words_;
};

UrlCacheEntry EntryFrom(const INTERNET_CACHE_ENTRY_INFOW &info) {
  UrlCacheEntry entry;
  if (info.lpszSourceUrlName != nullptr)
    entry.sourceUrl = Narrow(info.lpszSourceUrlName);
  if (info.lpszLocalFileName != nullptr)
    entry.localFile = Narrow(info.lpszLocalFileName);
  entry.entryType = info.CacheEntryType;
  entry.size = (static_cast<std::uint64_t>(info.dwSizeHigh) << 32) | info.dwSizeLow;
  return entry;
}

// An open cache search, closed with FindCloseUrlCache on destruction.
class TCacheSearch {
public:
  TCacheSearch(const TWinInet &api, HANDLE handle) : api_(api), handle_(handle) {}
  ~TCacheSearch() {
    if (handle_ != nullptr)
      IgnoreResult(api_.findClose(handle_));
  }
  TCacheSearch(const TCacheSearch &) = delete;
  TCacheSearch &operator=(const TCacheSearch &) = delete;
  HANDLE Get() const { return handle_; }

private:
  const TWinInet &api_;
  HANDLE handle_;
};

// --- COM and ADSI

// {3C374A40-BAE4-11CF-BF7D-00AA006946EE}: the URL history object.
constexpr GUID kClsidUrlHistory = {
    0x3C374A40, 0xBAE4, 0x11CF, {0xBF, 0x7D, 0x00, 0xAA, 0x00, 0x69, 0x46, 0xEE}};
// {AFA0DC11-C313-11D0-831A-00C04FD5AE38}
constexpr GUID kIidUrlHistoryStg2 = {
    0xAFA0DC11, 0xC313, 0x11D0, {0x83, 0x1A, 0x00, 0xC0, 0x4F, 0xD5, 0xAE, 0x38}};
// {001677D0-FD16-11CE-ABC4-02608C9E7553}
constexpr GUID kIidADsContainer = {
    0x001677D0, 0xFD16, 0x11CE, {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
// {FD8256D0-FD15-11CE-ABC4-02608C9E7553}
constexpr GUID kIidADs = {
    0xFD8256D0, 0xFD15, 0x11CE, {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
// {00020404-0000-0000-C000-000000000046}
constexpr GUID kIidEnumVariant = {
    0x00020404, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

using ADsGetObjectFn = HRESULT(WINAPI *)(LPCWSTR, REFIID, void **);

const ADsGetObjectFn &ADsGetObjectFunction() {
  static const UniqueModule module(::LoadLibraryW(L"Activeds.dll"));
  static const ADsGetObjectFn fn = ProcAddress<ADsGetObjectFn>(module.Get(), "ADsGetObject");
  return fn;
}

// A BSTR freed on destruction.
class TBstr {
public:
  explicit TBstr(const wchar_t *text = nullptr)
      : bstr_(text != nullptr ? ::SysAllocString(text) : nullptr) {}
  ~TBstr() { ::SysFreeString(bstr_); }
  TBstr(const TBstr &) = delete;
  TBstr &operator=(const TBstr &) = delete;
  BSTR Get() const { return bstr_; }
  BSTR *Put() {
    ::SysFreeString(bstr_);
    bstr_ = nullptr;
    return &bstr_;
  }
  std::string Text() const {
    return bstr_ != nullptr ? Narrow(std::wstring_view(bstr_, ::SysStringLen(bstr_))) : "";
  }

private:
  BSTR bstr_;
};

// A VARIANT cleared on destruction.
class TVariant {
public:
  TVariant() { ::VariantInit(&v_); }
  ~TVariant() { IgnoreResult(::VariantClear(&v_)); }
  TVariant(const TVariant &) = delete;
  TVariant &operator=(const TVariant &) = delete;
  VARIANT *Put() {
    IgnoreResult(::VariantClear(&v_));
    return &v_;
  }
  VARIANT &Get() { return v_; }
  // The value as text; empty when it has none that converts.
  std::string Text() {
    if (V_VT(&v_) == VT_BSTR)
      return TextOf(V_BSTR(&v_));
    TVariant converted;
    if (FAILED(::VariantChangeType(converted.Put(), &v_, 0, VT_BSTR)))
      return {};
    return TextOf(V_BSTR(&converted.v_));
  }

private:
  static std::string TextOf(BSTR text) {
    return text != nullptr ? Narrow(std::wstring_view(text, ::SysStringLen(text))) : "";
  }
  VARIANT v_;
};

std::string PropertyText(IADs &object, const wchar_t *name) {
  const TBstr property(name);
  TVariant value;
  if (FAILED(object.Get(property.Get(), value.Put())))
    return {};
  return value.Text();
}

} // namespace

// --- clipboard

bool Win32Desktop::ReadClipboard(std::vector<ClipboardEntry> &formats) {
  formats.clear();
  const TClipboardScope clipboard;
  if (!clipboard.Open())
    return false;
  for (UINT format = ::EnumClipboardFormats(0); format != 0;
       format = ::EnumClipboardFormats(format)) {
    ClipboardEntry entry;
    entry.format = format;
    std::array<wchar_t, kFormatNameChars + 1> name{};
    const int length = ::GetClipboardFormatNameW(format, name.data(), kFormatNameChars);
    if (length > 0)
      entry.registeredName = Narrow(std::wstring_view(name.data(), static_cast<size_t>(length)));
    if (IsGlobalMemoryFormat(format)) {
      if (HANDLE data = ::GetClipboardData(format); data != nullptr)
        entry.size = ::GlobalSize(data);
    }
    formats.push_back(std::move(entry));
  }
  return true;
}

bool Win32Desktop::EmptyClipboard() {
  const TClipboardScope clipboard;
  return clipboard.Open() && ::EmptyClipboard() != 0;
}

// --- the URL cache

bool Win32Desktop::GetUrlCacheContainer(std::uint32_t containerFlag, std::string &path) {
  path.clear();
  const TWinInet &api = WinInet();
  if (api.getConfigW != nullptr) {
    INTERNET_CACHE_CONFIG_INFOW info{};
    info.dwStructSize = sizeof(info);
    DWORD size = sizeof(info);
    if (api.getConfigW(&info, &size, containerFlag)) {
      path = NarrowUntilNul(info.CachePath, MAX_PATH);
      return !path.empty();
    }
  }
  // Versions without the wide function (or failing it) answer the ANSI one.
  if (api.getConfigA != nullptr) {
    INTERNET_CACHE_CONFIG_INFOA info{};
    info.dwStructSize = sizeof(info);
    DWORD size = sizeof(info);
    if (api.getConfigA(&info, &size, containerFlag)) {
      std::array<wchar_t, MAX_PATH> wide{};
      const int length =
          ::MultiByteToWideChar(CP_ACP, 0, info.CachePath, -1, wide.data(), MAX_PATH);
      if (length > 0)
        path = NarrowUntilNul(wide.data(), wide.size());
      return !path.empty();
    }
  }
  return false;
}

void Win32Desktop::EnumUrlCache(std::string_view pattern,
                                const std::function<bool(const UrlCacheEntry &)> &visit) {
  const TWinInet &api = WinInet();
  if (api.findFirst == nullptr || api.findNext == nullptr || api.findClose == nullptr)
    return;
  const std::wstring widePattern = Wide(pattern);
  const wchar_t *search = pattern.empty() ? nullptr : widePattern.c_str();
  TCacheEntryBuffer buffer;
  // Each call says how big the entry is when the buffer is too small: the
  // buffer grows and the call is made again.
  DWORD size = buffer.Bytes();
  HANDLE first = api.findFirst(search, buffer.Info(), &size);
  if (first == nullptr && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buffer.Resize(size);
    size = buffer.Bytes();
    first = api.findFirst(search, buffer.Info(), &size);
  }
  if (first == nullptr)
    return; // ERROR_NO_MORE_ITEMS: nothing matches
  const TCacheSearch searchHandle(api, first);
  for (;;) {
    if (!visit(EntryFrom(*buffer.Info())))
      return;
    size = buffer.Bytes();
    if (api.findNext(searchHandle.Get(), buffer.Info(), &size))
      continue;
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return; // ERROR_NO_MORE_ITEMS, or the cache failed
    buffer.Resize(size);
    size = buffer.Bytes();
    if (!api.findNext(searchHandle.Get(), buffer.Info(), &size))
      return;
  }
}

long Win32Desktop::DeleteUrlCacheEntry(std::string_view sourceUrl) {
  const TWinInet &api = WinInet();
  if (!api.module)
    return ERROR_MOD_NOT_FOUND;
  if (api.deleteEntry == nullptr)
    return ERROR_PROC_NOT_FOUND;
  return api.deleteEntry(Wide(sourceUrl).c_str()) ? 0 : static_cast<long>(::GetLastError());
}

long Win32Desktop::ClearUrlHistory() {
  // COM is the calling thread's: the pass initialises it for its worker.
  ComPtr<IUrlHistoryStg2> history;
  const HRESULT created = ::CoCreateInstance(kClsidUrlHistory, nullptr, CLSCTX_INPROC_SERVER,
                                             kIidUrlHistoryStg2, history.put_void());
  if (FAILED(created))
    return created;
  return history->ClearHistory();
}

// --- IIS sites

bool Win32Desktop::ListIisSites(std::string_view service, std::vector<IisSite> &sites) {
  sites.clear();
  const ADsGetObjectFn getObject = ADsGetObjectFunction();
  if (getObject == nullptr)
    return false;
  const std::wstring path = L"IIS://LocalHost/" + Wide(service);
  ComPtr<IADsContainer> container;
  if (FAILED(getObject(path.c_str(), kIidADsContainer, container.put_void())) || !container)
    return false;
  ComPtr<IUnknown> enumUnknown;
  if (FAILED(container->get__NewEnum(reinterpret_cast<IUnknown **>(enumUnknown.put_void()))) ||
      !enumUnknown)
    return false;
  ComPtr<IEnumVARIANT> children;
  if (FAILED(enumUnknown->QueryInterface(kIidEnumVariant, children.put_void())) || !children)
    return false;
  for (;;) {
    TVariant child;
    ULONG fetched = 0;
    if (children->Next(1, child.Put(), &fetched) != S_OK || fetched == 0)
      break;
    if (V_VT(&child.Get()) != VT_DISPATCH || V_DISPATCH(&child.Get()) == nullptr)
      continue;
    ComPtr<IADs> object;
    if (FAILED(V_DISPATCH(&child.Get())->QueryInterface(kIidADs, object.put_void())) || !object)
      continue; // a child that is no directory object
    IisSite site;
    TBstr name;
    if (SUCCEEDED(object->get_Name(name.Put())))
      site.name = name.Text();
    site.keyType = PropertyText(*object.get(), L"KeyType");
    site.logFileDirectory = PropertyText(*object.get(), L"LogFileDirectory");
    sites.push_back(std::move(site));
  }
  return true;
}

// --- broadcast

void Win32Desktop::BroadcastSettingChange() {
  // With a time-out and SMTO_ABORTIFHUNG: a plain SendMessage to a hung
  // top-level window would never return.
  constexpr UINT kBroadcastTimeoutMs = 5000;
  IgnoreResult(::SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, 0, SMTO_ABORTIFHUNG,
                                     kBroadcastTimeoutMs, nullptr));
}

} // namespace qp::win32
