// The page views of the main window. Each is a child window that reads what
// to show from its page-logic object (Refresh) and hands every input to it;
// none decides anything itself.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/pages/uHistoryPageLogic.h"
#include "app/pages/uMonitorPageLogic.h"
#include "app/pages/uOptimizerPageLogic.h"
#include "app/pages/uReportPageLogic.h"
#include "app/pages/uRestorePage.h"
#include "app/pages/uResultsPageLogic.h"
#include "app/pages/uScanPageLogic.h"
#include "app/pages/uSettingsPageLogic.h"
#include "app/pages/uStatusPageLogic.h"
#include "app/pages/uTweaksPageLogic.h"
#include "uMainLogicPort.h"
#include "ui/uCategoryLine.h"
#include "ui/uHealthGauge.h"
#include "ui/uProgressBar.h"
#include "ui/uRowList.h"
#include "ui/uVirtualList.h"
#include "ui/uWindow.h"

namespace quenlo::win {

// The fonts every page uses, rebuilt when the DPI changes.
struct TFonts {
  ui::UniqueGdi normal;
  ui::UniqueGdi bold;
  ui::UniqueGdi title;
  ui::UniqueGdi big;
  ui::UniqueGdi link;
  void Build(ui::TDpi dpi);
};

struct TViewContext {
  IMainLogicPort &logic;
  ICommandQueue &commands;
  const TFonts &fonts;
  // Asks for a refresh of the shown page once the current message is done.
  std::function<void()> requestRefresh;
};

class TPageView : public ui::TWindow {
public:
  explicit TPageView(TViewContext context) : ctx_(context) {}
  [[nodiscard]] bool Create(HWND parent);
  // Reads the logic's state into the controls.
  virtual void Refresh() = 0;
  // The page has just been brought up (it was another page before).
  virtual void OnShown() {}
  // Another page has just taken this one's place.
  virtual void OnHidden() {}

protected:
  virtual void Build() = 0;
  virtual void Layout() = 0;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;
  // WM_COMMAND from a control of the page.
  virtual void OnCommand(int id, int code) = 0;
  virtual LRESULT OnNotify(const NMHDR &, bool &handled) {
    handled = false;
    return 0;
  }
  virtual void PaintExtra(HDC) {}
  // WM_MEASUREITEM / WM_DRAWITEM of an owner-drawn control; true when handled.
  virtual bool OnOwnerDrawn(UINT, LPARAM) { return false; }

  HWND Add(const wchar_t *cls, const std::wstring &text, DWORD style, int id, HFONT font = nullptr);
  HWND Item(int id) const { return ::GetDlgItem(Handle(), id); }
  void Place(int id, int x, int y, int w, int h) const;
  void SetText(int id, const std::string &utf8) const;
  void Enable(int id, bool enabled) const;
  void Visible(int id, bool shown) const;
  void ApplyFonts();
  int Width() const;
  int Height() const;

  TViewContext ctx_;
  std::vector<ui::UniqueHwnd> controls_;
  std::vector<std::pair<HWND, int>> fontRoles_; // 0 normal, 1 bold, 2 title, 3 big, 4 link
};

class TStatusPageView final : public TPageView {
public:
  TStatusPageView(TViewContext context, TStatusPageLogic &logic)
      : TPageView(context), logic_(logic) {}
  void Refresh() override;

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;

private:
  TStatusPageLogic &logic_;
  ui::THealthGauge gauge_;
};

class TScanPageView final : public TPageView {
public:
  TScanPageView(TViewContext context, TScanPageLogic &logic) : TPageView(context), logic_(logic) {}
  void Refresh() override;

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  void OnDpiChanged() override;

private:
  TScanPageLogic &logic_;
  std::array<ui::TCategoryLine, CategoryCount> lines_;
  ui::TProgressBar progress_;
};

class TResultsPageView final : public TPageView {
public:
  TResultsPageView(TViewContext context, TResultsPageLogic &logic)
      : TPageView(context), logic_(logic) {}
  void Refresh() override;
  HWND List() const { return list_.Handle(); }

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR &header, bool &handled) override;
  void OnDpiChanged() override;
  bool OnOwnerDrawn(UINT message, LPARAM lParam) override;

private:
  void ContextMenu(int row, POINT screen);
  void AfterInput();
  void PaintSummaryRow(HDC dc, int row, const RECT &rect, bool selected, bool focused) const;
  void PaintDetailRow(HDC dc, int row, const RECT &rect, bool selected, bool focused) const;
  void SummaryClick(int row, POINT inRow, SIZE rowSize);
  void DetailClick(int row, POINT inRow, SIZE rowSize);
  int ShownTopRow() const;

