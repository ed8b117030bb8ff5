// The cleaner's scripted run and "quenlo-cli clean" on the in-memory model:
// the JSON the scripts read, the exit decision, the before/after comparison
// of a clean (with handlers of the test's own, so that a clean can leave
// things behind or fail on purpose), and the verb on the real handlers.
#include <algorithm>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "TestPlatform.h"
#include "app/cli/uCli.h"
#include "app/cli/uCliClean.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "platform/MainThread.h"
#include "platform/WinConst.h"
#include "service/uCleanRun.h"

namespace quenlo::test {
namespace {

// --- JSON and the exit decision (results built by hand)

TCleanRunCategory Category(TCleanCategory category, TCategoryOutcome outcome) {
  TCleanRunCategory result;
  result.category = category;
  result.outcome = outcome;
  return result;
}

TEST(CleanRunJson, WritesTheWholeShapeWithEveryStringEscaped) {
  TCleanRunResult result;
  result.kind = crClean;
  TCleanRunCategory temp = Category(ccTempFiles, coIncomplete);
  // A quote, a backslash, a line break, a control character, UTF-8 kept as
  // it is, and a byte that is no UTF-8 at all.
  temp.items.push_back({"a\"b\\c\nd\x01"
                        "\xC3\xA9\xFF",
                        5000000000LL});
  temp.items.push_back({"x.tmp", 7});
  temp.kept.push_back({"busy.log", std::string(kReasonInUse)});
  temp.failures.push_back({"stuck.tmp", std::string(kReasonNotRemoved)});
  result.categories.push_back(temp);
  TCleanRunCategory cookies = Category(ccIECookies, coFailed);
  cookies.reason = "tab\there";
  cookies.skipped.push_back({"cookies.sqlite: DELETE FROM moz_x", "no table moz_x"});
  result.categories.push_back(cookies);
  result.filesInUse.push_back("C:\\Users\\user\\index.dat");
  result.explorerRestartFailed = true;
  result.passFailure = "the clean: boom";

  EXPECT_EQ(CleanRunJson(result),
            "{\"mode\":\"clean\",\"complete\":false,\"categories\":["
            "{\"number\":8,\"key\":\"TempFiles\",\"caption\":\"Temp Files\","
            "\"outcome\":\"incomplete\",\"reason\":\"\",\"count\":2,\"size\":5000000007,"
            "\"items\":[{\"name\":\"a\\\"b\\\\c\\nd\\u0001\xC3\xA9\\ufffd\",\"size\":5000000000},"
            "{\"name\":\"x.tmp\",\"size\":7}],"
            "\"kept\":[{\"name\":\"busy.log\",\"reason\":\"in use\"}],"
            "\"failures\":[{\"name\":\"stuck.tmp\",\"reason\":\"not removed\"}],\"skipped\":[]},"
            "{\"number\":14,\"key\":\"IECookies\",\"caption\":\"Internet Explorer: Cookies\","
            "\"outcome\":\"failed\",\"reason\":\"tab\\there\",\"count\":0,\"size\":0,"
            "\"items\":[],\"kept\":[],\"failures\":[],"
            "\"skipped\":[{\"name\":\"cookies.sqlite: DELETE FROM moz_x\",\"reason\":\"no table "
            "moz_x\"}]}],"
            "\"count\":2,\"size\":5000000007,"
            "\"filesInUse\":[\"C:\\\\Users\\\\user\\\\index.dat\"],"
            "\"explorerRestartFailed\":true,\"error\":\"the clean: boom\"}");

  TCleanRunResult empty;
  EXPECT_EQ(CleanRunJson(empty),
            "{\"mode\":\"analyze\",\"complete\":true,\"categories\":[],\"count\":0,\"size\":0,"
            "\"filesInUse\":[],\"explorerRestartFailed\":false,\"error\":\"\"}");
}

TEST(CleanRunJson, DoneOnlyWhenEveryCategoryWasDoneAndNoPassFailed) {
  TCleanRunCategory kept = Category(ccTempFiles, coDone);
  kept.kept.push_back({"busy.log", std::string(kReasonInUse)}); // left on purpose: still done
  TCleanRunResult done;
  done.categories = {Category(ccRunMenuHistory, coDone), Category(ccIECache, coNotFound), kept};
  EXPECT_TRUE(done.AllDone());
  EXPECT_NE(CleanRunJson(done).find("\"complete\":true"), std::string::npos);

  TCleanRunCategory doneWithFailure = Category(ccTempFiles, coDone);
  doneWithFailure.failures.push_back({"stuck.tmp", std::string(kReasonNotRemoved)});
  for (const TCleanRunCategory &bad :
       {Category(ccTempFiles, coIncomplete), Category(ccTempFiles, coFailed),
        Category(ccTempFiles, coNotHandled), doneWithFailure}) {
    TCleanRunResult result = done;
    result.categories.push_back(bad);
    EXPECT_FALSE(result.AllDone()) << OutcomeText(bad.outcome);
  }
  TCleanRunResult failedPass = done;
  failedPass.passFailure = "the analysis: boom";
  EXPECT_FALSE(failedPass.AllDone());
}

// The settings file lists the switches in an order of its own (the run menu
// is its fifth key, the cleaner's category 3): the selection goes by key.
TEST(CleanRunSettings, TheSelectionFollowsTheSettingsKeys) {
  tProgramSettings settings;
  EXPECT_EQ(SelectedCleanCategories(settings), DefaultCleanCategories());
  ASSERT_TRUE(settings.Clean.Set("RunMenuHistory", false));
  ASSERT_TRUE(settings.Clean.Set("IISLogFiles", true));
  const TCleanCategories selected = SelectedCleanCategories(settings);
  EXPECT_FALSE(selected.test(ccRunMenuHistory));
  EXPECT_TRUE(selected.test(ccIISLogFiles));
  EXPECT_TRUE(selected.test(ccRecentDocuments)) << "its neighbour in the file is untouched";
  EXPECT_EQ((selected ^ DefaultCleanCategories()).count(), 2u);
}

// --- the run, with handlers of the test's own

// A pretend store of things a category's handler finds: an analysis lists
// every name still there (as kept while "in use"), a clean removes all but
// the stuck ones and the one in use. The handlers run on the worker
// thread; the test reads the store only after the run has joined it.
struct TStore {
  std::mutex mu;
  std::vector<std::string> names;
  std::vector<std::string> stuck; // a clean fails on one copy each (access denied)
  std::string inUse;              // in use from the clean on
  bool inUseNow = false;
  std::string throwIn; // "report" or "clean": that pass raises
  int cleanCalls = 0;
};
TStore gStore;

void StoreHandler(TCleanPass &pass) {
  std::lock_guard<std::mutex> lock(gStore.mu);
  const TCleanCategory category = pass.Current();
  if (gStore.throwIn == (pass.Reporting() ? "report" : "clean"))
    throw std::runtime_error("the disk went away");
  pass.MarkFound(category);
  if (pass.Reporting()) {
    for (const std::string &name : gStore.names) {
      if (gStore.inUseNow && name == gStore.inUse)
        pass.AddKept(category, name, std::string(kReasonInUse));
      else
        pass.AddItem(category, name, static_cast<std::int64_t>(name.size()));
    }
    return;
  }
  ++gStore.cleanCalls;
  gStore.inUseNow = true;
  std::vector<std::string> left;
  std::vector<std::string> stuck = gStore.stuck;
  for (const std::string &name : gStore.names) {
    if (name == gStore.inUse) {
      pass.AddKept(category, name, std::string(kReasonInUse));
      left.push_back(name);
    } else if (const auto found = std::find(stuck.begin(), stuck.end(), name);
               found != stuck.end()) {
      stuck.erase(found);
      pass.AddFailure(category, name, std::string(kReasonAccessDenied));
      left.push_back(name);
    }
  }
  gStore.names = left;
}

class ThreadedCleanRun : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    gStore.names.clear();
    gStore.stuck.clear();
    gStore.inUse.clear();
    gStore.inUseNow = false;
    gStore.throwIn.clear();
    gStore.cleanCalls = 0;
    cleaner.SetHandler(ccRunMenuHistory, StoreHandler);
    request.categories.set(ccRunMenuHistory);
  }

