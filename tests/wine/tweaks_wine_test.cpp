// The system tweaks on the real Win32 registry and file system under Wine:
// every Windows 7 tweak switched and switched back leaves its value as it
// was, a key the tweak may not open is named as failed while the others are
// written, and the ribbon's library keeps its owner and access list through
// the protected-file operation. Whatever a test changes it puts back.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "app/uEnvironment.h"
#include "optimizer/uSysTweak.h"
#include "platform/Guards.h"
#include "platform/Platform.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

using namespace quenlo;

namespace {

constexpr TTweakEnvironment kWindows7{
    .windowsVersion = twWindows7, .screenWidth = 1920, .screenHeight = 1080};

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

// The keys on the way to `path` that do not exist yet, deepest last.
std::vector<std::string> MissingKeys(std::uint32_t root, const std::string &path) {
  std::vector<std::string> missing;
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = path.find('\\', at + 1);
    const std::string prefix = path.substr(0, at);
    if (!KeyExists(root, rv64, prefix))
      missing.push_back(prefix);
  }
  return missing;
}

// Removes what MissingKeys listed, deepest first, when nothing is left in
// it (a value or subkey there is not the test's).
void RemoveCreated(std::uint32_t root, const std::vector<std::string> &created) {
  for (auto it = created.rbegin(); it != created.rend(); ++it) {
    ScopedKey key;
    qp::KeyInfo info;
    if (Reg().OpenKey(root, *it, wc::KeyRead | wc::KeyWow64_64Key, key.Out()) != wc::ErrorSuccess ||
        Reg().QueryInfoKey(key.Get(), info) != wc::ErrorSuccess || info.subKeys != 0 ||
        info.values != 0)
      continue;
    key.Reset();
    qp::IgnoreResult(Reg().DeleteKeyEx(root, *it, wc::KeyWow64_64Key));
  }
}

class TweaksWine : public ::testing::Test {
protected:
  void SetUp() override {
    InitRegistryLayer();
    InitEnvironmentFacts();
    undoRoot_ = qp::Platform().System().GetTempPath() + "QuenloTweaks\\Undo\\";
    std::string folder = qp::Platform().System().GetTempPath() + "QuenloTweaks";
    qp::IgnoreResult(qp::Platform().Files().CreateDirectory(folder));
    qp::IgnoreResult(qp::Platform().Files().CreateDirectory(undoRoot_));
    for (const int id : ShownTweaks(twWindows7)) {
      const TValueLocation where = TweakLocation(id);
      std::vector<std::string> missing = MissingKeys(where.root, where.keyPath);
      created_[where.root].insert(created_[where.root].end(), missing.begin(), missing.end());
      std::optional<TRawValue> raw;
      std::string error;
      ASSERT_TRUE(ReadRawValue(where, raw, error)) << error;
      before_[id] = raw;
    }
  }

  void TearDown() override {
    // Every value back as recorded, straight through the registry.
    for (const auto &[id, raw] : before_) {
      const TValueLocation where = TweakLocation(id);
      std::optional<TRawValue> now;
      std::string error;
      if (!ReadRawValue(where, now, error) || now == raw)
        continue;
      ScopedKey key;
      if (Reg().OpenKey(where.root, where.keyPath, wc::KeySetValue | wc::KeyWow64_64Key,
                        key.Out()) != wc::ErrorSuccess)
        continue;
      if (raw)
        qp::IgnoreResult(Reg().SetValue(key.Get(), where.name, raw->type, raw->data));
      else
        qp::IgnoreResult(Reg().DeleteValue(key.Get(), where.name));
    }
    for (auto &[root, keys] : created_) {
      std::sort(keys.begin(), keys.end());
      keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
      RemoveCreated(root, keys);
    }
  }

  TUndoFolder Undo() const { return {.root = undoRoot_, .clock = {}}; }

  std::string undoRoot_;
  std::map<int, std::optional<TRawValue>> before_;
  std::map<std::uint32_t, std::vector<std::string>> created_;
};