  TResultsPageLogic &logic_;
  // The summary (rows of two heights) and the detail view (one category's
  // problems, possibly very many): one of them is shown.
  ui::TRowList summary_;
  ui::TVirtualList list_;
  ui::TProgressBar progress_;
  int shownView_ = -1;
  int shownCategory_ = -1;
};

class TReportPageView final : public TPageView {
public:
  TReportPageView(TViewContext context, TReportPageLogic &logic);
  ~TReportPageView() override;
  void Refresh() override;
  // The page reads the last scan's date and count each time it shows.
  void OnShown() override { logic_.Show(); }

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;

private:
  class TTable;
  TReportPageLogic &logic_;
  std::unique_ptr<TTable> table_;
};

// "Optimize System Performance": the system settings and the defragmenter,
// and from Vista on (tweaks given) the "Windows Tweaks" tab.
class TOptimizerPageView final : public TPageView {
public:
  TOptimizerPageView(TViewContext context, TOptimizerPageLogic &performance,
                     TTweaksPageLogic *tweaks);
  void Refresh() override;
  void OnShown() override;

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR &header, bool &handled) override;
  bool OnOwnerDrawn(UINT message, LPARAM lParam) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void BuildPerformance();
  void BuildTweaks();
  int ContentTop() const;
  // The width of a control's text in its font, in 96-DPI pixels.
  int TextWidth96(HWND control) const;
  void ShowTab(int tab);
  void RefreshPerformance(bool shown);
  void RefreshTweaks(bool shown);
  void SetCheck(int id, bool checked) const;
  bool Checked(int id) const;
  void EditorChanged();
  void SliderMoved(HWND slider);

  TOptimizerPageLogic &performance_;
  TTweaksPageLogic *tweaks_; // null: no tweaks tab on this version
  int tab_ = 0;
  // Set while the controls are being set from the logic: their
  // notifications are not the user's.
  bool refreshing_ = false;
};

// "Registry Monitor": the list of captured changes (owner data, up to the
// logic's MaxMonitorRows rows), its counters, Start or Stop, Pause, Clear,
// Export and the link to the monitor's settings. The newest row stays in
// view unless the user scrolled away from the end.
class TMonitorPageView final : public TPageView {
public:
  TMonitorPageView(TViewContext context, TMonitorPageLogic &logic)
      : TPageView(context), logic_(logic) {}
  void Refresh() override;

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR &header, bool &handled) override;
  bool OnOwnerDrawn(UINT message, LPARAM lParam) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

private:
  std::wstring CellText(int row, int column) const;
  void RefreshRows();
  void FitColumns();
  void RowMenu(int row, POINT screen);
  void ExportMenu();
  std::string StatusText() const;

  TMonitorPageLogic &logic_;
  ui::TVirtualList list_;
  std::uint64_t shownVersion_ = ~std::uint64_t{0};
  // The user dragged a column border: the widths are theirs from then on.
  bool columnsSized_ = false;
};

// The "Time" column's text: the locale's short date and its time of day.
std::string MonitorTimeText(std::chrono::system_clock::time_point time);

// "Clean History": the category page (the categories' boxes in their
// groups, the all-box, the downloaded-files box, Analyze, Clean, Stop and
// the progress) and the summary page (the analysis, a category's details or
// the clean result in one list, the two figures, Clean, Back, Stop). Both
// are one window whose controls show by the logic's sub-page; the progress
// bar and "Progress:" stand where the logic says.
class THistoryPageView final : public TPageView {
public:
  THistoryPageView(TViewContext context, THistoryPageLogic &logic)
      : TPageView(context), logic_(logic) {}
  void Refresh() override;

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR &header, bool &handled) override;
  void OnDpiChanged() override;

