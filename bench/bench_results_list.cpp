// Benchmark of the results list: fills a scanner's error list with 100,000
// findings of one category on the in-memory Windows, opens that category's
// detail view and asks for every row's texts a page at a time, as a
// scrolling virtual list does, then prints the time per row against a
// baseline in the same run (walking the error list and formatting the same
// texts directly) and their ratio. A ratio near 1 means the list adds no
// cost of its own per row; a list that copied or rebuilt its rows would
// show a ratio that grows with the number of findings.
//
// Usage: bench_results_list [FINDINGS]   (default 100,000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/pages/uResultsModel.h"
#include "platform/MainThread.h"
#include "platform/memory/MemoryPlatform.h"
#include "scanner/uRegScanner.h"

namespace {

using namespace quenlo;
using Clock = std::chrono::steady_clock;

constexpr int kPageRows = 12; // a 660-pixel list of 55-pixel rows
constexpr int kRounds = 3;

class NoPrompts final : public IPrompter {
public:
  TMsgAnswer Ask(const TPrompt &) override { return TMsgAnswer::Ok; }
};

void Fill(TRegScanner &scanner, int findings) {
  for (int i = 0; i < findings; ++i) {
    TRegErrorInfo info;
    info.View64 = 1;
    info.RootKey = 0x80000002u;
    info.KeyPath = "Software\\Classes\\CLSID\\{BE5C" + std::to_string(i) + "}\\InprocServer32";
    info.ValueName = i % 3 == 0 ? "" : "ThreadingModel";
    info.Target = "C:\\Program Files\\Gone\\server" + std::to_string(i) + ".dll";
    info.Data = info.Target;
    info.Category = ecCLSIDs;
    info.Kind = ekInvalidPath;
    info.Action = raDeleteValue;
    info.Actions = TRepairActionSet::Of(raDeleteValue);
    scanner.Errors().Add(std::make_unique<TRegError>(info));
  }
}

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

} // namespace

int main(int argc, char **argv) {
  const int findings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
  qp::mem::MemoryPlatform platform;
  platform.Install();
  qp::TMainThread main;
  TRegScanner scanner(main);
  NoPrompts prompts;
  TResultsListModel model(prompts);

  Clock::time_point start = Clock::now();
  model.Attach(scanner); // attached while the scan adds, as the page is
  Fill(scanner, findings);
  const double fillSeconds = Seconds(start);

  start = Clock::now();
  model.RebuildSummary();
  model.ToggleGroup(0);
  int categoryRow = -1;
  for (int r = 0; r < model.RowCount(); ++r)
    if (model.SummaryRows()[static_cast<std::size_t>(r)].category == ecCLSIDs)
      categoryRow = r;
  if (categoryRow < 0 || !model.OpenDetails(categoryRow)) {
    std::fprintf(stderr, "the detail view did not open\n");
    return 1;
  }
  const double openSeconds = Seconds(start);

  // Both loops add the texts' lengths up so that nothing is optimised away.
  std::size_t listChars = 0, baseChars = 0;
  double listSeconds = 0, baseSeconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    start = Clock::now();
    for (int top = 0; top < model.RowCount(); top += kPageRows) {
      model.SetScrollPosition(top);
      listChars += model.FoundText().size() + model.SelectedText().size();
      for (int row = top; row < top + kPageRows && row < model.RowCount(); ++row) {
        const TDetailRowText text = model.DetailText(row);
        listChars += text.kindName.size() + text.description.size() + text.location.size() +
                     (text.checked ? 1 : 0) + (text.ignoreMarker ? 1 : 0);
      }
    }
    listSeconds += Seconds(start);

    start = Clock::now();
    const auto &errors = scanner.Errors().CategoryList(ecCLSIDs);
    const int count = static_cast<int>(errors.size());
    for (int top = 0; top < count; top += kPageRows) {
      baseChars += ProblemCountText(count, " Found").size() +
                   ProblemCountText(scanner.CategoryCheckedCount(ecCLSIDs), " Selected").size();
      for (int row = top; row < top + kPageRows && row < count; ++row) {
        const TRegError &e = *errors[static_cast<std::size_t>(row)];
        baseChars += std::string(ErrorKindName(e.Kind)).size() + e.Description().size() +
                     scanner.ValueLocationText(e).size() + (e.Checked() ? 1 : 0) +
                     (e.Repaired() ? 1 : 0);
      }
    }
    baseSeconds += Seconds(start);
  }
  if (listChars != baseChars) {
    std::fprintf(stderr, "the list and the baseline formatted different texts\n");
    return 1;
  }
  const double rows = static_cast<double>(findings) * kRounds;
  std::printf("findings:            %d (one category)\n", findings);
  std::printf("fill (attached):     %.3f s\n", fillSeconds);
  std::printf("open detail view:    %.6f s\n", openSeconds);
  std::printf("list, per row:       %.3f us\n", listSeconds / rows * 1e6);
  std::printf("baseline, per row:   %.3f us\n", baseSeconds / rows * 1e6);
  std::printf("ratio list/baseline: %.2f\n", baseSeconds > 0 ? listSeconds / baseSeconds : 0.0);
  return 0;
}
