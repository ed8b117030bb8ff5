// The results list without its window: the summary rows (groups that can be
// expanded into their categories), the detail rows of one category, the
// page counters, the context menu and its actions. A virtual list view asks
// for row i; nothing here copies the scanner's findings, so a list of
// 100,000 costs no more to show than a list of ten.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/pages/uPageServices.h"
#include "scanner/uRegScanner.h"

namespace quenlo {

enum TResultsView : std::uint8_t { rvSummary = 0, rvDetail = 1 };

enum TSummaryRowKind : std::uint8_t { srGroupCollapsed = 0, srGroupExpanded = 1, srCategory = 2 };

inline constexpr std::uint32_t kRowGrey = 0xEEEEEE;
inline constexpr std::uint32_t kRowWhite = 0xFFFFFF;
inline constexpr int kGroupRowHeight = 68;
inline constexpr int kCategoryRowHeight = 34;
inline constexpr int kDetailRowHeight = 55;
// Drawn after the kind's name on a problem marked to be ignored.
inline constexpr const char *kIgnoreMarkerText = "Ignore";
inline constexpr const char *kDetailsLinkText = "Details";
// Five groups plus every category of the largest possible expansion.
inline constexpr int kMaxSummaryRows = 29;

struct TSummaryRow {
  TSummaryRowKind kind = srGroupCollapsed;
  int group = 0;
  int category = -1; // -1 on a group row
  std::uint32_t background = kRowGrey;
};

// What a summary row shows; counts are read from the scanner when asked.
struct TSummaryRowText {
  std::string name;    // group or category name
  std::string heading; // the group's heading name; empty on a category row
  int selected = 0;
  int found = 0;
  bool expandable = false; // group rows carry the expand/collapse icon
  bool expanded = false;
};

struct TDetailRowText {
  std::string kindName; // bold
  bool ignoreMarker = false;
  std::string description;
  std::string location;
  bool checked = false;
  std::uint32_t background = kRowGrey;
};

struct TResultsMenu {
  bool permanentlyIgnoreShown = false;
  bool permanentlyIgnoreEnabled = false;
  bool permanentlyIgnoreChecked = false;
  bool selectAll = false;
  bool deselectAll = false;
  bool showKey = false;
  bool selectAllInCategory = false;
  bool deselectAllInCategory = false;
  bool shortcutProperties = false; // never shown
};

// "%d Problem" + "s" unless exactly 1 + suffix (" Found", " Selected", " Repaired").
std::string ProblemCountText(int count, const char *suffix);
// The ignore-file entry of a finding: short root, key path, "\\:" and the
// value name ("(DEFAULT)" for the default value); empty for a file finding.
std::string IgnoreEntryOf(const TRegError &error);

class TResultsListModel {
public:
  // Adding and removing ignore entries; tests replace them.
  struct TIgnoreFile {
    std::function<bool(std::string_view, std::string *)> add;
    std::function<bool(std::string_view, std::string *)> remove;
  };

  explicit TResultsListModel(IPrompter &prompter);
  ~TResultsListModel();
  TResultsListModel(const TResultsListModel &) = delete;
  TResultsListModel &operator=(const TResultsListModel &) = delete;

  void SetIgnoreFile(TIgnoreFile file) { ignoreFile_ = std::move(file); }

  // Starts following the scanner (rebuilding the summary afresh); Detach
  // lets go. A detached model, or one whose scanner went away, is an empty
  // summary.
  void Attach(TRegScanner &scanner);
  void Detach();
  TRegScanner *Scanner() const { return link_.Scanner(); }
  // The summary afresh: one collapsed row per group with problems.
  void RebuildSummary();

  TResultsView View() const;
  int RowCount() const;
  int RowHeight(int row) const;

  // --- summary view
  const std::vector<TSummaryRow> &SummaryRows() const { return rows_; }
  TSummaryRowText SummaryText(int row) const;
  // Expands a collapsed group row, collapses an expanded one; false for a
  // category row or a row out of range.
  bool ToggleGroup(int row);
  // Opens the detail view of a category row (only when it has problems).
  bool OpenDetails(int row);
  // Enter on a summary row: toggles a group, opens a category.
  void Activate(int row);

  // --- detail view
  int DetailCategory() const { return detailCategory_; }
  TDetailRowText DetailText(int row) const;
  TRegError *DetailError(int row) const;
  void ToggleChecked(int row);
  // Back to the summary with its selection and scroll position restored.
  void BackToSummary();

  // --- selection and scroll position of the current view, kept by the view
  int Selected() const { return selected_; }
  void Select(int row) { selected_ = row; }
  int ScrollPosition() const { return scroll_; }
  void SetScrollPosition(int position) { scroll_ = position; }

  // --- counters and captions
  int FoundCount() const;
  int SelectedCount() const;
  std::string FoundText() const { return ProblemCountText(FoundCount(), " Found"); }
  std::string SelectedText() const { return ProblemCountText(SelectedCount(), " Selected"); }
  std::string CaptionText() const; // "Summary", or "Summary" - category name
  std::string TotalSelectedText() const;
  bool RepairEnabled() const { return SelectedCount() > 0; }

  // --- context menu on a row (-1: none) and its actions
  TResultsMenu MenuFor(int row) const;
  void SelectAll(bool checked);
  // Every category of the group of a summary row.
  void SelectAllInGroup(int row, bool checked);
  // Toggles the ignore mark of a detail row and writes the ignore file;
  // a failed write is told to the user and the mark goes back.
  void PermanentlyIgnore(int row);
  // The key "S"/"s" on a row: the same as the menu entry.
  void KeyS(int row) { PermanentlyIgnore(row); }

private:
  void OnChange(TRegError *error, TListNotification action);
  void Expand(int row);
  void Collapse(int row);
  static std::uint32_t Opposite(std::uint32_t colour) {
    return colour == kRowGrey ? kRowWhite : kRowGrey;
  }

  IPrompter &prompter_;
  TIgnoreFile ignoreFile_;
  TRegScannerChangeLink link_;
  std::vector<TSummaryRow> rows_;
  TResultsView view_ = rvSummary;
  int detailCategory_ = -1;
  int selected_ = -1;
  int scroll_ = 0;
  int summarySelected_ = -1;
  int summaryScroll_ = 0;
};

} // namespace quenlo
