#include "uWin32RestoreUi.h"

#include <commdlg.h>

#include <algorithm>

#include "platform/UniqueAny.h"
#include "platform/win32/WinText.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static constexpr HGLOBAL Invalid() noexcept { return nullptr; }
  static void Close(HGLOBAL h) noexcept { ::GlobalFree(h); }
};
using UniqueGlobal = qp::TUniqueAny<GlobalMemoryTraits>;

// A printer DC comes from the print dialog and goes with DeleteDC.
using UniquePrinterDc = ui::UniqueMemoryDc;

constexpr int kFontPoints = 10;
constexpr int kPointsPerInch = 72;
constexpr int kMarginDivisor = 2; // half an inch on every side
constexpr wchar_t kPrintFont[] = L"Arial";
constexpr wchar_t kDocumentName[] = L"Quenlo - registry backups";

// A document started on the printer; abandoned unless it was finished, so
// that a failed page leaves nothing half printed in the queue.
class TPrintJob {
public:
  explicit TPrintJob(HDC dc) : dc_(dc) {
    DOCINFOW info{};
    info.cbSize = sizeof(info);
    info.lpszDocName = kDocumentName;
    started_ = ::StartDocW(dc_, &info) > 0;
  }
  TPrintJob(const TPrintJob &) = delete;
  TPrintJob &operator=(const TPrintJob &) = delete;
  ~TPrintJob() {
    if (started_)
      ::AbortDoc(dc_);
  }
  bool Started() const { return started_; }
  [[nodiscard]] bool Finish() {
    started_ = false;
    return ::EndDoc(dc_) > 0;
  }

private:
  HDC dc_;
  bool started_ = false;
};

// Where the lines go on the page, in device units.
struct TPageGeometry {
  int left = 0;
  int top = 0;
  int bottom = 0; // no line may reach below this
  int lineHeight = 1;
};

TPageGeometry MeasurePage(HDC dc) {
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  TPageGeometry page;
  page.left = ::GetDeviceCaps(dc, LOGPIXELSX) / kMarginDivisor;
  page.top = ::GetDeviceCaps(dc, LOGPIXELSY) / kMarginDivisor;
  page.bottom = ::GetDeviceCaps(dc, VERTRES) - page.top;
  page.lineHeight = std::max<int>(1, metrics.tmHeight + metrics.tmExternalLeading);
  // A page too small for its margins still takes one line.
  page.bottom = std::max(page.bottom, page.top + page.lineHeight);
  return page;
}

// Prints the lines, one per line, onto as many pages as they need.
bool PrintOnDc(HDC dc, const std::vector<std::string> &lines) {
  LOGFONTW font{};
  font.lfHeight = -::MulDiv(kFontPoints, ::GetDeviceCaps(dc, LOGPIXELSY), kPointsPerInch);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  std::copy_n(kPrintFont, std::size(kPrintFont), font.lfFaceName);
  const ui::UniqueGdi printFont(::CreateFontIndirectW(&font));
  if (!printFont)
    return false;
  const ui::SelectScope select(dc, printFont.Get());
  const TPageGeometry page = MeasurePage(dc);

  TPrintJob job(dc);
  if (!job.Started())
    return false;
  bool pageOpen = false;
  int y = page.top;
  for (const std::string &line : lines) {
    if (!pageOpen) {
      if (::StartPage(dc) <= 0)
        return false;
      pageOpen = true;
      y = page.top;
    }
    const std::wstring text = qp::win32::Wide(line);
    if (::TextOutW(dc, page.left, y, text.c_str(), static_cast<int>(text.size())) == FALSE)
      return false;
    y += page.lineHeight;
    if (y + page.lineHeight > page.bottom) {
      pageOpen = false;
      if (::EndPage(dc) <= 0)
        return false;
    }
  }
  if (pageOpen && ::EndPage(dc) <= 0)
    return false;
  return job.Finish();
}

} // namespace

TMsgAnswer TWin32RestoreUi::Message(const std::string &text, TMsgButtons buttons, TMsgIcon icon) {
  return d_.prompter.Ask({.text = text, .buttons = buttons, .icon = icon});
}

void TWin32RestoreUi::SetBusyCursor(bool busy) {
  d_.frame.SetBusyCursor(busy);
}

bool TWin32RestoreUi::ShowKeyInRegedit(const std::string &entry) {
  return d_.showKey.ShowKeyInRegedit(entry);
}

bool TWin32RestoreUi::PrintLines(const std::vector<std::string> &lines) {
  if (lines.empty())
    return true; // nothing to print: no dialog either
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = d_.owner ? d_.owner() : nullptr;
  dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE;
  const BOOL chosen = ::PrintDlgW(&dialog);
  // The dialog's settings are the caller's to free, chosen or not.
  const UniqueGlobal devMode(dialog.hDevMode);
  const UniqueGlobal devNames(dialog.hDevNames);
  const UniquePrinterDc dc(dialog.hDC);
  if (chosen == FALSE)
    return ::CommDlgExtendedError() == 0; // 0: the user cancelled
  if (!dc)
    return false;
  return PrintOnDc(dc.Get(), lines);
}

} // namespace quenlo::win