private:
  void LayoutCategories(int w, int h);
  void LayoutSummary(int w, int h);
  void LayoutFigures();
  void LayoutProgress(int w, int h);
  // The width of a control's text in its font, in 96-DPI pixels.
  int TextWidth96(HWND control) const;
  void RefreshCategories(bool shown);
  void RefreshSummary(bool shown);
  void RefreshProgress(bool onCategories);
  void RefreshList();
  void FitColumns();
  void KeepFocusVisible(bool onCategories);
  std::wstring CellText(int row, int column) const;
  LRESULT CustomDrawList(const NMHDR &header, bool &handled);
  void SetCheck(int id, bool checked) const;
  bool Checked(int id) const;

  THistoryPageLogic &logic_;
  ui::TVirtualList list_;
  ui::TProgressBar progress_;
  // What the controls were last set to, so that a refresh while a pass
  // runs leaves the list's columns, selection and layout alone.
  std::vector<std::string> shownColumns_;
  int shownSubPage_ = -1;
  int shownPlace_ = -1;
  int shownView_ = -1;
  std::string shownTitle_;
  std::array<std::string, 2> shownFigures_;
  int figuresY_ = 0;
  // Set while the controls are being set from the logic: their
  // notifications are not the user's.
  bool refreshing_ = false;
};

// "Settings": the tabs "General" (the automatic start, the repair options,
// the counters' reset, the full registry backup and its restore), "Ignore
// List" and "Monitor" (the monitored keys and the number of events before a
// notice). The tab control is only the strip of tab headers; the controls
// of every tab are children of the page, the other tabs' hidden. Both lists
// are owner-data list views over the logic's rows.
class TSettingsPageView final : public TPageView {
public:
  TSettingsPageView(TViewContext context, TSettingsPageLogic &logic)
      : TPageView(context), logic_(logic) {}
  void Refresh() override;
  void OnShown() override;
  void OnHidden() override { logic_.Hide(); }

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR &header, bool &handled) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

private:
  void BuildGeneral();
  void BuildIgnoreList();
  void BuildMonitor();
  HWND AddList(int id, const std::vector<const wchar_t *> &columns);
  void LayoutGeneral(int top);
  void LayoutIgnoreList(int top, int w, int h);
  void LayoutMonitor(int top, int w, int h);
  // The width of a control's text in its font, in 96-DPI pixels.
  int TextWidth96(HWND control) const;
  void ShowTab(int tab);
  void RefreshGeneral();
  // The lists' rows from the logic. force: also when they look the same
  // (after an add, whose row is selected even when it was there before).
  void RefreshIgnoreRows(bool force);
  void RefreshMonitoredKeys(bool force);
  void FitIgnoreColumns();
  void FitMonitorColumn();
  void RefreshListButtons();
  void RefreshPrompt();
  void PromptChanged();
  void IgnoreListMenu(POINT screen);
  void CellText(NMLVDISPINFOW &info) const;
  void SetCheck(int id, bool checked) const;
  bool Checked(int id) const;
  void SetComboIndex(int id, int index) const;

  TSettingsPageLogic &logic_;
  int shownTab_ = -1;
  // What the lists were last filled with.
  std::vector<TIgnoreRow> shownIgnoreRows_;
  std::vector<std::string> shownMonitoredKeys_;
  // Set while the controls are being set from the logic: their
  // notifications are not the user's.
  bool refreshing_ = false;
};

// "Restore": the days with undo backups (newest selected), the check list
// of the chosen day's keys with the select-all box and the item count,
// Restore, Print and Show Key, and the box that purges old days. The list
// is a standard list view with check boxes: the control keeps the marks,
// and every change it reports is handed to the logic.
class TRestorePageView final : public TPageView {
public:
  TRestorePageView(TViewContext context, TRestorePage &logic) : TPageView(context), logic_(logic) {}
  void Refresh() override;
  // The first show purges (when asked to) and fills the page.
  void OnShown() override { logic_.Show(); }

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR &header, bool &handled) override;
  void OnDpiChanged() override;

private:
  void RefreshDays();
  void RefreshEntries();
  void FitColumn() const;
  // The width of a control's text in its font, in 96-DPI pixels.
  int TextWidth96(HWND control) const;
  void KeepFocusUsable();
  int SelectedRow() const;
  void SetCheck(int id, TCheckState state) const;

  TRestorePage &logic_;
  // What the controls were last filled with, so that a refresh leaves the
  // list's scroll position and focus alone while nothing changed.
  std::vector<std::string> shownDays_;
  std::vector<std::string> shownEntries_;
  // Set while the controls are being set from the logic: their
  // notifications are not the user's.
  bool refreshing_ = false;
};

// Pages of later versions: a notice that the feature comes later.
class TPlaceholderPageView final : public TPageView {
public:
  TPlaceholderPageView(TViewContext context, std::wstring title)
      : TPageView(context), title_(std::move(title)) {}
  void Refresh() override {}

protected:
  void Build() override;
  void Layout() override;
  void OnCommand(int, int) override {}

private:
  std::wstring title_;
};

} // namespace quenlo::win
