// Snapshots of one key and their comparison, on the in-memory registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "monitor/uKeyHash.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

std::string Md5Of(const char *text) {
  return Md5Hex(reinterpret_cast<const std::uint8_t *>(text), std::strlen(text));
}

TEST(KeyHashDigest, MatchesTheReferenceVectors) {
  EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(
      Md5Of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Md5Hex(qp::Bytes{}), "d41d8cd98f00b204e9800998ecf8427e");
}

qp::Bytes Filled(std::size_t size, std::uint8_t seed) {
  qp::Bytes data(size);
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<std::uint8_t>(seed + i * 7);
  return data;
}

class KeyHashTest : public MemoryTest {
protected:
  static constexpr const char *kKey = "HKCU\\Software\\Snap";
  static constexpr const char *kPath = "Software\\Snap";

  TKeyHash Snap() {
    TKeyHash out;
    EXPECT_EQ(TakeKeySnapshot(wc::HkeyCurrentUser, rv64, kPath, out), wc::ErrorSuccess);
    return out;
  }
  static std::vector<std::string> ValueNames(const TKeyHash &h) {
    std::vector<std::string> names;
    for (const TSnapshotValue &v : h.Values)
      names.push_back(v.name);
    return names;
  }
};

TEST_F(KeyHashTest, MissingKeyIsEmptyAndNotOpened) {
  TKeyHash out;
  out.opened = true;
  out.SubKeys.push_back("stale");
  EXPECT_EQ(TakeKeySnapshot(wc::HkeyCurrentUser, rv64, "Software\\Nowhere", out),
            wc::ErrorFileNotFound);
  EXPECT_FALSE(out.opened);
  EXPECT_TRUE(out.SubKeys.empty());
  EXPECT_TRUE(out.Values.empty());
}

TEST_F(KeyHashTest, ValuesBeyondAnyBufferAreDigestedWhole) {
  const qp::Bytes big = Filled(70 * 1024, 3);
  reg.SetRaw(View::V64, kKey, "big", wc::RegBinary, big);
  reg.SetRaw(View::V64, kKey, "small", wc::RegBinary, {1, 2, 3});
  const TKeyHash h = Snap();
  ASSERT_EQ(h.Values.size(), 2u);
  const TValueState &state = h.Values[0].state;
  EXPECT_EQ(h.Values[0].name, "big");
  EXPECT_EQ(state.size, big.size());
  EXPECT_EQ(state.digest, Md5Hex(big));
  EXPECT_FALSE(state.dataKept);
  EXPECT_TRUE(state.data.empty());
  EXPECT_TRUE(h.Values[1].state.dataKept);
  EXPECT_EQ(h.Values[1].state.data, (qp::Bytes{1, 2, 3}));
}

TEST_F(KeyHashTest, ValueGrowingPastSixtyFourKibIsEditedNotDeleted) {
  reg.SetRaw(View::V64, kKey, "grows", wc::RegBinary, Filled(60 * 1024, 1));
  const TKeyHash before = Snap();
  reg.SetRaw(View::V64, kKey, "grows", wc::RegBinary, Filled(70 * 1024, 1));
  const TKeyHash after = Snap();
  const auto d = CompareKeyHashes(before, after);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].type, keEditValue);
  EXPECT_EQ(d[0].name, "grows");
  ASSERT_TRUE(d[0].before && d[0].after);
  EXPECT_EQ(d[0].before->size, 60u * 1024);
  EXPECT_EQ(d[0].after->size, 70u * 1024);
}

TEST_F(KeyHashTest, ValueThatDoesNotFitAtFirstIsReadAgain) {
  reg.SetString(View::V64, kKey, "v", "text");
  // The read answers as if the value had grown since the size query.
  reg.InjectFailure(qp::mem::RegOp::EnumValue, "Snap", wc::ErrorMoreData, 1);
  const TKeyHash h = Snap();
  ASSERT_EQ(h.Values.size(), 1u);
  EXPECT_EQ(h.Values[0].name, "v");
  EXPECT_EQ(h.Values[0].state.digest, Md5Hex(reg.GetRaw(View::V64, kKey, "v")->second));
}