  TCleanRunResult Run(TCleanRunKind kind) {
    request.kind = kind;
    return RunCleanWith(cleaner, request, main);
  }

  qp::TMainThread main;
  TSysCleaner cleaner{main};
  TCleanRunRequest request;
};

TEST_F(ThreadedCleanRun, AnalysisListsTheSelectedCategoriesOnly) {
  gStore.names = {"one", "three"};
  std::vector<TCleanRunProgress> progress;
  request.onProgress = [&progress](const TCleanRunProgress &p) { progress.push_back(p); };
  const TCleanRunResult result = Run(crAnalyze);
  ASSERT_EQ(result.categories.size(), 1u);
  const TCleanRunCategory &run = result.categories[0];
  EXPECT_EQ(run.category, ccRunMenuHistory);
  EXPECT_EQ(run.outcome, coDone);
  ASSERT_EQ(run.items.size(), 2u);
  EXPECT_EQ(run.items[1].Name, "three");
  EXPECT_EQ(run.TotalSize(), 8);
  EXPECT_TRUE(result.AllDone());
  EXPECT_EQ(gStore.names.size(), 2u) << "an analysis removes nothing";
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().totalProgress, 100);
  EXPECT_EQ(progress.back().passCount, 1);
}

// What the first analysis listed and the second does not is what the clean
// removed; a name still there - stuck, or in use by the time of the clean,
// and listed only as kept afterwards - is "not removed", never counted as
// removed.
TEST_F(ThreadedCleanRun, TheCleanReportsWhatTheSecondAnalysisNoLongerLists) {
  // Two entries with the same text, of which one is stuck: names are
  // matched one for one, so one went and one did not.
  gStore.names = {"gone", "stuck", "busy", "twice", "twice"};
  gStore.stuck = {"stuck", "twice"};
  gStore.inUse = "busy";
  std::vector<std::pair<int, TScanMode>> passes;
  request.onProgress = [&passes](const TCleanRunProgress &p) {
    EXPECT_EQ(p.passCount, 3);
    if (passes.empty() || passes.back().first != p.pass)
      passes.emplace_back(p.pass, p.mode);
  };
  const TCleanRunResult result = Run(crClean);
  ASSERT_EQ(result.categories.size(), 1u);
  const TCleanRunCategory &run = result.categories[0];

  std::vector<std::string> removed;
  for (const TCleanItem &item : run.items)
    removed.push_back(item.Name);
  EXPECT_EQ(removed, (std::vector<std::string>{"gone", "twice"}));
  std::map<std::string, std::vector<std::string>> failures;
  for (const TCleanNote &note : run.failures)
    failures[note.Name].push_back(note.Reason);
  EXPECT_EQ(failures["stuck"], (std::vector<std::string>{std::string(kReasonAccessDenied),
                                                         std::string(kReasonNotRemoved)}));
  EXPECT_EQ(failures["twice"], failures["stuck"]);
  EXPECT_EQ(failures["busy"], (std::vector<std::string>{std::string(kReasonNotRemoved)}));
  ASSERT_EQ(run.kept.size(), 1u);
  EXPECT_EQ(run.kept[0].Name, "busy");
  EXPECT_FALSE(result.AllDone());
  EXPECT_TRUE(result.passFailure.empty()) << result.passFailure;
  EXPECT_EQ(passes,
            (std::vector<std::pair<int, TScanMode>>{{0, smReport}, {1, smClean}, {2, smReport}}));
}

