#include "app/pages/uResultsModel.h"

#include <algorithm>

#include "app/uEnvironment.h"
#include "registry/uRegAccess.h"

namespace quenlo {

std::string ProblemCountText(int count, const char *suffix) {
  std::string text = std::to_string(count) + " Problem";
  if (count != 1)
    text += 's';
  return text + suffix;
}

std::string IgnoreEntryOf(const TRegError &error) {
  if (error.Action == raRecycleFile)
    return {};
  std::string entry =
      RootKeyShortName(error.RootKey) + "\\" + error.KeyPath + std::string(IgnoreValueSeparator);
  entry += error.ValueName.empty() ? std::string("(DEFAULT)") : error.ValueName;
  return entry;
}

TResultsListModel::TResultsListModel(IPrompter &prompter)
    : prompter_(prompter),
      ignoreFile_{[](std::string_view e, std::string *why) { return AddIgnoreEntry(e, why); },
                  [](std::string_view e, std::string *why) { return RemoveIgnoreEntry(e, why); }},
      link_([this](TRegScanner *, TRegError *error, TListNotification action) {
        OnChange(error, action);
      }) {}

TResultsListModel::~TResultsListModel() {
  Detach();
}

void TResultsListModel::Attach(TRegScanner &scanner) {
  scanner.RegisterChanges(link_);
  view_ = rvSummary;
  detailCategory_ = -1;
  RebuildSummary();
}

void TResultsListModel::Detach() {
  if (TRegScanner *scanner = link_.Scanner())
    scanner->UnregisterChanges(link_);
  view_ = rvSummary;
  detailCategory_ = -1;
  rows_.clear();
  selected_ = -1;
  scroll_ = 0;
}

void TResultsListModel::RebuildSummary() {
  rows_.clear();
  selected_ = -1;
  scroll_ = 0;
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr)
    return;
  for (int g = 0; g < CategoryGroupCount; ++g) {
    if (scanner->GroupErrorCount(g) <= 0)
      continue;
    const std::uint32_t colour = rows_.size() % 2 == 0 ? kRowGrey : kRowWhite;
    rows_.push_back({srGroupCollapsed, g, -1, colour});
  }
}

void TResultsListModel::OnChange(TRegError *error, TListNotification action) {
  // A cleared list leaves nothing to summarise: rows of groups that no
  // longer have problems would offer details of nothing.
  if (error == nullptr && action == lnDeleted) {
    view_ = rvSummary;
    detailCategory_ = -1;
    RebuildSummary();
    return;
  }
  // Otherwise the summary rows stay as they are (their counts are read when
  // drawn); a detail view whose category emptied falls back to the summary.
  if (view_ == rvDetail && Scanner()->CategoryErrorCount(detailCategory_) == 0)
    BackToSummary();
}

TResultsView TResultsListModel::View() const {
  return Scanner() == nullptr ? rvSummary : view_;
}

int TResultsListModel::RowCount() const {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr)
    return 0;
  if (view_ == rvDetail)
    return scanner->CategoryErrorCount(detailCategory_);
  return static_cast<int>(rows_.size());
}

int TResultsListModel::RowHeight(int row) const {
  if (View() == rvDetail)
    return kDetailRowHeight;
  if (row < 0 || row >= static_cast<int>(rows_.size()))
    return 0;
  return rows_[static_cast<std::size_t>(row)].kind == srCategory ? kCategoryRowHeight
                                                                 : kGroupRowHeight;
}