TEST_F(TweaksWine, EveryWindows7TweakSwitchedAndBackLeavesTheValuesAsTheyWere) {
  EXPECT_EQ(WindowsVersion, twWindows7); // Wine reports 6.1
  TSysTweakStore store(kWindows7, Undo());
  const TTweakReadings loaded = ReadAllTweaks(store);

  std::array<std::optional<TTweakWish>, kTweakCount> flipped{};
  std::array<std::optional<TTweakWish>, kTweakCount> back{};
  for (const int id : ShownTweaks(twWindows7)) {
    const TTweakReading &read = loaded[static_cast<std::size_t>(id)];
    TTweakWish wish{!read.ticked, read.value};
    if (TweakDef(id).numeric)
      wish = {true, 1000}; // a delay a user might choose
    flipped[static_cast<std::size_t>(id)] = wish;
    back[static_cast<std::size_t>(id)] = TTweakWish{read.ticked, read.value};
  }

  const TTweakApplyResult there = ApplyTweaks(store, flipped, loaded);
  // The Favorites key does not exist in a Wine prefix: the owner step
  // fails for it alone.
  std::vector<int> failed;
  for (const TTweakFailure &failure : there.failed)
    failed.push_back(failure.id);
  EXPECT_EQ(failed, std::vector<int>{twFavorites})
      << (there.failed.empty() ? "" : there.failed.front().errorText);
  EXPECT_EQ(there.written.size(), ShownTweaks(twWindows7).size() - 1);
  // The values did change.
  std::optional<TRawValue> pca;
  std::string error;
  ASSERT_TRUE(ReadRawValue(TweakLocation(twCompatAssistant), pca, error)) << error;
  EXPECT_EQ(pca, (TRawValue{wc::RegDword, DwordData(1)}));

  const TTweakApplyResult again = ApplyTweaks(store, back, loaded);
  EXPECT_EQ(again.written.size(), ShownTweaks(twWindows7).size() - 1);
  for (const auto &[id, raw] : before_) {
    std::optional<TRawValue> now;
    ASSERT_TRUE(ReadRawValue(TweakLocation(id), now, error)) << error;
    EXPECT_EQ(now, raw) << "tweak " << id << " " << TweakName(id, twWindows7);
  }
  // Each change went through the undo folder.
  qp::FindData found;
  EXPECT_NE(qp::Platform().Files().FindFirst(undoRoot_ + "*-*", found), nullptr);
}

TEST_F(TweaksWine, ADeniedKeyIsNamedAndTheOthersAreStillWritten) {
  const TValueLocation flip = TweakLocation(twFlip3d);
  if (KeyExists(flip.root, rv64, flip.keyPath))
    GTEST_SKIP() << "the prefix already has " << flip.keyPath;
  {
    ScopedKey key;
    ASSERT_EQ(Reg().CreateKey(flip.root, flip.keyPath,
                              wc::KeyRead | wc::WriteDac | wc::KeyWow64_64Key, key.Out(), nullptr),
              wc::ErrorSuccess);
    ASSERT_EQ(Reg().SetKeySecurity(key.Get(), wc::DaclSecurityInformation, "D:(D;;KA;;;WD)"),
              wc::ErrorSuccess);
  }
  TSysTweakStore store(kWindows7, Undo());
  const TTweakReadings loaded = ReadAllTweaks(store);
  std::array<std::optional<TTweakWish>, kTweakCount> wishes{};
  wishes[twFlip3d] = TTweakWish{true, 0};
  wishes[twRecentDocs] = TTweakWish{true, 0};
  const TTweakApplyResult result = ApplyTweaks(store, wishes, loaded);

  // The deny entry goes first, so that the key can be removed whatever
  // the checks below say (the owner may always write the DACL).
  {
    ScopedKey key;
    ASSERT_EQ(Reg().OpenKey(flip.root, flip.keyPath, wc::WriteDac | wc::KeyWow64_64Key, key.Out()),
              wc::ErrorSuccess);
    ASSERT_EQ(Reg().SetKeySecurity(key.Get(), wc::DaclSecurityInformation, "D:(A;;KA;;;WD)"),
              wc::ErrorSuccess);
  }

  ASSERT_EQ(result.failed.size(), 1u);
  EXPECT_EQ(result.failed[0].id, twFlip3d);
  EXPECT_NE(result.failed[0].errorText.find("RegOpenKeyEx: "), std::string::npos)
      << result.failed[0].errorText;
  EXPECT_EQ(result.written, std::vector<int>{twRecentDocs});
  std::optional<TRawValue> recent;
  std::string error;
  ASSERT_TRUE(ReadRawValue(TweakLocation(twRecentDocs), recent, error)) << error;
  EXPECT_EQ(recent, (TRawValue{wc::RegDword, DwordData(1)}));
}

