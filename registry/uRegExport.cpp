#include "registry/uRegExport.h"

#include <algorithm>

#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegFile.h"

namespace quenlo {

namespace {

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

bool MakeFileFolder(std::string &errorText, std::string_view filePath) {
  const std::string folder = qp::FolderOf(filePath);
  long lastError = 0;
  if (folder.empty() || qp::ForceDirectories(folder, lastError))
    return true;
  errorText = "CreateDirectory: ";
  if (lastError != 0)
    errorText += SysErrorMessage(lastError);
  errorText += " " + folder;
  return false;
}

std::string Expanded(std::string_view text, std::string_view fallback) {
  const auto expanded = qp::Platform().System().ExpandEnvironmentStrings(text);
  if (!expanded || expanded->find('%') != std::string::npos)
    return std::string(fallback);
  return *expanded;
}

// A key path that can be put between double quotes on a command line and
// reach the program unchanged.
bool SafeOnCommandLine(std::string_view keyPath) {
  for (const char c : keyPath)
    if (c == '"' || static_cast<unsigned char>(c) < 0x20)
      return false;
  return keyPath.empty() || keyPath.back() != '\\';
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// Runs a program hidden and judges its exit code; error texts as the
// registry editor's callers expect them.
bool RunEditor(std::string &errorText, const std::string &commandLine) {
  const qp::ProcessResult result = qp::Platform().Processes().RunHiddenAndWait(commandLine);
  if (!result.started) {
    errorText = "CreateProcess: " + SysErrorMessage(result.startError);
    return false;
  }
  if (result.waitError != 0) {
    errorText = "WaitForSingleObject: " + SysErrorMessage(result.waitError);
    return false;
  }
  if (result.exitCodeError != 0) {
    errorText = "GetExitCodeProcess: " + SysErrorMessage(result.exitCodeError);
    return false;
  }
  if (result.exitCode != 0) {
    errorText = "ExitCode: " + std::to_string(result.exitCode);
    return false;
  }
  return true;
}

std::string NormalisedKeyPath(std::string_view keyPath) {
  while (!keyPath.empty() && keyPath.front() == '\\')
    keyPath.remove_prefix(1);
  return std::string(keyPath);
}

// The key's path as the registry spells it in the view, so that a restore
// creates keys under the names they had; the given spelling stays when the
// view does not list the path.
std::string StoredSpelling(std::uint32_t root, TRegistryView view, const std::string &path) {
  std::string stored, ignored;
  return StoredKeyPath(root, view, path, stored, ignored) ? stored : path;
}

// Every key of the editor's file spelled as the registry spells it.
bool SameSpelling(const TRegFile &exported, const TRegFile &live) {
  if (exported.Keys.size() != live.Keys.size())
    return false;
  for (std::size_t i = 0; i < live.Keys.size(); ++i)
    if (exported.Keys[i].Path != live.Keys[i].Path)
      return false;
  return true;
}

void DeleteFileQuietly(std::string_view filePath) {
  qp::IgnoreResult(Files().DeleteFile(filePath));
}

} // namespace

std::string NativeRegeditPath() {
  const std::string windows = qp::Platform().System().GetWindowsDirectory();
  return Expanded("%systemroot%\\Regedit.exe", windows + "\\Regedit.exe");
}

std::string Regedit32Path() {
  const std::string path = Expanded("%systemroot%\\Syswow64\\Regedit.exe", "");
  return !path.empty() && FileExistsNoRedirect(path) ? path : std::string();
}

bool ExportValues(std::string &errorText, const TExportedKey &key,
                  const std::vector<std::string> &names, std::string_view filePath) {
  if (!MakeFileFolder(errorText, filePath))
    return false;
  TRegFile file;
  TRegFileKey &fileKey = file.Keys.emplace_back();
  fileKey.Root = key.root;
  fileKey.Path = StoredSpelling(key.root, key.view, NormalisedKeyPath(key.path));
  std::size_t written = 0;
  for (const std::string &name : names) {
    TRegFileValue value;
    value.Name = name;
    const long st =
        qp::Platform().Registry().QueryValue(key.handle, name, &value.Type, &value.Data, nullptr);
    if (st != wc::ErrorSuccess) {
      errorText = "RegQueryValueEx(\"" + name + "\"): " + SysErrorMessage(st);
      continue;
    }
    if (value.Data.size() > MaxExportDataSize) {
      errorText = "RegExportValue: data is too big " + std::to_string(value.Data.size());
      continue;
    }
    fileKey.Values.push_back(std::move(value));
    ++written;
  }
  if (written != names.size()) {
    qp::IgnoreResult(Files().DeleteFile(filePath));
    return false;
  }
  return WriteRegFile(file, filePath, errorText);
}

bool ExportValue(std::string &errorText, const TExportedKey &key, std::string_view name,
                 std::string_view filePath) {
  return ExportValues(errorText, key, {std::string(name)}, filePath);
}

bool ExportKeyTree(std::string &errorText, std::uint32_t root, TRegistryView view,
                   std::string_view filePath, std::string_view keyPath) {
  if (!MakeFileFolder(errorText, filePath))
    return false;
  TRegFile tree;
  if (!ReadKeyTree(root, view, keyPath, tree, errorText)) {
    qp::IgnoreResult(Files().DeleteFile(filePath));
    return false;
  }
  return WriteRegFile(tree, filePath, errorText);
}

bool ExportKeyWithRegedit(std::string &errorText, std::uint32_t root, TRegistryView view,
                          std::string_view filePath, std::string_view keyPath) {
  if (!MakeFileFolder(errorText, filePath))
    return false;
  // Refused before the editor runs, so that no file of it is left behind.
  if (!RegFileCanCarryKey(NormalisedKeyPath(keyPath), errorText)) {
    DeleteFileQuietly(filePath);
    return false;
  }
  // The editor is given the registry's spelling; a key that does not exist
  // keeps the caller's, and the editor's failure is the answer.
  std::string path;
  if (!StoredKeyPath(root, view, keyPath, path, errorText))
    path = NormalisedKeyPath(keyPath);
  std::string editor;
  if (view == rv32)
    editor = Regedit32Path();
  const bool noEditorSeesView = view == rv32 && editor.empty() && ProcessOnWow64;
  if (editor.empty())
    editor = NativeRegeditPath();
  if (!SafeOnCommandLine(path) || noEditorSeesView)
    return ExportKeyTree(errorText, root, view, filePath, path);

  const std::string commandLine = Quoted(editor) + " /e " + Quoted(filePath) + " " +
                                  Quoted(RootKeyLongName(root) + "\\" + path);
  if (!RunEditor(errorText, commandLine)) {
    qp::IgnoreResult(Files().DeleteFile(filePath));
    return false;
  }
  // The file must give back exactly what the key holds; otherwise the
  // program's own writer replaces it.
  TRegFile live;
  if (!ReadKeyTree(root, view, path, live, errorText)) {
    qp::IgnoreResult(Files().DeleteFile(filePath));
    return false;
  }
  // A subkey the format cannot carry fails the export whatever the editor
  // wrote: its file would not read back as the key.
  if (!RegFileCanCarryFile(live, errorText)) {
    DeleteFileQuietly(filePath);
    return false;
  }
  TRegFile exported;
  std::string ignored;
  if (ReadRegFile(filePath, exported, ignored) && SameRegContent(exported, live, ignored) &&
      SameSpelling(exported, live))
    return true;
  return WriteRegFile(live, filePath, errorText);
}

bool ImportRegFile(bool use64, std::string_view filePath, std::string &errorText) {
  std::string commandLine;
  if (use64) {
    commandLine = Quoted(NativeRegeditPath()) + " /s " + Quoted(filePath);
  } else if (const std::string editor32 = Regedit32Path(); !editor32.empty()) {
    commandLine = Quoted(editor32) + " /s " + Quoted(filePath);
  } else if (ProcessOnWow64) {
    // No 32-bit editor: the registry console tool writes the 32-bit view.
    const std::string system = qp::Platform().System().GetSystemDirectory();
    commandLine = Quoted(system + "\\reg.exe") + " import " + Quoted(filePath) + " /reg:32";
  } else {
    commandLine = Quoted(NativeRegeditPath()) + " /s " + Quoted(filePath);
  }
  // The editor is never handed a file the program cannot read itself: it
  // might read it differently, and what it did could not be checked.
  TRegFile file;
  if (!ReadRegFile(filePath, file, errorText))
    return false;
  if (!RunEditor(errorText, commandLine))
    return false;
  const TRegistryView view = use64 ? rv64 : rv32;
  if (RegFileApplied(file, view, errorText))
    return true;
  // The editor left out or changed something (string data of odd length or
  // without its terminating NUL, for example): the program writes the
  // file's content itself and checks again.
  return ApplyRegFile(file, view, errorText) && RegFileApplied(file, view, errorText);
}

bool ImportRegFile(bool use64, std::string_view filePath) {
  std::string errorText;
  return ImportRegFile(use64, filePath, errorText);
}

void SplitMultiString(const qp::Bytes &data, std::size_t size, std::vector<std::string> &list) {
  size = std::min(size, data.size());
  std::size_t pos = 0;
  while (pos + 1 < size) {
    std::u16string item;
    while (pos + 1 < size) {
      const char16_t c = static_cast<char16_t>(data[pos] | data[pos + 1] << 8);
      pos += 2;
      if (c == 0)
        break;
      item.push_back(c);
    }
    if (item.empty())
      return;
    list.push_back(qp::Utf16ToUtf8(item));
  }
}

} // namespace quenlo