TEST_F(ThreadedCleanRun, AFailedCleanStillComparesAndFails) {
  gStore.names = {"a"};
  gStore.throwIn = "clean";
  const TCleanRunResult result = Run(crClean);
  EXPECT_FALSE(result.AllDone());
  EXPECT_NE(result.passFailure.find("the clean: "), std::string::npos) << result.passFailure;
  EXPECT_NE(result.passFailure.find("the disk went away"), std::string::npos);
  EXPECT_NE(CleanRunJson(result).find("\"complete\":false"), std::string::npos);
  ASSERT_EQ(result.categories.size(), 1u);
  EXPECT_TRUE(result.categories[0].items.empty()) << "nothing was removed";
  ASSERT_FALSE(result.categories[0].failures.empty());
  EXPECT_EQ(result.categories[0].failures.back().Reason, kReasonNotRemoved);
}

// Without a complete first analysis nothing tells what a clean removed, so
// the run does not clean at all.
TEST_F(ThreadedCleanRun, AFailedFirstAnalysisCleansNothing) {
  gStore.names = {"a"};
  gStore.throwIn = "report";
  const TCleanRunResult result = Run(crClean);
  EXPECT_EQ(gStore.cleanCalls, 0);
  EXPECT_EQ(gStore.names.size(), 1u);
  EXPECT_FALSE(result.AllDone());
  EXPECT_EQ(result.passFailure.rfind("the analysis before the clean: ", 0), 0u)
      << result.passFailure;
  ASSERT_EQ(result.categories.size(), 1u);
  EXPECT_EQ(result.categories[0].outcome, coNotHandled);
  EXPECT_TRUE(result.categories[0].items.empty());
}

// --- the verb

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

CliRun RunCommand(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = cli::RunCli(args, {out, err, false});
  return {code, out.str(), err.str()};
}

class ThreadedCleanCli : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
    qp::MainThread().BindToCurrentThread();
  }
};

