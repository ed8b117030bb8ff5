#include "uMonitorSaveDialog.h"

#include <commdlg.h>

#include <algorithm>
#include <string_view>

#include "platform/win32/WinText.h"

namespace quenlo::win {

namespace {

struct TSaveKind {
  // Pairs of description and pattern, each ended by a NUL (the string's
  // own NUL ends the list).
  std::wstring_view filter;
  const wchar_t *extension;
  const wchar_t *fileName;
  const wchar_t *title;
};

TSaveKind KindOf(TMonitorExport kind) {
  using namespace std::string_view_literals;
  switch (kind) {
  case meJson:
    return {L"JSON files (*.json)\0*.json\0All files (*.*)\0*.*\0"sv, L"json",
            L"Registry changes.json", L"Save list as JSON"};
  case meUndoFile:
    return {L"Registration files (*.reg)\0*.reg\0All files (*.*)\0*.*\0"sv, L"reg",
            L"Undo registry changes.reg", L"Save undo file"};
  case meCsv:
  default:
    return {L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0"sv, L"csv", L"Registry changes.csv",
            L"Save list as CSV"};
  }
}

} // namespace

bool TWin32MonitorSaveDialog::AskPath(TMonitorExport kind, std::string &path) {
  const TSaveKind k = KindOf(kind);
  const std::wstring filter(k.filter);
  std::wstring file(MAX_PATH * 4, L'\0');
  const std::wstring suggested = path.empty() ? std::wstring(k.fileName) : qp::win32::Wide(path);
  suggested.copy(file.data(), std::min(suggested.size(), file.size() - 1));
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner_ ? owner_() : nullptr;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = k.title;
  dialog.lpstrDefExt = k.extension;
  dialog.Flags =
      OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (::GetSaveFileNameW(&dialog) == FALSE)
    return false; // cancelled, or the dialog failed (CommDlgExtendedError)
  path = qp::win32::NarrowUntilNul(file.c_str(), file.size());
  return !path.empty();
}

} // namespace quenlo::win
