#include "platform/win32/Win32Registry.h"

#include <vector>

#include "platform/ScopeGuard.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace qp::win32 {

namespace {

using DeleteKeyExFn = LONG(WINAPI *)(HKEY, LPCWSTR, REGSAM, DWORD);
using QueryReflectionKeyFn = LONG(WINAPI *)(HKEY, BOOL *);
// ntdll's NtQueryKey and RtlNtStatusToDosError, looked up at run time: they
// are not in the import libraries every toolchain ships.
using NtQueryKeyFn = LONG(NTAPI *)(HANDLE, int, PVOID, ULONG, PULONG);
using NtStatusToDosErrorFn = ULONG(NTAPI *)(LONG);
constexpr int kKeyNameInformation = 3;
constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005u);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023u);
// A key's name is at most 255 characters per level and 32767 in total;
// bounded tries keep a name that keeps growing from looping.
constexpr int kKeyNameTries = 4;

template <typename Fn> Fn NtdllEntry(const char *name) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr ? nullptr : ProcAddress<Fn>(ntdll, name);
}

// Predefined roots travel as 32-bit constants; as HKEYs they are the
// sign-extended values. Every other value is a real handle.
HKEY ToHkey(HKey key) {
  if (key >= wc::HkeyClassesRoot && key <= wc::HkeyDynData) {
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(key))));
  }
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(key));
}

HKey FromHkey(HKEY key) {
  return static_cast<HKey>(reinterpret_cast<ULONG_PTR>(key));
}

template <typename Fn> Fn AdvapiEntry(const char *name) {
  HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
  if (advapi == nullptr) {
    advapi = ::LoadLibraryW(L"advapi32.dll");
  }
  return ProcAddress<Fn>(advapi, name);
}

// The wide name, or null for the empty text where the API means "none".
const wchar_t *OrNull(const std::wstring &text) {
  return text.empty() ? nullptr : text.c_str();
}

class Win32ChangeWatch final : public IChangeWatch {
public:
  explicit Win32ChangeWatch(UniqueHandle event) : event_(std::move(event)) {}
  bool Wait(std::uint32_t timeoutMs) override {
    return ::WaitForSingleObject(event_.Get(), timeoutMs) == WAIT_OBJECT_0;
  }
  // The event is the watch's own (manual reset), so setting it wakes the
  // waiter and leaves the key's pending notification alone.
  void Cancel() override { IgnoreResult(::SetEvent(event_.Get())); }

private:
  UniqueHandle event_;
};

} // namespace

Win32Registry::Win32Registry()
    : deleteKeyEx_(reinterpret_cast<void (*)()>(AdvapiEntry<DeleteKeyExFn>("RegDeleteKeyExW"))),
      queryReflectionKey_(reinterpret_cast<void (*)()>(
          AdvapiEntry<QueryReflectionKeyFn>("RegQueryReflectionKey"))) {}

long Win32Registry::OpenKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out) {
  HKEY key = nullptr;
  const LONG rc = ::RegOpenKeyExW(ToHkey(parent), Wide(subKey).c_str(), 0, sam, &key);
  out = rc == ERROR_SUCCESS ? FromHkey(key) : 0;
  return rc;
}

long Win32Registry::CreateKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out,
                              std::uint32_t *disposition) {
  HKEY key = nullptr;
  DWORD disp = 0;
  const LONG rc = ::RegCreateKeyExW(ToHkey(parent), Wide(subKey).c_str(), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, sam, nullptr, &key, &disp);
  out = rc == ERROR_SUCCESS ? FromHkey(key) : 0;
  if (disposition != nullptr) {
    *disposition = rc == ERROR_SUCCESS ? disp : 0;
  }
  return rc;
}

long Win32Registry::CloseKey(HKey key) {
  return ::RegCloseKey(ToHkey(key));
}

long Win32Registry::QueryInfoKey(HKey key, KeyInfo &info) {
  DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueNameLen = 0, maxValueLen = 0;
  FILETIME written{};
  const LONG rc =
      ::RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr,
                         &values, &maxValueNameLen, &maxValueLen, nullptr, &written);
  if (rc == ERROR_SUCCESS) {
    info.subKeys = subKeys;
    info.maxSubKeyLen = maxSubKeyLen;
    info.values = values;
    info.maxValueNameLen = maxValueNameLen;
    info.maxValueLen = maxValueLen;
    info.lastWriteTime =
        (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  }
  return rc;
}

long Win32Registry::EnumKey(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                            std::string &name) {
  // One spare unit so that a zero capacity still passes a valid buffer.
  std::vector<wchar_t> buffer(static_cast<std::size_t>(nameCapacity) + 1, L'\0');
  DWORD length = nameCapacity;
  const LONG rc = ::RegEnumKeyExW(ToHkey(key), index, buffer.data(), &length, nullptr, nullptr,
                                  nullptr, nullptr);
  name = rc == ERROR_SUCCESS ? Narrow(std::wstring_view(buffer.data(), length)) : std::string();
  return rc;
}

