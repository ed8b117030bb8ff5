#include "app/pages/uScanPageLogic.h"

#include <algorithm>

namespace quenlo {

TScanPageLogic::TScanPageLogic(TRegScanner &scanner, tProgramSettings &settings)
    : scanner_(scanner), settings_(settings) {
  for (std::size_t c = 0; c < lines_.size(); ++c)
    lines_[c].checked = settings_.ScanCategories[c];
}

TCategorySet TScanPageLogic::CheckedCategories() const {
  TCategorySet set;
  for (int c = 0; c < CategoryCount; ++c)
    if (lines_[static_cast<std::size_t>(c)].checked)
      set.Add(static_cast<TErrorCategory>(c));
  return set;
}

void TScanPageLogic::StoreSwitches() {
  for (std::size_t c = 0; c < lines_.size(); ++c)
    settings_.ScanCategories[c] = lines_[c].checked;
}

void TScanPageLogic::SetScanningLook(bool scanning) {
  scanning_ = scanning;
  progress_ = 0;
  if (!scanning)
    return;
  for (TCategoryLineState &line : lines_) {
    line.countShown = true;
    line.count = 0;
    line.bold = false;
    line.icon = ciNone;
  }
}

void TScanPageLogic::SetProgress(int totalPercent, const std::string &location) {
  progress_ = std::clamp(totalPercent, 0, 100);
  progressText_ = location;
}

void TScanPageLogic::SetCategoryLine(TErrorCategory category, const TScanCategoryLine &line) {
  if (!IsValidCategory(category))
    return;
  TCategoryLineState &state = lines_[static_cast<std::size_t>(category)];
  state.countShown = true;
  state.count = line.found;
  state.bold = line.found > 0;
  state.icon = !line.finished ? ciNone : line.found > 0 ? ciProblems : ciClean;
}

void TScanPageLogic::SetCheckAll(bool checked) {
  for (TCategoryLineState &line : lines_)
    line.checked = checked;
  SelectionChanged();
}

void TScanPageLogic::SetCategoryChecked(TErrorCategory category, bool checked) {
  if (!IsValidCategory(category))
    return;
  lines_[static_cast<std::size_t>(category)].checked = checked;
  SelectionChanged();
}

void TScanPageLogic::SelectionChanged() {
  if (scanner_.IsScanning())
    scanner_.StopScan();
  scanner_.ClearResults();
}

TCheckState TScanPageLogic::CheckAllState() const {
  const auto on = std::count_if(lines_.begin(), lines_.end(),
                                [](const TCategoryLineState &l) { return l.checked; });
  return on == 0               ? TCheckState::Unchecked
         : on == CategoryCount ? TCheckState::Checked
                               : TCheckState::Mixed;
}

void TScanPageLogic::ScanNow() {
  if (!starter_)
    return;
  StoreSwitches();
  scanner_.ClearResults();
  SetProgress(0, "");
  if (starter_())
    SetScanningLook(true);
}

void TScanPageLogic::Stop() {
  StoreSwitches();
  if (scanner_.IsScanning())
    scanner_.StopScan();
}

std::string TScanPageLogic::DescriptionText() const {
  return hovered_ < 0 ? std::string() : std::string(CategoryDescription(hovered_));
}

} // namespace quenlo
