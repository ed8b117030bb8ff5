// The cleaner's system routines: clipboard format captions, the process list
// of the current session, closing and starting programs, and the restart of
// the Windows shell.
#include "cleaner/uCleanSystem.h"

#include <array>
#include <utility>

#include "platform/ScopeGuard.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

// GetClipboardFormatNameA's buffer holds at most this many characters.
constexpr std::size_t kMaxFormatName = 255;
constexpr std::string_view kUnnamedFormat = "Unnamed clipboard format #";
constexpr std::string_view kShellExe = "explorer.exe";
constexpr std::uint32_t kCloseTimeoutMs = 500;
// How long RestartExplorer looks for the shell after each step: 51 looks,
// 50 ms apart.
constexpr int kShellLooks = 51;
constexpr std::uint32_t kShellLookPauseMs = 50;

struct TFormatCaption {
  std::uint32_t format;
  std::string_view caption;
};

constexpr std::array<TFormatCaption, 26> kFormatCaptions{{
    {1, "Text (ANSI)"},
    {2, "Bitmap image"},
    {3, "Metafile picture"},
    {4, "Microsoft Symbolic Link (SYLK)"},
    {5, "Software Arts' Data Interchange Format"},
    {6, "Tagged-image"},
    {7, "Text (OEM)"},
    {8, "BITMAPINFO memory object"},
    {9, "Color palette"},
    {10, "Pen extension's data"},
    {11, "Complex audio data"},
    {12, "Audio data"},
    {13, "Text (Unicode)"},
    {14, "Enhanced metafile"},
    {15, "List of files"},
    {16, "Locale identifier"},
    {17, "BITMAPV5HEADER memory object"},
    {128, "Owner-display format"},
    {129, "Text display format"},
    {130, "Bitmap display format"},
    {131, "Metafile-picture display format"},
    {142, "Enhanced metafile display format"},
    {512, "Private clipboard format"},
    {767, "Private clipboard format"},
    {768, "Microsoft Windows GDI object"},
    {1023, "Microsoft Windows GDI object"},
}};

// The file name part of an image path ("explorer.exe" of
// "\Device\HarddiskVolume1\Windows\explorer.exe").
std::string_view ImageName(std::string_view imagePath) {
  const std::size_t slash = imagePath.find_last_of('\\');
  return slash == std::string_view::npos ? imagePath : imagePath.substr(slash + 1);
}

// The current session's processes of that name, in list order; false when
// the system offers no process list.
bool MatchingProcesses(std::string_view exeName, std::vector<std::uint32_t> &ids) {
  qp::IProcesses &processes = qp::Platform().Processes();
  std::vector<qp::ProcessEntry> list;
  ids.clear();
  if (!processes.ListProcesses(list))
    return false;
  const std::uint32_t session = processes.CurrentSessionId();
  const std::string wanted = qp::LowerAscii(exeName);
  for (const qp::ProcessEntry &entry : list)
    if (entry.sessionId == session && qp::LowerAscii(ImageName(entry.imagePath)) == wanted)
      ids.push_back(entry.id);
  return true;
}

// "c:\windows\explorer.exe": the Windows folder in small letters, as the
// shell is started after it was closed.
std::string ShellCommandLine() {
  std::string folder = qp::LowerAscii(qp::Platform().System().GetWindowsDirectory());
  if (folder.empty() || folder.back() != '\\')
    folder += '\\';
  return folder + std::string(kShellExe);
}

bool LookForShell() {
  for (int look = 0; look < kShellLooks; ++look) {
    if (FindProcessByName(kShellExe))
      return true;
    qp::Platform().System().Sleep(kShellLookPauseMs);
  }
  return false;
}

} // namespace

std::string GetClipboardFormatCaption(std::uint32_t format, std::string_view registeredName) {
  if (!registeredName.empty())
    return std::string(registeredName.substr(0, kMaxFormatName));
  for (const TFormatCaption &known : kFormatCaptions)
    if (known.format == format)
      return std::string(known.caption);
  return std::string(kUnnamedFormat) + std::to_string(format);
}

std::optional<std::uint32_t> FindProcessByName(std::string_view exeName) {
  std::vector<std::uint32_t> ids;
  if (!MatchingProcesses(exeName, ids) || ids.empty())
    return std::nullopt;
  return ids.front();
}

std::vector<std::uint32_t> FindProcessesByName(std::string_view exeName) {
  std::vector<std::uint32_t> ids;
  qp::IgnoreResult(MatchingProcesses(exeName, ids));
  return ids;
}

qp::TCloseProcessResult CloseProcess(std::uint32_t processId, std::uint32_t timeoutMs) {
  qp::IProcesses &processes = qp::Platform().Processes();
  if (processId == processes.CurrentProcessId())
    return qp::cpNotClosed;
  return processes.CloseProcess(processId, timeoutMs);
}

bool CloseProcessesByName(std::string_view exeName) {
  const std::vector<std::uint32_t> ids = FindProcessesByName(exeName);
  bool allClosed = true;
  for (auto it = ids.rbegin(); it != ids.rend(); ++it)
    allClosed = CloseProcess(*it, kCloseTimeoutMs) != qp::cpNotClosed && allClosed;
  return allClosed;
}

bool StartProcess(std::string_view commandLine) {
  return qp::Platform().Processes().StartProcess(commandLine);
}

bool RestartExplorer() {
  std::vector<std::uint32_t> shells;
  if (!MatchingProcesses(kShellExe, shells))
    return false;
  if (shells.empty()) {
    // Nothing of this session to restart: the shell is started, and the
    // answer says it was not running.
    qp::IgnoreResult(StartProcess(ShellCommandLine()));
    return false;
  }
  if (!CloseProcessesByName(kShellExe))
    return false;
  // Windows usually starts the shell again by itself.
  if (LookForShell())
    return true;
  qp::IgnoreResult(StartProcess(ShellCommandLine()));
  return LookForShell();
}

} // namespace quenlo