TSummaryRowText TResultsListModel::SummaryText(int row) const {
  TSummaryRowText text;
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr || View() != rvSummary || row < 0 || row >= static_cast<int>(rows_.size()))
    return text;
  const TSummaryRow &r = rows_[static_cast<std::size_t>(row)];
  if (r.kind == srCategory) {
    text.name = std::string(CategoryName(r.category));
    text.selected = scanner->CategoryCheckedCount(r.category);
    text.found = scanner->CategoryErrorCount(r.category);
    return text;
  }
  const TCategoryGroup &group = CategoryGroups[static_cast<std::size_t>(r.group)];
  text.name = std::string(group.Name);
  text.heading = std::string(group.HeadingName);
  text.selected = scanner->GroupCheckedCount(r.group);
  text.found = scanner->GroupErrorCount(r.group);
  text.expandable = true;
  text.expanded = r.kind == srGroupExpanded;
  return text;
}

void TResultsListModel::Expand(int row) {
  const TRegScanner *scanner = Scanner();
  TSummaryRow &group = rows_[static_cast<std::size_t>(row)];
  const std::uint32_t inserted = Opposite(group.background);
  const int groupIndex = group.group;
  group.kind = srGroupExpanded;
  std::vector<TSummaryRow> members;
  for (int c = 0; c < CategoryCount; ++c) {
    const TCategorySet set = CategoryGroups[static_cast<std::size_t>(groupIndex)].Members;
    if (set.Contains(static_cast<TErrorCategory>(c)) && scanner->CategoryErrorCount(c) > 0)
      members.push_back({srCategory, groupIndex, c, inserted});
  }
  for (auto it = rows_.begin() + row + 1; it != rows_.end(); ++it)
    it->background = Opposite(it->background);
  rows_.insert(rows_.begin() + row + 1, members.begin(), members.end());
  selected_ = row;
}

void TResultsListModel::Collapse(int row) {
  rows_[static_cast<std::size_t>(row)].kind = srGroupCollapsed;
  auto first = rows_.begin() + row + 1;
  auto last =
      std::find_if(first, rows_.end(), [](const TSummaryRow &r) { return r.kind != srCategory; });
  rows_.erase(first, last);
  for (auto it = rows_.begin() + row + 1; it != rows_.end(); ++it)
    it->background = Opposite(it->background);
  selected_ = row;
}

bool TResultsListModel::ToggleGroup(int row) {
  if (Scanner() == nullptr || View() != rvSummary || row < 0 ||
      row >= static_cast<int>(rows_.size()))
    return false;
  switch (rows_[static_cast<std::size_t>(row)].kind) {
  case srGroupCollapsed:
    Expand(row);
    return true;
  case srGroupExpanded:
    Collapse(row);
    return true;
  case srCategory:
    return false;
  }
  return false;
}

bool TResultsListModel::OpenDetails(int row) {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr || View() != rvSummary || row < 0 || row >= static_cast<int>(rows_.size()))
    return false;
  const TSummaryRow &r = rows_[static_cast<std::size_t>(row)];
  if (r.kind != srCategory || scanner->CategoryErrorCount(r.category) <= 0)
    return false;
  summarySelected_ = row;
  summaryScroll_ = scroll_;
  view_ = rvDetail;
  detailCategory_ = r.category;
  selected_ = 0;
  scroll_ = 0;
  return true;
}

void TResultsListModel::Activate(int row) {
  if (!ToggleGroup(row))
    qp::IgnoreResult(OpenDetails(row));
}

void TResultsListModel::BackToSummary() {
  if (view_ != rvDetail)
    return;
  view_ = rvSummary;
  detailCategory_ = -1;
  selected_ = summarySelected_ < static_cast<int>(rows_.size()) ? summarySelected_ : -1;
  scroll_ = summaryScroll_;
}

TRegError *TResultsListModel::DetailError(int row) const {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr || view_ != rvDetail)
    return nullptr;
  return scanner->ErrorAt(detailCategory_, row);
}

TDetailRowText TResultsListModel::DetailText(int row) const {
  TDetailRowText text;
  const TRegError *error = DetailError(row);
  if (error == nullptr)
    return text;
  text.kindName = std::string(ErrorKindName(error->Kind));
  text.ignoreMarker = error->Repaired();
  text.description = error->Description();
  text.location = Scanner()->ValueLocationText(*error);
  text.checked = error->Checked();
  text.background = row % 2 == 0 ? kRowGrey : kRowWhite;
  return text;
}

