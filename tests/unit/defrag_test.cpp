// The defragmenter's engine: the work folder's handling around the hive
// calls (cleared before a save, kept while replacements are pending), the
// one-step save, compare and replace, and what each failure leaves.
#include "DefragHiveSeed.h"
#include "HiveCallsFake.h"
#include "TestPlatform.h"
#include "optimizer/uDefrag.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kWork = "C:\\Settings\\Temp";

class DefragTest : public MemoryTest {
protected:
  TDefragRequest Request() {
    return {.folder = kWork,
            .progress = [this](std::uint64_t total,
                               std::uint64_t done) { progress.emplace_back(total, done); },
            .terminate = nullptr};
  }
  HiveCallsFake hives{fs};
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

// A folder left by an earlier analysis is cleared first: Windows never
// saves a hive over an existing file.
TEST_F(DefragTest, AnalysisClearsAnEarlierWorkFolder) {
  fs.AddFile(std::string(kWork) + "\\0", "old");
  fs.AddFile(std::string(kWork) + "\\stale.txt", "old");
  const TDefragStep step = AnalyzeRegistry(hives, Request());
  EXPECT_TRUE(step.Ok()) << step.errorText;
  EXPECT_EQ(step.comparison.current, 1000u);
  EXPECT_EQ(step.comparison.backup, 750u);
  EXPECT_FALSE(fs.Exists(std::string(kWork) + "\\stale.txt"));
  EXPECT_EQ(hives.calls, (std::vector<std::string>{"Backup", "Compare"}));
}

TEST_F(DefragTest, APendingFolderIsNeitherUsedNorDeleted) {
  fs.AddFile(std::string(kWork) + "\\0.BAK", "the old registry");
  hives.pending = true;
  EXPECT_EQ(AnalyzeRegistry(hives, Request()).outcome, doPending);
  EXPECT_EQ(DefragmentRegistry(hives, Request()).outcome, doPending);
  EXPECT_TRUE(DiscardWorkFolder(hives, kWork));
  EXPECT_TRUE(hives.calls.empty());
  EXPECT_TRUE(fs.Exists(std::string(kWork) + "\\0.BAK"));

  hives.pending = false;
  EXPECT_TRUE(DiscardWorkFolder(hives, kWork));
  EXPECT_FALSE(fs.Exists(kWork));
  EXPECT_TRUE(DiscardWorkFolder(hives, kWork)) << "nothing to delete";
}

TEST_F(DefragTest, DefragmentationSavesComparesAndReplacesInOneRun) {
  const TDefragStep analysis = AnalyzeRegistry(hives, Request());
  ASSERT_TRUE(analysis.Ok());
  hives.registryState = 5; // a change after the analysis
  progress.clear();
  const TDefragStep step = DefragmentRegistry(hives, Request());
  EXPECT_TRUE(step.Ok()) << step.errorText;
  EXPECT_EQ(step.replaced, 1);
  EXPECT_EQ(hives.restoredState, 5);
  EXPECT_EQ(hives.calls,
            (std::vector<std::string>{"Backup", "Compare", "Backup", "Compare", "Restore"}));
  // One progress over both halves: the save's (100, 50) is (200, 50), the
  // hand-over's (100, 0) is (200, 100).
  EXPECT_EQ(progress, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                          {200, 50}, {200, 100}, {200, 100}, {200, 200}}));
}

TEST_F(DefragTest, EachFailureStopsBeforeTheReplacement) {
  hives.comparison = {.current = 10, .backup = 20, .reason = hcBackupLarger};
  TDefragStep step = DefragmentRegistry(hives, Request());
  EXPECT_EQ(step.outcome, doCompareFailed);
  EXPECT_EQ(step.errorText, "\"backup is larger than current registry\"");
  EXPECT_EQ(hives.calls.back(), "Compare");

  hives.calls.clear();
  hives.comparison = {.current = 0, .backup = 20, .reason = hcRegistryMissing};
  EXPECT_EQ(AnalyzeRegistry(hives, Request()).errorText, "\"registry missing\"");

  hives.calls.clear();
  hives.backupOk = false;
  hives.backupError = "RegSaveKey: Access is denied.";
  step = DefragmentRegistry(hives, Request());
  EXPECT_EQ(step.outcome, doBackupFailed);
  EXPECT_EQ(step.errorText, "RegSaveKey: Access is denied.");
  EXPECT_EQ(hives.calls, std::vector<std::string>{"Backup"});

  hives.backupOk = true;
  hives.comparison = {.current = 20, .backup = 10, .reason = hcOk};
  hives.restoreOk = false;
  hives.replaced = 0;
  hives.restoreError = "backupinfo.txt names another machine";
  step = DefragmentRegistry(hives, Request());
  EXPECT_EQ(step.outcome, doRestoreFailed);
  EXPECT_EQ(step.errorText, "backupinfo.txt names another machine");
}

