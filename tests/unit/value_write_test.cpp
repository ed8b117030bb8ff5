// The optimizer's one way of changing a value: every change leaves a backup
// the undo restore plays back, and a change that is not made leaves none.
#include "RegeditFake.h"
#include "TestPlatform.h"
#include "app/uEnvironment.h"
#include "optimizer/uValueWrite.h"
#include "platform/MainThread.h"
#include "service/uUndoRestore.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kUndo = "C:\\Undo";
constexpr const char *kDesktop = "HKCU\\Control Panel\\Desktop";

class ValueWriteTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
    scanner.SetUndoFolder(kUndo);
  }
  static TValueLocation At(std::string name) {
    return {.root = wc::HkeyCurrentUser,
            .view = rv64,
            .keyPath = "Control Panel\\Desktop",
            .name = std::move(name)};
  }
  TUndoFolder Undo() const { return {.root = std::string(kUndo) + "\\", .clock = {}}; }
  // Backup files in the undo folder's days (two changes of one key are two).
  int Backups() {
    int n = 0;
    for (const service::TUndoDay &day : service::UndoDays(scanner))
      for (const std::string &name : fs.List(std::string(kUndo) + "\\" + day.name))
        n += name.find(".REG") != std::string::npos ? 1 : 0;
    return n;
  }
  bool RestoreAll() {
    bool all = true;
    for (const service::TUndoDay &day : service::UndoDays(scanner)) {
      const service::TUndoRestoreResult r = service::RestoreUndoEntries(scanner, day.name, {});
      all = all && r.Accepted() && r.summary.failed == 0 && r.summary.restored > 0;
    }
    return all;
  }

  RegeditFake editor{platform};
  qp::TMainThread main;
  TRegScanner scanner{main};
};

TEST_F(ValueWriteTest, AChangedValueComesBackWithItsTypeFromTheUndoFolder) {
  reg.SetDword(View::V64, kDesktop, "MenuShowDelay", 250);
  reg.SetString(View::V64, kDesktop, "AutoEndTasks", "0");
  std::string error;
  ASSERT_TRUE(WriteValueUndoably(Undo(), At("MenuShowDelay"),
                                 TRawValue{.type = wc::RegSz, .data = StringData("100")}, error))
      << error;
  ASSERT_TRUE(WriteValueUndoably(Undo(), At("AutoEndTasks"), std::nullopt, error)) << error;
  EXPECT_EQ(reg.GetText(View::V64, kDesktop, "MenuShowDelay"), "100");
  EXPECT_FALSE(reg.ValueExists(View::V64, kDesktop, "AutoEndTasks"));
  EXPECT_EQ(Backups(), 2);

  ASSERT_TRUE(RestoreAll());
  const auto menu = reg.GetRaw(View::V64, kDesktop, "MenuShowDelay");
  ASSERT_TRUE(menu.has_value());
  EXPECT_EQ(menu->first, wc::RegDword) << "the old type comes back, not the written one";
  EXPECT_EQ(menu->second, DwordData(250));
  EXPECT_EQ(reg.GetText(View::V64, kDesktop, "AutoEndTasks"), "0");
}

TEST_F(ValueWriteTest, AValueThatWasAbsentIsDeletedAgainByTheRestore) {
  std::string error;
  ASSERT_TRUE(WriteValueUndoably(Undo(),
                                 {.root = wc::HkeyLocalMachine,
                                  .view = rv64,
                                  .keyPath = "SOFTWARE\\Policies\\Microsoft\\Windows\\AppCompat",
                                  .name = "DisablePCA"},
                                 TRawValue{.type = wc::RegDword, .data = DwordData(1)}, error))
      << error;
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\AppCompat",
                              "DisablePCA"));
  ASSERT_TRUE(RestoreAll());
  EXPECT_FALSE(reg.ValueExists(View::V64, "HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\AppCompat",
                               "DisablePCA"))
      << "no policy is left behind";
}

TEST_F(ValueWriteTest, NothingToChangeOrAFailedChangeLeavesNoBackup) {
  reg.SetString(View::V64, kDesktop, "DragFullWindows", "1");
  std::string error;
  EXPECT_TRUE(WriteValueUndoably(Undo(), At("DragFullWindows"),
                                 TRawValue{.type = wc::RegSz, .data = StringData("1")}, error));
  EXPECT_TRUE(WriteValueUndoably(Undo(), At("NoSuchValue"), std::nullopt, error));
  EXPECT_EQ(Backups(), 0) << "a value already as asked is not backed up again";

  reg.InjectFailure(qp::mem::RegOp::SetValue, "Desktop", wc::ErrorAccessDenied);
  EXPECT_FALSE(WriteValueUndoably(Undo(), At("DragFullWindows"),
                                  TRawValue{.type = wc::RegSz, .data = StringData("0")}, error));
  EXPECT_EQ(error.rfind("RegSetValueEx: ", 0), 0u) << error;
  EXPECT_NE(error.find("DragFullWindows"), std::string::npos) << "the text names the value";
  EXPECT_EQ(reg.GetText(View::V64, kDesktop, "DragFullWindows"), "1");
  EXPECT_EQ(Backups(), 0) << "the unchanged value's backup is taken back";

  reg.SetDenyAccess(View::V64, kDesktop, true);
  EXPECT_FALSE(WriteValueUndoably(Undo(), At("DragFullWindows"),
                                  TRawValue{.type = wc::RegSz, .data = StringData("0")}, error));
  EXPECT_EQ(error.rfind("RegOpenKeyEx: ", 0), 0u) << error;
}

} // namespace
} // namespace quenlo::test
