#include "undo/uUndoIndex.h"

#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;
constexpr std::size_t kBackupNameDigits = 9; // hhnnsszzz
constexpr std::uint32_t kLockWaitStepMilliseconds = 10;
constexpr std::uint32_t kLockWaitMilliseconds = 30000;

// While another holder has the lock, or the system is still deleting the
// file a holder let go of.
bool LockIsBusy(long status) {
  return status == wc::ErrorSharingViolation || status == wc::ErrorAccessDenied;
}

} // namespace

TUndoDayLock::TUndoDayLock() = default;
TUndoDayLock::~TUndoDayLock() = default;

bool TUndoDayLock::Acquire(std::string_view dayFolder, std::string &errorText) {
  const std::string path = qp::WithTrailingBackslash(dayFolder) + std::string(UndoLockTitle);
  long st = wc::ErrorSuccess;
  for (std::uint32_t waited = 0;; waited += kLockWaitStepMilliseconds) {
    st = Files().OpenLockFile(path, lock_);
    if (st == wc::ErrorSuccess)
      return true;
    if (!LockIsBusy(st) || waited >= kLockWaitMilliseconds)
      break;
    qp::Platform().System().Sleep(kLockWaitStepMilliseconds);
  }
  errorText = LockIsBusy(st) ? "another repair or restore is using " + std::string(dayFolder)
                             : "CreateFile: " + SysErrorMessage(st) + " " + path;
  return false;
}

void TUndoDayLock::Release() {
  lock_.reset();
}

std::string UndoIndexEntry(std::uint32_t root, std::string_view keyPath) {
  return RootKeyLongName(root) + "\\" + std::string(keyPath);
}

std::string UndoIndexFileOf(std::string_view backupFile) {
  return qp::FolderOf(backupFile) + "\\" + std::string(UndoIndexTitle);
}

std::string UndoIndexLine(std::string_view backupFile, std::string_view entry) {
  return qp::TitleWithoutExtension(backupFile) + "=" + std::string(entry);
}

bool IndexLineEntry(std::string_view line, std::string &entry) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos)
    return false;
  entry = std::string(line.substr(eq + 1));
  return true;
}

bool FitsIndexLine(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < kFirstPrintable || byte == kDelete)
      return false;
  }
  return true;
}

bool IsUndoBackupName(std::string_view name) {
  if (name.size() != kBackupNameDigits)
    return false;
  for (const char c : name)
    if (c < '0' || c > '9')
      return false;
  return true;
}

bool AppendUndoIndexLine(std::string_view backupFile, std::string_view entry,
                         std::string &errorText) {
  const std::string indexFile = UndoIndexFileOf(backupFile);
  const std::string line = UndoIndexLine(backupFile, entry);
  if (!FitsIndexLine(line)) {
    errorText =
        "cannot write " + indexFile + ": the key name holds a line break or control character";
    return false;
  }
  TUndoDayLock lock;
  if (!lock.Acquire(qp::FolderOf(backupFile), errorText))
    return false;
  std::vector<std::string> lines;
  if (!ReadTextLines(indexFile, lines)) {
    errorText = "cannot read " + indexFile; // never drop existing lines
    return false;
  }
  lines.push_back(line);
  std::string writeError;
  if (WriteTextLines(indexFile, lines, writeError))
    return true;
  errorText = "cannot write " + indexFile;
  return false;
}

bool AppendUndoIndexLine(std::string_view backupFile, std::string_view entry) {
  std::string ignored;
  return AppendUndoIndexLine(backupFile, entry, ignored);
}

bool RemoveUndoIndexLine(std::string_view backupFile, std::string_view entry) {
  const std::string indexFile = UndoIndexFileOf(backupFile);
  TUndoDayLock lock;
  std::string ignored;
  if (!lock.Acquire(qp::FolderOf(backupFile), ignored))
    return false;
  std::vector<std::string> lines;
  bool missing = false;
  if (!ReadTextLines(indexFile, lines, &missing))
    return false;
  if (missing)
    return true;
  const std::string line = UndoIndexLine(backupFile, entry);
  for (std::size_t i = lines.size(); i-- > 0;) {
    if (lines[i] != line)
      continue;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    if (!lines.empty())
      return WriteTextLines(indexFile, lines, ignored);
    return Files().DeleteFile(indexFile) == wc::ErrorSuccess;
  }
  return true; // not there: nothing names the backup
}

bool ReadTextLines(std::string_view path, std::vector<std::string> &lines, bool *missing) {
  lines.clear();
  if (missing != nullptr)
    *missing = false;
  std::string text;
  const long st = Files().ReadFile(path, text);
  if (st == wc::ErrorFileNotFound || st == wc::ErrorPathNotFound) {
    if (missing != nullptr)
      *missing = true;
    return true;
  }
  if (st != wc::ErrorSuccess)
    return false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

bool WriteTextLines(std::string_view path, const std::vector<std::string> &lines,
                    std::string &errorText) {
  std::string text;
  for (const std::string &line : lines)
    text += line + "\r\n";
  std::string call;
  const long st = qp::ReplaceFileContent(path, text, &call);
  if (st == wc::ErrorSuccess)
    return true;
  errorText = call + ": " + SysErrorMessage(st);
  return false;
}

} // namespace quenlo
