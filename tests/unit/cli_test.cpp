#include <sstream>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "app/cli/uCli.h"
#include "app/cli/uCliRepair.h"
#include "app/cli/uCliScan.h"
#include "app/uEnvironment.h"

namespace quenlo::test {
namespace {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

CliRun RunCommand(std::vector<std::string> args, bool terminal = false) {
  std::ostringstream out, err;
  const int code = cli::RunCli(args, {out, err, terminal});
  return {code, out.str(), err.str()};
}

class ThreadedCli : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
  }
};

TEST_F(ThreadedCli, UsageErrorsExitTwo) {
  for (const auto &args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"scan", "--bogus"},
                                             {"scan", "--category"},
                                             {"scan", "--category", "24"},
                                             {"scan", "--category", "NoSuchCategory"}}) {
    const CliRun r = RunCommand(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("usage: quenlo-cli"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  cli::TScanOptions options;
  std::string message;
  ASSERT_TRUE(cli::ParseScanOptions({"--category", "3", "--category=typelibrary", "--json"},
                                    options, message));
  EXPECT_EQ(options.categories.ToBits(), (1u << 3) | (1u << 1));
  EXPECT_TRUE(options.json);
}

// An ignore file that exists but cannot be read must not silently drop the
// user's ignores: the scan says so and fails, the repair does not run.
TEST_F(ThreadedCli, AnUnreadableIgnoreFileStopsTheRepair) {
  const char *ignoreFile = "C:\\Users\\user\\AppData\\Local\\Brantel\\ignore.txt";
  fs.AddFile(ignoreFile, "[HKEY_CURRENT_USER\\Software\\Keep]\r\n");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Read, "ignore.txt", wc::ErrorAccessDenied, 100);
  const CliRun scan = RunCommand({"scan", "--category", "Startup"});
  EXPECT_EQ(scan.code, 1);
  EXPECT_NE(scan.err.find("the ignore file cannot be read"), std::string::npos) << scan.err;

  const CliRun repair = RunCommand({"repair", "--category", "Startup"});
  EXPECT_EQ(repair.code, 1);
  EXPECT_NE(repair.err.find("nothing was repaired"), std::string::npos) << repair.err;
  EXPECT_TRUE(repair.out.empty()) << repair.out;
  EXPECT_FALSE(fs.Exists("C:\\Users\\user\\AppData\\Local\\Brantel\\Undo"));

  // --no-ignore is a scan without any ignore list, as asked.
  EXPECT_EQ(RunCommand({"scan", "--category", "Startup", "--no-ignore"}).code, 0);
}

TEST_F(ThreadedCli, JsonScanReportsEveryCategory) {
  const CliRun r = RunCommand({"scan", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"findings\":[", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"fullScanDone\":true,\"statistics\":[{\"category\":0,"),
            std::string::npos);
  std::size_t entries = 0;
  for (std::size_t pos = 0; (pos = r.out.find("\"remainingCount\":", pos)) != std::string::npos;
       ++pos)
    ++entries;
  EXPECT_EQ(entries, 24u);
  EXPECT_NE(r.out.find("\"health\":"), std::string::npos);
  EXPECT_NE(r.err.find("Registry Integrity"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("History Lists"), std::string::npos);

  const CliRun one = RunCommand({"scan", "--category", "DeepScan"}, true);
  EXPECT_EQ(one.code, 0);
  EXPECT_NE(one.err.find("\r["), std::string::npos) << "a bar on a terminal";
  EXPECT_NE(one.out.find("Type Library: -1, 0"), std::string::npos) << one.out;
}

TEST_F(ThreadedCli, ScanKeepsItsStatisticsInTheSettings) {
  EXPECT_EQ(RunCommand({"settings", "set", "scan", "TypeLibrary", "0"}).code, 0);
  const CliRun r = RunCommand({"scan"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Type Library: -1, 0"), std::string::npos) << "switched off in the settings";
  EXPECT_NE(r.out.find("Deep Scan: "), std::string::npos);

  const CliRun health = RunCommand({"settings", "get", "settings", "healthstatus"});
  EXPECT_EQ(health.code, 0);
  EXPECT_EQ(std::count(health.out.begin(), health.out.end(), ';'), 23) << health.out;
  EXPECT_EQ(health.out.rfind("0,", 0), 0u) << "Registry Integrity ran";
  EXPECT_FALSE(RunCommand({"settings", "get", "settings", "last_scan"}).out.empty());

  EXPECT_EQ(RunCommand({"settings", "get", "nosuch", "key"}).code, 1);
  EXPECT_EQ(RunCommand({"settings", "get", "scan"}).code, 2);
  EXPECT_EQ(RunCommand({"settings", "set", "scan", "TypeLibrary", "1"}).code, 0);
  EXPECT_EQ(RunCommand({"settings", "get", "scan", "TypeLibrary"}).out, "1\n");
}

// The repair report is read by scripts: every line of it, text and JSON, with
// one repair that fails.
TEST_F(ThreadedCli, RepairReportLines) {
  qp::MainThread().BindToCurrentThread();
  reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
  RegeditFake editor(platform);
  TCategoryChecks checks;
  checks[ecStartup] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || !a.IsView64())
      return;
    for (const char *key : {"Software\\Ok", "Software\\Stuck"}) {
      t.CountTest(true);
      t.AddError(wc::HkeyLocalMachine, rv64,
                 {.data = "C:\\gone.exe",
                  .keyPath = key,
                  .valueName = "v",
                  .kind = ekInvalidPath,
                  .action = raDeleteValue,
                  .testId = 7});
    }
  };
  const std::string text = "repaired HKLM\\Software\\Ok [v] (64-bit)\n"
                           "    Invalid Path: Value \"v\" is empty and can be deleted\n"
                           "FAILED   HKLM\\Software\\Stuck [v] (64-bit)\n"
                           "    Invalid Path: Value \"v\" is empty and can be deleted\n"
                           "    error: RegDeleteValue: Access is denied.\n"
                           "Repaired: 1\nFailed: 1\nUndo folder: C:\\Undo\\\n";
  const std::string item = "{\"category\":14,\"testId\":7,\"kind\":22,\"kindName\":\"Invalid "
                           "Path\",\"view64\":1,\"key\":\"HKLM\\\\Software\\\\";
  const std::string rest = "\",\"valueName\":\"v\",\"action\":1,\"description\":\"Value "
                           "\\\"v\\\" is empty and can be deleted\",\"repaired\":";
  const std::string json = "{\"repairs\":[" + item + "Ok" + rest + "true,\"error\":\"\"}," + item +
                           "Stuck" + rest +
                           "false,\"error\":\"RegDeleteValue: Access is denied.\"}],"
                           "\"repaired\":1,\"failed\":1,\"undoFolder\":\"C:\\\\Undo\\\\\"}\n";
  cli::TRepairOptions options;
  std::string message;
  ASSERT_TRUE(cli::ParseRepairOptions({"--category", "Startup"}, options, message));
  for (const bool asJson : {false, true}) {
    reg.SetString(qp::mem::View::V64, "HKLM\\Software\\Ok", "v", "1");
    reg.SetString(qp::mem::View::V64, "HKLM\\Software\\Stuck", "v", "1");
    reg.InjectFailure(qp::mem::RegOp::DeleteValue, "Stuck", 5);
    TRegScanner scanner;
    scanner.SetUndoFolder("C:\\Undo");
    scanner.SetChecks(checks);
    options.scan.json = asJson;
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunRepair(scanner, options, {out, err, false}), 1);
    EXPECT_EQ(out.str(), asJson ? json : text);
    const std::string findings = "Findings: 2, selected for repair: 2, ignored: 0\n";
    ASSERT_GE(err.str().size(), findings.size());
    EXPECT_EQ(err.str().substr(err.str().size() - findings.size()), findings) << err.str();
  }
  EXPECT_EQ(RunCommand({"settings", "get", "settings", "last_repair"}).out, "1\n");
}

TEST(CliJson, StringsStayValid) {
  EXPECT_EQ(cli::JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(cli::JsonString("\u00e9\u4e2d"), "\"\u00e9\u4e2d\"");
  // An unpaired surrogate from a registry name.
  EXPECT_EQ(cli::JsonString(std::string("x\xED\xA0\x80y")), "\"x\\ud800y\"");
}

} // namespace
} // namespace quenlo::test
