#include "service/uRepairRun.h"

#include <vector>

#include "service/uSettingsEdit.h"

namespace quenlo::service {

int SelectFindings(TRegScanner &scanner, const TRepairSelection &selection) {
  int checked = 0;
  TErrorList &errors = scanner.Errors();
  for (int i = 0; i < errors.Count(); ++i) {
    TRegError *e = errors.Items(i);
    const bool selected = selection.categories.Contains(e->Category) &&
                          (selection.testIds.empty() || selection.testIds.count(e->TestId) > 0);
    e->SetChecked(selected);
    if (selected)
      ++checked;
  }
  return checked;
}

TRepairRunResult RepairSelected(TRegScanner &scanner, const TRepairItemEvent &onItem) {
  TRepairRunResult run;
  for (int c = 0; c < CategoryCount; ++c) {
    TCategoryRepairSummary &row = run.categories[static_cast<std::size_t>(c)];
    const std::vector<TRegError *> list = scanner.Errors().CategoryList(c);
    row.found = static_cast<int>(list.size());
    for (TRegError *e : list) {
      const bool ignored = e->Repaired();
      if (!ignored && !e->Checked())
        continue;
      TRepairItem item;
      item.error = e;
      const bool ok = scanner.RepairError(item.errorText, *e);
      if (ignored) {
        item.outcome = roLeftAlone;
        ++row.leftAlone;
      } else if (ok) {
        e->SetRepaired(true);
        item.outcome = roRepaired;
        ++row.repaired;
      } else {
        item.outcome = roFailed;
        ++row.leftAlone;
        ++run.failed;
      }
      if (onItem)
        onItem(item);
    }
    run.found += row.found;
    run.repaired += row.repaired;
    run.leftAlone += row.leftAlone;
  }
  return run;
}

bool RecordRepairRun(const TRepairRunResult &run, std::string &errorText) {
  errorText.clear();
  if (run.repaired + run.failed == 0)
    return true;
  return RecordRepairCount(run.repaired, errorText);
}

} // namespace quenlo::service