long Win32Registry::EnumValue(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                              std::uint32_t dataCapacity, std::string &name, std::uint32_t &type,
                              Bytes &data) {
  std::vector<wchar_t> nameBuffer(static_cast<std::size_t>(nameCapacity) + 1, L'\0');
  // A non-null data buffer even for capacity 0, so that data that does not
  // fit is reported (a null buffer would only ask for the size).
  std::vector<BYTE> dataBuffer(static_cast<std::size_t>(dataCapacity) + 1, 0);
  DWORD nameLength = nameCapacity;
  DWORD dataLength = dataCapacity;
  DWORD valueType = 0;
  const LONG rc = ::RegEnumValueW(ToHkey(key), index, nameBuffer.data(), &nameLength, nullptr,
                                  &valueType, dataBuffer.data(), &dataLength);
  if (rc == ERROR_SUCCESS) {
    name = Narrow(std::wstring_view(nameBuffer.data(), nameLength));
    type = valueType;
    data.assign(dataBuffer.begin(), dataBuffer.begin() + dataLength);
  } else {
    name.clear();
    data.clear();
    type = rc == ERROR_MORE_DATA ? valueType : 0;
  }
  return rc;
}

long Win32Registry::QueryValue(HKey key, std::string_view name, std::uint32_t *type, Bytes *data,
                               std::uint32_t *size) {
  const std::wstring wname = Wide(name);
  const HKEY hkey = ToHkey(key);
  DWORD valueType = 0;
  DWORD length = 0;
  LONG rc = ::RegQueryValueExW(hkey, wname.c_str(), nullptr, &valueType, nullptr, &length);
  if (rc == ERROR_SUCCESS && data != nullptr) {
    // The value may grow between the two calls: read until it fits.
    for (;;) {
      data->assign(static_cast<std::size_t>(length) + 1, 0);
      DWORD got = length;
      rc = ::RegQueryValueExW(hkey, wname.c_str(), nullptr, &valueType, data->data(), &got);
      if (rc == ERROR_MORE_DATA) {
        length = got > length ? got : length * 2 + 2;
        continue;
      }
      data->resize(rc == ERROR_SUCCESS ? got : 0);
      length = got;
      break;
    }
  }
  if (type != nullptr) {
    *type = rc == ERROR_SUCCESS ? valueType : 0;
  }
  if (size != nullptr) {
    *size = rc == ERROR_SUCCESS ? length : 0;
  }
  return rc;
}