TEST_F(KeyHashTest, ValueThatNeverFitsFailsTheSnapshotInsteadOfVanishing) {
  reg.SetString(View::V64, kKey, "v", "text");
  // Growing faster than every retry: left out, it would be reported deleted.
  reg.InjectFailure(qp::mem::RegOp::EnumValue, "Snap", wc::ErrorMoreData, 100);
  TKeyHash h;
  EXPECT_EQ(TakeKeySnapshot(wc::HkeyCurrentUser, rv64, kPath, h), wc::ErrorMoreData);
  EXPECT_FALSE(h.opened);
}

TEST_F(KeyHashTest, KeptDataStaysWithinTheKeyBudget) {
  const std::size_t count = KeptKeyBytes / KeptValueBytes + 3;
  for (std::size_t i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "v%03zu", i);
    reg.SetRaw(View::V64, kKey, name, wc::RegBinary, Filled(KeptValueBytes, 9));
  }
  const TKeyHash h = Snap();
  ASSERT_EQ(h.Values.size(), count);
  std::size_t kept = 0;
  for (const TSnapshotValue &v : h.Values) {
    EXPECT_EQ(v.state.digest, Md5Hex(Filled(KeptValueBytes, 9)));
    if (v.state.dataKept)
      kept += v.state.data.size();
  }
  EXPECT_LE(kept, KeptKeyBytes);
  EXPECT_GE(kept, KeptKeyBytes - KeptValueBytes);
  EXPECT_FALSE(h.Values.back().state.dataKept);
}

TEST_F(KeyHashTest, NamesAreSortedWithoutCaseWhateverTheEnumerationOrder) {
  for (const char *name : {"b", "_a", "C", ""})
    reg.SetString(View::V64, kKey, name, "x");
  for (const char *sub : {"zeta", "_Under", "Alpha"})
    reg.CreateKey(View::V64, std::string(kKey) + "\\" + sub);
  const TKeyHash windows = Snap();
  reg.SetQuirks(qp::mem::RegistryQuirks::Wine());
  const TKeyHash wine = Snap();
  const std::vector<std::string> values = {"", "b", "C", "_a"};
  const std::vector<std::string> subkeys = {"Alpha", "zeta", "_Under"};
  EXPECT_EQ(ValueNames(windows), values);
  EXPECT_EQ(ValueNames(wine), values);
  EXPECT_EQ(windows.SubKeys, subkeys);
  EXPECT_EQ(wine.SubKeys, subkeys);
  EXPECT_TRUE(CompareKeyHashes(windows, wine).empty());
}

TEST_F(KeyHashTest, DifferencesComeInTheirOrder) {
  reg.SetString(View::V64, kKey, "keep", "1");
  reg.SetString(View::V64, kKey, "gone", "1");
  reg.SetString(View::V64, kKey, "edit", "1");
  reg.CreateKey(View::V64, std::string(kKey) + "\\oldsub");
  const TKeyHash before = Snap();
  reg.DeleteTree(View::V64, std::string(kKey) + "\\oldsub");
  reg.CreateKey(View::V64, std::string(kKey) + "\\newsub");
  reg.SetString(View::V64, kKey, "edit", "2");
  reg.SetString(View::V64, kKey, "added", "1");
  qp::ScopedKey key;
  ASSERT_EQ(
      qp::Platform().Registry().OpenKey(wc::HkeyCurrentUser, kPath, wc::KeyAllAccess, key.Out()),
      wc::ErrorSuccess);
  ASSERT_EQ(qp::Platform().Registry().DeleteValue(key.Get(), "gone"), wc::ErrorSuccess);
  const auto d = CompareKeyHashes(before, Snap());
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[0].type, keCreateSubkey);
  EXPECT_EQ(d[0].name, "newsub");
  EXPECT_EQ(d[1].type, keDeleteSubkey);
  EXPECT_EQ(d[1].name, "oldsub");
  EXPECT_EQ(d[2].type, keCreateValue);
  EXPECT_EQ(d[2].name, "added");
  EXPECT_FALSE(d[2].before);
  EXPECT_TRUE(d[2].after);
  EXPECT_EQ(d[3].type, keEditValue);
  EXPECT_EQ(d[3].name, "edit");
  EXPECT_EQ(d[4].type, keDeleteValue);
  EXPECT_EQ(d[4].name, "gone");
  EXPECT_TRUE(d[4].before);
  EXPECT_FALSE(d[4].after);
}