// A hive that could not be saved or handed over is named in the failure
// text beside the call's own reason.
TEST_F(DefragTest, TheFailureTextNamesTheHivesLeftOut) {
  class PartialRestore final : public IHiveCalls {
  public:
    explicit PartialRestore(HiveCallsFake &inner) : inner_(inner) {}
    bool Backup(const THiveBackupRequest &r, THiveBackupResult &b) override {
      return inner_.Backup(r, b);
    }
    bool Compare(std::string_view f, THiveComparison &c) override { return inner_.Compare(f, c); }
    bool Restore(std::string_view, const THiveProgress &, THiveRestoreResult &r) override {
      r.replaced = 1;
      r.hives = {{.fileName = "0",
                  .root = 0,
                  .keyPath = "SOFTWARE",
                  .size = 1,
                  .done = true,
                  .errorText = {}},
                 {.fileName = "1",
                  .root = 0,
                  .keyPath = "SYSTEM",
                  .size = 1,
                  .done = false,
                  .errorText = "RegReplaceKey: Access is denied."}};
      return false;
    }
    bool ReplacementPending(std::string_view f) override { return inner_.ReplacementPending(f); }

  private:
    HiveCallsFake &inner_;
  } partial(hives);
  const TDefragStep step = DefragmentRegistry(partial, Request());
  EXPECT_EQ(step.outcome, doRestoreFailed);
  EXPECT_EQ(step.replaced, 1);
  EXPECT_EQ(step.errorText, "SYSTEM: RegReplaceKey: Access is denied.");
}

// --- on the model's real hives (uHiveBackup.h)

class DefragHivesTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    SeedDefragHives(platform);
  }
  void TearDown() override { SetHiveClock({}); }
};

// A change made after the analysis - while the dialog was open - is in the
// hive Windows loads at the restart; until then the folder is kept and no
// new run starts in it.
TEST_F(DefragHivesTest, AChangeAfterTheAnalysisSurvivesTheRestart) {
  IHiveCalls &hives = SystemHiveCalls();
  const TDefragRequest request{.folder = kWork, .progress = {}, .terminate = nullptr};
  const TDefragStep analysis = AnalyzeRegistry(hives, request);
  ASSERT_TRUE(analysis.Ok()) << analysis.errorText;
  EXPECT_GT(analysis.comparison.current, analysis.comparison.backup);
  EXPECT_FALSE(DefragNumbers(analysis.comparison.current, analysis.comparison.backup).nothingToDo);

  ASSERT_TRUE(reg.SetString(View::V64, "HKU\\.DEFAULT\\Software", "AfterAnalysis", "kept"));
  const TDefragStep step = DefragmentRegistry(hives, request);
  ASSERT_TRUE(step.Ok()) << step.errorText;
  EXPECT_EQ(step.replaced, 1);
  EXPECT_TRUE(DefragPending(hives, kWork));

  EXPECT_EQ(AnalyzeRegistry(hives, request).outcome, doPending);
  EXPECT_EQ(DefragmentRegistry(hives, request).outcome, doPending);
  EXPECT_TRUE(DiscardWorkFolder(hives, kWork));
  EXPECT_TRUE(fs.Exists(std::string(kWork) + "\\0.BAK")) << "the old registry's copy";

  reg.SimulateReboot();
  EXPECT_EQ(reg.GetText(View::V64, "HKU\\.DEFAULT\\Software", "AfterAnalysis"), "kept");
}

} // namespace
} // namespace quenlo::test