long Win32Registry::SetValue(HKey key, std::string_view name, std::uint32_t type,
                             const Bytes &data) {
  // For a string type whose data does not end in a NUL, RegSetValueEx looks
  // at the character after the data and, when that is a NUL, stores it as
  // well. A copy followed by a non-NUL guard keeps the value exactly as
  // given, whatever lies behind the caller's buffer.
  const bool stringType = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (stringType && !data.empty()) {
    Bytes guarded = data;
    guarded.insert(guarded.end(), {0xFF, 0xFF, 0xFF});
    return ::RegSetValueExW(ToHkey(key), Wide(name).c_str(), 0, type, guarded.data(),
                            static_cast<DWORD>(data.size()));
  }
  return ::RegSetValueExW(ToHkey(key), Wide(name).c_str(), 0, type,
                          data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
}

long Win32Registry::DeleteValue(HKey key, std::string_view name) {
  return ::RegDeleteValueW(ToHkey(key), Wide(name).c_str());
}

long Win32Registry::DeleteKey(HKey parent, std::string_view subKey) {
  return ::RegDeleteKeyW(ToHkey(parent), Wide(subKey).c_str());
}

bool Win32Registry::HasDeleteKeyEx() const {
  return deleteKeyEx_ != nullptr;
}

long Win32Registry::DeleteKeyEx(HKey parent, std::string_view subKey, std::uint32_t viewFlag) {
  if (deleteKeyEx_ == nullptr) {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
  const auto fn = reinterpret_cast<DeleteKeyExFn>(deleteKeyEx_);
  return fn(ToHkey(parent), Wide(subKey).c_str(), viewFlag, 0);
}

bool Win32Registry::HasQueryReflectionKey() const {
  return queryReflectionKey_ != nullptr;
}

long Win32Registry::QueryReflectionKey(HKey key, bool &reflectionDisabled) {
  reflectionDisabled = false;
  if (queryReflectionKey_ == nullptr) {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
  const auto fn = reinterpret_cast<QueryReflectionKeyFn>(queryReflectionKey_);
  BOOL disabled = FALSE;
  const LONG rc = fn(ToHkey(key), &disabled);
  reflectionDisabled = rc == ERROR_SUCCESS && disabled != FALSE;
  return rc;
}

long Win32Registry::NotifyChangeKeyValue(HKey key, bool watchSubtree, std::uint32_t filter,
                                         std::unique_ptr<IChangeWatch> &watch) {
  watch.reset();
  UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    return static_cast<long>(::GetLastError());
  }
  const LONG rc = ::RegNotifyChangeKeyValue(ToHkey(key), watchSubtree ? TRUE : FALSE, filter,
                                            event.Get(), TRUE);
  if (rc == ERROR_SUCCESS) {
    watch = std::make_unique<Win32ChangeWatch>(std::move(event));
  }
  return rc;
}

long Win32Registry::QueryKeyName(HKey key, std::string &kernelPath) {
  kernelPath.clear();
  static const NtQueryKeyFn queryKey = NtdllEntry<NtQueryKeyFn>("NtQueryKey");
  static const NtStatusToDosErrorFn toDosError =
      NtdllEntry<NtStatusToDosErrorFn>("RtlNtStatusToDosError");
  if (queryKey == nullptr || toDosError == nullptr) {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
  // KEY_NAME_INFORMATION: a ULONG byte count, then the UTF-16 name (no NUL).
  ULONG size = 512;
  for (int attempt = 0; attempt < kKeyNameTries; ++attempt) {
    std::vector<ULONG> buffer((size + sizeof(ULONG) - 1) / sizeof(ULONG) + 1);
    ULONG needed = 0;
    const LONG status = queryKey(ToHkey(key), kKeyNameInformation, buffer.data(),
                                 static_cast<ULONG>(buffer.size() * sizeof(ULONG)), &needed);
    if (status == kStatusBufferOverflow || status == kStatusBufferTooSmall) {
      size = needed > size ? needed : size * 2;
      continue;
    }
    if (status < 0) {
      return static_cast<long>(toDosError(status));
    }
    const ULONG bytes = buffer[0];
    if (bytes > (buffer.size() - 1) * sizeof(ULONG)) {
      return ERROR_INVALID_DATA;
    }
    kernelPath = Narrow(std::wstring_view(reinterpret_cast<const wchar_t *>(buffer.data() + 1),
                                          bytes / sizeof(wchar_t)));
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

long Win32Registry::SaveKey(HKey key, std::string_view file) {
  return ::RegSaveKeyW(ToHkey(key), Wide(file).c_str(), nullptr);
}

long Win32Registry::ReplaceKey(HKey key, std::string_view subKey, std::string_view newFile,
                               std::string_view oldFile) {
  const std::wstring sub = Wide(subKey);
  return ::RegReplaceKeyW(ToHkey(key), OrNull(sub), Wide(newFile).c_str(), Wide(oldFile).c_str());
}

long Win32Registry::LoadKey(HKey key, std::string_view subKey, std::string_view file) {
  return ::RegLoadKeyW(ToHkey(key), Wide(subKey).c_str(), Wide(file).c_str());
}

long Win32Registry::UnLoadKey(HKey key, std::string_view subKey) {
  return ::RegUnLoadKeyW(ToHkey(key), Wide(subKey).c_str());
}

long Win32Registry::GetKeySecurity(HKey key, std::uint32_t securityInfo, std::string &sddl) {
  sddl.clear();
  const HKEY hkey = ToHkey(key);
  DWORD length = 0;
  LONG rc = ::RegGetKeySecurity(hkey, securityInfo, nullptr, &length);
  if (rc != ERROR_INSUFFICIENT_BUFFER) {
    return rc == ERROR_SUCCESS ? ERROR_INVALID_DATA : rc;
  }
  std::vector<BYTE> descriptor;
  do {
    descriptor.assign(length, 0);
    rc = ::RegGetKeySecurity(hkey, securityInfo, descriptor.data(), &length);
  } while (rc == ERROR_INSUFFICIENT_BUFFER);
  if (rc != ERROR_SUCCESS) {
    return rc;
  }
  LPWSTR text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              securityInfo, &text, nullptr)) {
    return static_cast<long>(::GetLastError());
  }
  const UniqueLocal owner(text);
  sddl = Narrow(text);
  return ERROR_SUCCESS;
}

long Win32Registry::SetKeySecurity(HKey key, std::uint32_t securityInfo, std::string_view sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl).c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return static_cast<long>(::GetLastError());
  }
  const UniqueLocal owner(descriptor);
  if (!::IsValidSecurityDescriptor(descriptor)) {
    return ERROR_INVALID_SECURITY_DESCR;
  }
  return ::RegSetKeySecurity(ToHkey(key), securityInfo, descriptor);
}

} // namespace qp::win32
