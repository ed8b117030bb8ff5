#include "platform/win32/Win32FileSystem.h"

#include <vector>

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"
#include "platform/win32/Wow64FsView.h"

namespace qp::win32 {

namespace {

long LastError() {
  return static_cast<long>(::GetLastError());
}

long Status(BOOL ok) {
  return ok ? ERROR_SUCCESS : LastError();
}

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

void Convert(const WIN32_FIND_DATAW &in, FindData &out) {
  out.attributes = in.dwFileAttributes;
  out.size = Join(in.nFileSizeHigh, in.nFileSizeLow);
  out.lastWriteTime = Join(in.ftLastWriteTime.dwHighDateTime, in.ftLastWriteTime.dwLowDateTime);
  out.name = NarrowUntilNul(in.cFileName, MAX_PATH);
  out.reparseTag = (in.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? in.dwReserved0 : 0;
}

class Win32FindHandle final : public IFindHandle {
public:
  explicit Win32FindHandle(UniqueFind find) : find_(std::move(find)) {}
  bool Next(FindData &data) override {
    WIN32_FIND_DATAW found{};
    if (!::FindNextFileW(find_.Get(), &found)) {
      return false;
    }
    Convert(found, data);
    return true;
  }

private:
  UniqueFind find_;
};

// Whole-file transfers go in pieces of at most this many bytes.
constexpr DWORD kChunk = 1u << 20;

} // namespace

std::uint32_t Win32FileSystem::GetAttributes(std::string_view path, long *error) {
  const DWORD attributes = ::GetFileAttributesW(ViewPath(path).c_str());
  if (error != nullptr) {
    *error = attributes == INVALID_FILE_ATTRIBUTES ? LastError() : ERROR_SUCCESS;
  }
  return attributes;
}

std::uint32_t Win32FileSystem::GetDriveType(std::string_view root) {
  return ::GetDriveTypeW(Wide(root).c_str());
}

std::unique_ptr<IFindHandle> Win32FileSystem::FindFirst(std::string_view pattern, FindData &first,
                                                        long *error) {
  WIN32_FIND_DATAW found{};
  UniqueFind find(::FindFirstFileW(ViewPath(pattern).c_str(), &found));
  const long status = find ? ERROR_SUCCESS : LastError();
  if (error != nullptr) {
    *error = status;
  }
  if (!find) {
    return nullptr;
  }
  Convert(found, first);
  return std::make_unique<Win32FindHandle>(std::move(find));
}

long Win32FileSystem::CreateDirectory(std::string_view path) {
  return Status(::CreateDirectoryW(ViewPath(path).c_str(), nullptr));
}

long Win32FileSystem::RemoveDirectory(std::string_view path) {
  return Status(::RemoveDirectoryW(ViewPath(path).c_str()));
}

long Win32FileSystem::DeleteFile(std::string_view path) {
  return Status(::DeleteFileW(ViewPath(path).c_str()));
}

long Win32FileSystem::MoveFile(std::string_view from, std::string_view to, std::uint32_t flags) {
  return Status(
      ::MoveFileExW(ViewPath(from).c_str(), ViewPath(to).c_str(), flags | MOVEFILE_WRITE_THROUGH));
}

long Win32FileSystem::CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  return Status(
      ::CopyFileW(ViewPath(from).c_str(), ViewPath(to).c_str(), failIfExists ? TRUE : FALSE));
}

long Win32FileSystem::ReadFile(std::string_view path, std::string &data) {
  data.clear();
  UniqueFile file(::CreateFileW(ViewPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return LastError();
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) {
    return LastError();
  }
  if (static_cast<unsigned long long>(size.QuadPart) > data.max_size()) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::string content;
  content.reserve(static_cast<std::size_t>(size.QuadPart));
  std::vector<char> chunk(kChunk);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.Get(), chunk.data(), kChunk, &got, nullptr)) {
      return LastError();
    }
    if (got == 0) {
      break;
    }
    content.append(chunk.data(), got);
  }
  data = std::move(content);
  return ERROR_SUCCESS;
}

namespace {

// Writes all of data to the open file and puts it on the disk.
long WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    const DWORD piece = data.size() < kChunk ? static_cast<DWORD>(data.size()) : kChunk;
    DWORD written = 0;
    if (!::WriteFile(file, data.data(), piece, &written, nullptr)) {
      return LastError();
    }
    if (written == 0) {
      return ERROR_WRITE_FAULT;
    }
    data.remove_prefix(written);
  }
  return ::FlushFileBuffers(file) ? ERROR_SUCCESS : LastError();
}

} // namespace

long Win32FileSystem::AppendFile(std::string_view path, std::string_view data) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  UniqueFile file(::CreateFileW(ViewPath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file) {
    return LastError();
  }
  return WriteAll(file.Get(), data);
}