TEST_F(KeyHashTest, SubkeyNameLongerThanWindowsAllowsIsListed) {
  reg.SetQuirks(qp::mem::RegistryQuirks::Wine()); // names of 256 units
  const std::string longName(256, 'n');
  reg.CreateKey(View::V64, std::string(kKey) + "\\" + longName);
  reg.CreateKey(View::V64, std::string(kKey) + "\\short");
  const TKeyHash h = Snap();
  EXPECT_EQ(h.SubKeys, (std::vector<std::string>{longName, "short"}));
}

TEST_F(KeyHashTest, TypeAloneIsAChangeSameDataIsNot) {
  reg.SetString(View::V64, kKey, "v", "%PATH%");
  const TKeyHash first = Snap();
  reg.SetString(View::V64, kKey, "v", "%PATH%");
  const TKeyHash rewritten = Snap();
  EXPECT_TRUE(CompareKeyHashes(first, rewritten).empty());
  reg.SetString(View::V64, kKey, "v", "%PATH%", wc::RegExpandSz);
  const auto d = CompareKeyHashes(rewritten, Snap());
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].type, keEditValue);
  EXPECT_EQ(d[0].before->type, wc::RegSz);
  EXPECT_EQ(d[0].after->type, wc::RegExpandSz);
  EXPECT_EQ(d[0].before->digest, d[0].after->digest);
}

TEST_F(KeyHashTest, RenameIsCreateThenDeleteAndDefaultValueHasNoName) {
  reg.SetString(View::V64, kKey, "", "default");
  reg.SetString(View::V64, kKey, "old", "data");
  const TKeyHash before = Snap();
  qp::ScopedKey key;
  qp::IRegistry &r = qp::Platform().Registry();
  ASSERT_EQ(r.OpenKey(wc::HkeyCurrentUser, kPath, wc::KeyAllAccess, key.Out()), wc::ErrorSuccess);
  ASSERT_EQ(r.DeleteValue(key.Get(), "old"), wc::ErrorSuccess);
  reg.SetString(View::V64, kKey, "new", "data");
  ASSERT_EQ(r.DeleteValue(key.Get(), ""), wc::ErrorSuccess);
  const auto d = CompareKeyHashes(before, Snap());
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0].type, keCreateValue);
  EXPECT_EQ(d[0].name, "new");
  EXPECT_EQ(d[1].type, keDeleteValue);
  EXPECT_EQ(d[1].name, "");
  EXPECT_EQ(d[2].type, keDeleteValue);
  EXPECT_EQ(d[2].name, "old");
}

TEST_F(KeyHashTest, NamesDifferingOnlyInCaseAreOneName) {
  reg.SetString(View::V64, kKey, "Name", "same");
  TKeyHash upper = Snap();
  upper.Values[0].name = "NAME";
  EXPECT_TRUE(CompareKeyHashes(Snap(), upper).empty());
}

TEST_F(KeyHashTest, ChangesOneLevelDownAreNotPartOfTheKey) {
  reg.CreateKey(View::V64, std::string(kKey) + "\\sub");
  const TKeyHash before = Snap();
  reg.SetString(View::V64, std::string(kKey) + "\\sub", "deep", "x");
  reg.CreateKey(View::V64, std::string(kKey) + "\\sub\\deeper");
  EXPECT_TRUE(CompareKeyHashes(before, Snap()).empty());
}

} // namespace
} // namespace quenlo::test