void TResultsListModel::ToggleChecked(int row) {
  if (TRegError *error = DetailError(row))
    error->SetChecked(!error->Checked());
}

int TResultsListModel::FoundCount() const {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr)
    return 0;
  return View() == rvDetail ? scanner->CategoryErrorCount(detailCategory_) : scanner->ErrorCount();
}

int TResultsListModel::SelectedCount() const {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr)
    return 0;
  return View() == rvDetail ? scanner->CategoryCheckedCount(detailCategory_)
                            : scanner->CheckedTotal();
}

std::string TResultsListModel::CaptionText() const {
  if (View() == rvDetail)
    return std::string(CategoryName(detailCategory_));
  return "Summary";
}

std::string TResultsListModel::TotalSelectedText() const {
  const TRegScanner *scanner = Scanner();
  return "Total Registry Errors Selected: " +
         std::to_string(scanner == nullptr ? 0 : scanner->CheckedTotal());
}

TResultsMenu TResultsListModel::MenuFor(int row) const {
  TResultsMenu menu;
  if (Scanner() == nullptr)
    return menu;
  menu.selectAll = true;
  menu.deselectAll = true;
  if (View() == rvDetail) {
    const TRegError *error = DetailError(row);
    if (error != nullptr && error->Kind != ekInvalidShortcut) {
      menu.permanentlyIgnoreShown = true;
      menu.permanentlyIgnoreEnabled = true;
      menu.permanentlyIgnoreChecked = error->Repaired();
      menu.showKey = true;
    }
    return menu;
  }
  const bool onRow = row >= 0 && row < static_cast<int>(rows_.size());
  menu.selectAllInCategory = onRow;
  menu.deselectAllInCategory = onRow;
  return menu;
}

void TResultsListModel::SelectAll(bool checked) {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr)
    return;
  if (View() == rvDetail) {
    for (TRegError *error : scanner->Errors().CategoryList(detailCategory_))
      error->SetChecked(checked);
    return;
  }
  const TErrorList &errors = scanner->Errors();
  for (int i = 0; i < errors.Count(); ++i)
    errors.Items(i)->SetChecked(checked);
}

void TResultsListModel::SelectAllInGroup(int row, bool checked) {
  const TRegScanner *scanner = Scanner();
  if (scanner == nullptr || View() != rvSummary || row < 0 || row >= static_cast<int>(rows_.size()))
    return;
  const TCategorySet members =
      CategoryGroups[static_cast<std::size_t>(rows_[static_cast<std::size_t>(row)].group)].Members;
  for (int c = 0; c < CategoryCount; ++c)
    if (members.Contains(static_cast<TErrorCategory>(c)))
      for (TRegError *error : scanner->Errors().CategoryList(c))
        error->SetChecked(checked);
}

void TResultsListModel::PermanentlyIgnore(int row) {
  TRegError *error = DetailError(row);
  if (error == nullptr || error->Action == raRecycleFile)
    return;
  const bool mark = !error->Repaired();
  const std::string entry = IgnoreEntryOf(*error);
  std::string why;
  const bool written = mark ? ignoreFile_.add(entry, &why) : ignoreFile_.remove(entry, &why);
  if (!written) {
    // The mark follows the file: a problem the file does not keep ignored
    // must not look ignored (nor the other way round).
    TPrompt prompt;
    prompt.text = std::string(mark ? "The item could not be added to the ignore list."
                                   : "The item could not be removed from the ignore list.") +
                  (why.empty() ? "" : "\r" + why);
    prompt.icon = TMsgIcon::Error;
    qp::IgnoreResult(prompter_.Ask(prompt));
    return;
  }
  error->SetRepaired(mark);
}

} // namespace quenlo