long Win32FileSystem::WriteFile(std::string_view path, std::string_view data) {
  UniqueFile file(::CreateFileW(ViewPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return LastError();
  }
  return WriteAll(file.Get(), data);
}

long Win32FileSystem::FlushFile(std::string_view path) {
  UniqueFile file(::CreateFileW(ViewPath(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return LastError();
  }
  return ::FlushFileBuffers(file.Get()) ? ERROR_SUCCESS : LastError();
}

namespace {

class Win32FileLock final : public IFileLock {
public:
  explicit Win32FileLock(UniqueFile file) : file_(std::move(file)) {}

private:
  UniqueFile file_; // closing it deletes the file
};

} // namespace

long Win32FileSystem::OpenLockFile(std::string_view path, std::unique_ptr<IFileLock> &lock) {
  UniqueFile file(::CreateFileW(ViewPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
  if (!file) {
    return LastError();
  }
  lock = std::make_unique<Win32FileLock>(std::move(file));
  return ERROR_SUCCESS;
}

long Win32FileSystem::GetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                                      std::string &sddl) {
  sddl.clear();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring name = ViewPath(path);
  const DWORD rc = ::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, securityInfo, nullptr,
                                           nullptr, nullptr, nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) {
    return static_cast<long>(rc);
  }
  const UniqueLocal owner(descriptor);
  LPWSTR text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              securityInfo, &text, nullptr)) {
    return LastError();
  }
  const UniqueLocal textOwner(text);
  sddl = Narrow(text);
  return ERROR_SUCCESS;
}

long Win32FileSystem::SetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                                      std::string_view sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl).c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return LastError();
  }
  const UniqueLocal owner(descriptor);
  PSID sid = nullptr;
  BOOL defaulted = FALSE;
  if ((securityInfo & OWNER_SECURITY_INFORMATION) != 0 &&
      !::GetSecurityDescriptorOwner(descriptor, &sid, &defaulted)) {
    return LastError();
  }
  PACL dacl = nullptr;
  BOOL present = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  DWORD info = securityInfo;
  if ((securityInfo & DACL_SECURITY_INFORMATION) != 0) {
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
      return LastError();
    }
    // "D:P(...)": the folder's own entries only, nothing from above.
    info |= (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION;
  }
  std::wstring name = ViewPath(path);
  return static_cast<long>(
      ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, info, sid, nullptr, dacl, nullptr));
}

long Win32FileSystem::RecycleFile(std::string_view path) {
  // The source is a list of names ending with an empty one.
  std::wstring source = ViewPath(path);
  source.push_back(L'\0');
  source.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = source.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  const int rc = ::SHFileOperationW(&op);
  if (rc == 0 && op.fAnyOperationsAborted) {
    return ERROR_CANCELLED;
  }
  return rc;
}

bool Win32FileSystem::SwitchFsView(std::uintptr_t &previous) {
  if (MachineWow64Folders() == nullptr) {
    return false;
  }
  previous = ThreadInWow64View() ? 1 : 0;
  SetThreadWow64View(true);
  return true;
}

void Win32FileSystem::RevertFsView(std::uintptr_t previous) {
  SetThreadWow64View(previous != 0);
}

} // namespace qp::win32

namespace qp::win32 {
long Win32FileSystem::SetAttributes(std::string_view path, std::uint32_t attributes) {
  return ::SetFileAttributesW(Wide(path).c_str(), attributes) ? 0
                                                              : static_cast<long>(::GetLastError());
}
long Win32FileSystem::TestExclusiveOpen(std::string_view path) {
  // Read access without sharing: a sharing violation (32) while anybody
  // holds the file open; a folder answers access denied (5).
  const UniqueFile file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? 0 : static_cast<long>(::GetLastError());
}

long Win32FileSystem::GetFinalPath(std::string_view path, std::string &finalPath) {
  finalPath.clear();
  // No access asked: a file in use or locked still answers. Backup
  // semantics open folders; without FILE_FLAG_OPEN_REPARSE_POINT the open
  // follows every link, the last one too.
  const UniqueFile file(::CreateFileW(Wide(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file)
    return LastError();
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD length = ::GetFinalPathNameByHandleW(file.Get(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()), kFlags);
  if (length >= buffer.size()) { // too small: the answer counts the NUL
    buffer.resize(length + 1);
    length = ::GetFinalPathNameByHandleW(file.Get(), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), kFlags);
  }
  if (length == 0 || length >= buffer.size())
    return length == 0 ? LastError() : ERROR_INSUFFICIENT_BUFFER;
  std::wstring_view text(buffer.data(), length);
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
  if (text.substr(0, kUncPrefix.size()) == kUncPrefix) {
    finalPath = "\\\\" + Narrow(text.substr(kUncPrefix.size()));
    return ERROR_SUCCESS;
  }
  if (text.substr(0, kLocalPrefix.size()) == kLocalPrefix)
    text.remove_prefix(kLocalPrefix.size());
  finalPath = Narrow(text);
  return ERROR_SUCCESS;
}
} // namespace qp::win32