// The Favorites key owned by SYSTEM and not writable for the user, as
// Windows has it: the write opens its security and gives owner and access
// list back. Wine does not let SeTakeOwnershipPrivilege open a key for
// WRITE_OWNER against its DACL, so the list grants the administrators
// WRITE_OWNER (0xa0019 = KEY_READ | WRITE_OWNER) where Windows relies on the
// privilege.
TEST_F(TweaksWine, FavoritesKeyGetsItsOwnerAndAccessListBack) {
  const TValueLocation where = TweakLocation(twFavorites);
  if (KeyExists(where.root, rv64, where.keyPath))
    GTEST_SKIP() << "the prefix already has " << where.keyPath;
  constexpr std::uint32_t kBoth = wc::OwnerSecurityInformation | wc::DaclSecurityInformation;
  const std::string system = "O:SYD:(A;;KA;;;SY)(A;;0xa0019;;;BA)(A;;KR;;;BU)";
  {
    ScopedKey key;
    ASSERT_EQ(Reg().CreateKey(where.root, where.keyPath,
                              wc::KeyAllAccess | wc::WriteOwner | wc::KeyWow64_64Key, key.Out(),
                              nullptr),
              wc::ErrorSuccess);
    ASSERT_EQ(Reg().SetValue(key.Get(), where.name, wc::RegDword, DwordData(0xA0900100u)),
              wc::ErrorSuccess);
    const qp::TPrivilegeScope restore("SeRestorePrivilege");
    ASSERT_EQ(Reg().SetKeySecurity(key.Get(), kBoth, system), wc::ErrorSuccess);
  }
  auto security = [&] {
    ScopedKey key;
    std::string sddl;
    if (Reg().OpenKey(where.root, where.keyPath, wc::ReadControl | wc::KeyWow64_64Key, key.Out()) !=
            wc::ErrorSuccess ||
        Reg().GetKeySecurity(key.Get(), kBoth, sddl) != wc::ErrorSuccess)
      return std::string("(unreadable)");
    return sddl;
  };
  const std::string before = security();

  TSysTweakStore store(kWindows7, Undo());
  std::string error;
  const bool written = store.Write(twFavorites, {true, 0}, store.Read(twFavorites), error);
  const std::string after = security();
  std::optional<TRawValue> value;
  std::string readError;
  const bool read = ReadRawValue(where, value, readError);

  // Away again whatever happened: the user takes the key over and removes
  // the value.
  try {
    std::string saved;
    qp::IgnoreResult(TakeKeyOwnership(where.root, where.keyPath, saved));
  } catch (const ERegistryException &) {
  }
  {
    ScopedKey key;
    if (Reg().OpenKey(where.root, where.keyPath, wc::KeySetValue | wc::KeyWow64_64Key, key.Out()) ==
        wc::ErrorSuccess)
      qp::IgnoreResult(Reg().DeleteValue(key.Get(), where.name));
  }
  // TearDown removes the keys made for the test once they are empty.

  EXPECT_EQ(before.rfind("O:SY", 0), 0u) << before;
  ASSERT_TRUE(written) << error;
  EXPECT_EQ(after, before);
  ASSERT_TRUE(read) << readError;
  EXPECT_EQ(value, (TRawValue{wc::RegDword, DwordData(0xA9400100u)}));
}

// Wine ships a uiribbon.dll of its own, which this test leaves alone: the
// protected-file operation that moves the ribbon's library runs on a file
// of the test's in the same folder. Wine keeps no file security of its own
// (SetNamedSecurityInfo answers success and the file stays owned by the
// user with its first list), so this checks the Win32 calls and that the
// moved file ends as it began; another owner given back is checked on the
// in-memory model.
TEST_F(TweaksWine, ProtectedFileKeepsItsOwnerAndAccessListWhenMoved) {
  qp::IFileSystem &fs = qp::Platform().Files();
  const std::string file = qp::Platform().System().GetSystemDirectory() + "\\QuenloRibbon.dll";
  const std::string moved = file + std::string(kRibbonDisabledSuffix);
  qp::IgnoreResult(fs.DeleteFile(file));
  qp::IgnoreResult(fs.DeleteFile(moved));
  ASSERT_EQ(fs.WriteFile(file, "ribbon"), wc::ErrorSuccess);
  constexpr std::uint32_t kBoth = wc::OwnerSecurityInformation | wc::DaclSecurityInformation;
  std::string before;
  ASSERT_EQ(fs.GetFileSecurity(file, kBoth, before), wc::ErrorSuccess);

  std::string error;
  const bool done = ProtectedFileOperation(file, moved, error);
  std::string after;
  const long afterStatus = fs.GetFileSecurity(moved, kBoth, after);
  const bool deleted = done && ProtectedFileOperation(moved, std::nullopt, error);
  const bool left = fs.GetAttributes(moved) != wc::InvalidFileAttributes;
  qp::IgnoreResult(fs.DeleteFile(file));
  qp::IgnoreResult(fs.DeleteFile(moved));

  ASSERT_TRUE(done) << error;
  EXPECT_EQ(fs.GetAttributes(file), wc::InvalidFileAttributes);
  EXPECT_EQ(afterStatus, wc::ErrorSuccess);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(deleted) << error;
  EXPECT_FALSE(left);
}

} // namespace
