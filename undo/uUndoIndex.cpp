#include "undo/uUndoIndex.h"

#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::uint32_t kReplaceExisting = 1; // MOVEFILE_REPLACE_EXISTING

} // namespace

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

bool AppendUndoIndexLine(std::string_view backupFile, std::string_view entry) {
  const std::string indexFile = UndoIndexFileOf(backupFile);
  std::vector<std::string> lines;
  if (!ReadTextLines(indexFile, lines))
    return false; // never drop existing lines
  lines.push_back(UndoIndexLine(backupFile, entry));
  std::string ignored;
  return WriteTextLines(indexFile, lines, ignored);
}

bool RemoveUndoIndexLine(std::string_view backupFile, std::string_view entry) {
  const std::string indexFile = UndoIndexFileOf(backupFile);
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
    if (!lines.empty()) {
      std::string ignored;
      return WriteTextLines(indexFile, lines, ignored);
    }
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
  const std::string temp = std::string(path) + std::string(kTemporarySuffix);
  long st = Files().WriteFile(temp, text);
  if (st == wc::ErrorSuccess)
    st = Files().MoveFile(temp, path, kReplaceExisting);
  if (st == wc::ErrorSuccess)
    return true;
  qp::IgnoreResult(Files().DeleteFile(temp));
  errorText = "WriteFile: " + SysErrorMessage(st);
  return false;
}

} // namespace quenlo