TEST_F(ThreadedCleanCli, BadUsageExitsTwo) {
  for (const auto &args :
       std::vector<std::vector<std::string>>{{"clean"},
                                             {"clean", "sweep"},
                                             {"clean", "analyze", "--category"},
                                             {"clean", "analyze", "--category", "43"},
                                             {"clean", "run", "--category=NoSuchThing"},
                                             {"clean", "analyze", "--all"}}) {
    const CliRun r = RunCommand(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_NE(r.err.find("usage: quenlo-cli"), std::string::npos);
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  cli::TCleanOptions options;
  std::string message;
  ASSERT_TRUE(cli::ParseCleanOptions(
      {"run", "--category", "0", "--category=tempfiles", "--category", "42", "--json"}, options,
      message))
      << message;
  EXPECT_TRUE(options.run);
  EXPECT_TRUE(options.json);
  EXPECT_TRUE(options.categoriesGiven);
  // The downloaded files are the user's: only an explicit option removes them.
  EXPECT_FALSE(options.deleteDownloadedFiles);
  cli::TCleanOptions withFiles;
  ASSERT_TRUE(cli::ParseCleanOptions({"run", "--delete-downloaded-files"}, withFiles, message));
  EXPECT_TRUE(withFiles.deleteDownloadedFiles);
  TCleanCategories expected;
  expected.set(ccStartMenuOrderHistory).set(ccTempFiles).set(ccASPassword);
  EXPECT_EQ(options.categories, expected);
}

// The text a person reads: sizes where the category has them, the kept and
// failed ones with their reasons, no count for a category that was not
// found, the files left for a restart.
TEST(CleanCliText, ListsItemsNotesAndTotals) {
  TCleanRunResult result;
  result.kind = crClean;
  TCleanRunCategory temp = Category(ccTempFiles, coIncomplete);
  temp.items = {{"a.tmp", 2048}, {"sub\\b.tmp", 10}};
  temp.kept.push_back({"busy.log", std::string(kReasonInUse)});
  temp.failures.push_back({"stuck\r.tmp", std::string(kReasonNotRemoved)});
  result.categories = {temp, Category(ccIECache, coNotFound)};
  result.filesInUse.push_back("C:\\x\\index.dat");
  std::ostringstream out;
  cli::PrintCleanText(result, out);
  EXPECT_EQ(out.str(), "Temp Files: incomplete, 2 removed, 2 KB\n"
                       "  a.tmp (2 KB)\n"
                       "  sub\\b.tmp (10 B)\n"
                       "  kept: busy.log (in use)\n"
                       "  failed: stuck\\r.tmp (not removed)\n"
                       "Internet Explorer: Temporary Files: not found\n"
                       "Total: 2 removed, 2 KB\n"
                       "In use, to be deleted when Windows restarts: C:\\x\\index.dat\n");
}

// The real Run Menu handler on the model: the text lists the list's
// entries, a run removes them, and a second analysis finds nothing left.
TEST_F(ThreadedCleanCli, RunMenuHistoryIsListedThenCleaned) {
  const char *runMru = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU";
  TRegistryAccess access;
  access.SetView(rv32);
  ASSERT_TRUE(access.OpenKey(runMru, true));
  ASSERT_TRUE(access.WriteString("a", "notepad\\1"));
  ASSERT_TRUE(access.WriteString("b", "line\nbreak\\1"));
  ASSERT_TRUE(access.WriteString("MRUList", "ba"));
  access.CloseKey();

  const CliRun text = RunCommand({"clean", "analyze", "--category", "RunMenuHistory"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("Run Menu: done, 2 found\n  line\\nbreak\\1\n  notepad\\1\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("Total: 2 found, 0 B\n"), std::string::npos) << text.out;
  EXPECT_NE(text.err.find("progress analysis 100% Run Menu"), std::string::npos) << text.err;

  const CliRun run = RunCommand({"clean", "run", "--category", "3", "--json"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("{\"mode\":\"clean\",\"complete\":true,", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\"count\":2"), std::string::npos) << run.out;
  ASSERT_TRUE(access.OpenKey(runMru, false));
  EXPECT_FALSE(access.ValueExists("MRUList"));
  EXPECT_FALSE(access.ValueExists("a"));
  access.CloseKey();

  const CliRun after = RunCommand({"clean", "analyze", "--category", "3", "--json"});
  EXPECT_EQ(after.code, 0) << after.err;
  EXPECT_NE(after.out.find("\"count\":0"), std::string::npos) << after.out;
}

} // namespace
} // namespace quenlo::test
