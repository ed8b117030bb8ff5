// The monitor's changes as the front ends show and save them: the texts of
// each kind of change, the data texts, JSON that stays valid whatever the
// names hold, CSV a spreadsheet cannot be tricked by, and the undo file,
// played back into the registry.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "platform/Utf.h"
#include "registry/uRegFile.h"
#include "service/uMonitorEvents.h"

namespace quenlo::test {
namespace {

using qp::mem::View;
using service::ChangeJson;
using service::ChangesCsv;
using service::ChangesJson;
using service::DescribeChange;
using service::UndoFileForChanges;
using service::ValueDataText;

// ---- building changes by hand

TValueState Kept(std::uint32_t type, qp::Bytes data) {
  TValueState state;
  state.type = type;
  state.size = data.size();
  state.dataKept = true;
  state.data = std::move(data);
  return state;
}

TValueState NotKept(std::uint32_t type, std::uint64_t size) {
  TValueState state;
  state.type = type;
  state.size = size;
  state.dataKept = false;
  return state;
}

qp::Bytes Sz(const std::string &text) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

qp::Bytes Dword(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

TWatchPoint Point(std::uint32_t root, const std::string &path) {
  TWatchPoint where;
  where.root = root;
  where.path = path;
  where.viewPath = path;
  return where;
}

const TWatchPoint kRun = Point(wc::HkeyCurrentUser, "Software\\Microsoft\\Windows\\Run");

TKeyChange Change(TKeyEventType type, const std::string &name,
                  std::optional<TValueState> before = std::nullopt,
                  std::optional<TValueState> after = std::nullopt, TWatchPoint where = kRun) {
  TKeyChange change;
  change.where = std::move(where);
  change.type = type;
  change.name = name;
  change.before = std::move(before);
  change.after = std::move(after);
  change.time = std::chrono::system_clock::from_time_t(1796821445) + std::chrono::milliseconds(7);
  return change;
}

// ---- a strict JSON reader: objects of strings and arrays of them, as the
// exports write. Raw bytes must be valid UTF-8 without control characters;
// escapes are decoded (a surrogate escape to its three-byte form).
class TJsonReader {
public:
  explicit TJsonReader(std::string_view text) : text_(text) {}

  bool Object(std::map<std::string, std::string> &fields) {
    Space();
    if (!Eat('{'))
      return false;
    Space();
    if (Eat('}'))
      return true;
    for (;;) {
      std::string key, value;
      Space();
      if (!String(key))
        return false;
      Space();
      if (!Eat(':'))
        return false;
      Space();
      if (!String(value) || fields.count(key) > 0)
        return false;
      fields[key] = value;
      Space();
      if (Eat('}'))
        return true;
      if (!Eat(','))
        return false;
    }
  }
  bool Array(std::vector<std::map<std::string, std::string>> &objects) {
    Space();
    if (!Eat('['))
      return false;
    Space();
    if (Eat(']'))
      return true;
    for (;;) {
      std::map<std::string, std::string> object;
      if (!Object(object))
        return false;
      objects.push_back(object);
      Space();
      if (Eat(']'))
        return true;
      if (!Eat(','))
        return false;
    }
  }
  bool AtEnd() {
    Space();
    return pos_ == text_.size();
  }

private:
  bool Eat(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\r' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\t'))
      ++pos_;
  }
  static void AppendUtf8(std::string &out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool String(std::string &out) {
    if (!Eat('"'))
      return false;
    while (pos_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20)
        return false;
      if (c == '\\') {
        if (++pos_ >= text_.size())
          return false;
        const char e = text_[pos_++];
        switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          if (pos_ + 4 > text_.size())
            return false;
          unsigned cp = 0;
          for (int k = 0; k < 4; ++k) {
            const char h = text_[pos_++];
            cp <<= 4;
            if (h >= '0' && h <= '9')
              cp |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
              cp |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
              cp |= static_cast<unsigned>(h - 'A' + 10);
            else
              return false;
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return false;
        }
        continue;
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
        ++pos_;
        continue;
      }
      // Raw multi-byte text must be well-formed UTF-8 of a scalar value.
      std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      if (length == 0 || c > 0xF4 || pos_ + length > text_.size())
        return false;
      unsigned cp = c & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
      for (std::size_t k = 1; k < length; ++k) {
        const auto n = static_cast<unsigned char>(text_[pos_ + k]);
        if ((n & 0xC0) != 0x80)
          return false;
        cp = (cp << 6) | (n & 0x3F);
      }
      const unsigned minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
      if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
      out.append(text_.substr(pos_, length));
      pos_ += length;
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::map<std::string, std::string> ParseObject(const std::string &line) {
  TJsonReader reader(line);
  std::map<std::string, std::string> fields;
  EXPECT_TRUE(reader.Object(fields) && reader.AtEnd()) << "not valid JSON: " << line;
  return fields;
}

// Sets the process's time zone for one test and puts the old one back.
class TZone {
public:
  explicit TZone(const char *zone) {
    if (const char *old = std::getenv("TZ"))
      old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TZone() {
    if (old_)
      ::setenv("TZ", old_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

private:
  std::optional<std::string> old_;
};

// ---------------------------------------------------------------- texts

TEST(MonitorEventText, EachKindNamesItsActionLocationAndData) {
  const auto created = DescribeChange(Change(keCreateSubkey, "NewApp"));
  EXPECT_EQ(created.action, "Subkey created");
  EXPECT_EQ(created.watchedKey, "HKCU\\Software\\Microsoft\\Windows\\Run");
  EXPECT_EQ(created.location, "HKCU\\Software\\Microsoft\\Windows\\Run\\NewApp");
  EXPECT_EQ(created.shown, "NewApp");
  EXPECT_EQ(created.type, "");
  EXPECT_EQ(created.view, "") << "a key with one view says no view";

  EXPECT_EQ(DescribeChange(Change(keDeleteSubkey, "Old")).action, "Subkey deleted");

  const auto added =
      DescribeChange(Change(keCreateValue, "Tool", {}, Kept(wc::RegSz, Sz("x.exe"))));
  EXPECT_EQ(added.action, "Value created");
  EXPECT_EQ(added.location, "HKCU\\Software\\Microsoft\\Windows\\Run") << "the key, not the value";
  EXPECT_EQ(added.name, "Tool");
  EXPECT_EQ(added.type, "REG_SZ");
  EXPECT_EQ(added.oldData, "");
  EXPECT_EQ(added.newData, "x.exe");

  const auto gone = DescribeChange(Change(keDeleteValue, "Tool", Kept(wc::RegSz, Sz("x.exe"))));
  EXPECT_EQ(gone.action, "Value deleted");
  EXPECT_EQ(gone.oldData, "x.exe");
  EXPECT_EQ(gone.newData, "");

  const auto edited = DescribeChange(
      Change(keEditValue, "", Kept(wc::RegSz, Sz("7")), Kept(wc::RegDword, Dword(7))));
  EXPECT_EQ(edited.action, "Value changed");
  EXPECT_EQ(edited.name, "");
  EXPECT_EQ(edited.shown, "(Default)");
  EXPECT_EQ(edited.type, "REG_SZ -> REG_DWORD");
  EXPECT_EQ(edited.oldData, "7");
  EXPECT_EQ(edited.newData, "7 (0x00000007)");

  const auto sameType = DescribeChange(
      Change(keEditValue, "n", Kept(wc::RegDword, Dword(1)), Kept(wc::RegDword, Dword(2))));
  EXPECT_EQ(sameType.type, "REG_DWORD");
}

TEST(MonitorEventText, AKeyWithTwoViewsNamesTheViewAndTheWow64PathOfItsSecondView) {
  TWatchPoint view32 = Point(wc::HkeyLocalMachine, "SOFTWARE\\Vendor\\Run");
  view32.view = rv32;
  view32.oneOfTwoViews = true;
  view32.viewPath = "SOFTWARE\\Wow6432Node\\Vendor\\Run";
  const auto text32 = DescribeChange(Change(keCreateSubkey, "Sub", {}, {}, view32));
  EXPECT_EQ(text32.watchedKey, "HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\Run");
  EXPECT_EQ(text32.location, "HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\Run\\Sub");
  EXPECT_EQ(text32.view, "32-bit");

  TWatchPoint view64 = Point(wc::HkeyLocalMachine, "SOFTWARE\\Vendor\\Run");
  view64.oneOfTwoViews = true;
  const auto text64 = DescribeChange(Change(keCreateValue, "v", {}, Kept(wc::RegNone, {}), view64));
  EXPECT_EQ(text64.location, "HKLM\\SOFTWARE\\Vendor\\Run");
  EXPECT_EQ(text64.view, "64-bit");
}

TEST(MonitorEventText, DataTexts) {
  EXPECT_EQ(ValueDataText(Kept(wc::RegDword, Dword(255))), "255 (0x000000ff)");
  EXPECT_EQ(ValueDataText(Kept(wc::RegDword, Dword(0xFFFFFFFF))), "4294967295 (0xffffffff)");
  EXPECT_EQ(ValueDataText(Kept(wc::RegQword, {1, 0, 0, 0, 0, 0, 0, 0x80})),
            "9223372036854775809 (0x8000000000000001)");
  EXPECT_EQ(ValueDataText(Kept(wc::RegDword, {1, 2})), "01 02") << "a DWORD of the wrong size";
  EXPECT_EQ(ValueDataText(Kept(wc::RegBinary, {0x01, 0x02, 0xff})), "01 02 ff");
  EXPECT_EQ(ValueDataText(Kept(wc::RegBinary, {})), "");
  EXPECT_EQ(ValueDataText(Kept(wc::RegNone, {0xab})), "ab");

  // Strings end at their first NUL; multi strings are joined.
  qp::Bytes twoStrings = Sz("shown");
  const qp::Bytes hidden = Sz("hidden");
  twoStrings.insert(twoStrings.end(), hidden.begin(), hidden.end());
  EXPECT_EQ(ValueDataText(Kept(wc::RegSz, twoStrings)), "shown");
  EXPECT_EQ(ValueDataText(Kept(wc::RegExpandSz, Sz("%TEMP%\\\xc3\xa9t\xc3\xa9"))),
            "%TEMP%\\\xc3\xa9t\xc3\xa9");
  qp::Bytes multi = twoStrings;
  multi.push_back(0);
  multi.push_back(0);
  EXPECT_EQ(ValueDataText(Kept(wc::RegMultiSz, multi)), "shown | hidden");
  EXPECT_EQ(ValueDataText(Kept(wc::RegMultiSz, {0, 0})), "");

  EXPECT_EQ(ValueDataText(NotKept(wc::RegBinary, 70000)), "(not kept: 70000 bytes)");
  EXPECT_EQ(DescribeChange(
                Change(keEditValue, "big", NotKept(wc::RegBinary, 70000), Kept(wc::RegBinary, {1})))
                .oldData,
            "(not kept: 70000 bytes)");
}

TEST(MonitorEventText, LongDataIsCutAtACharacterNotInsideOne) {
  const std::string cut = ValueDataText(Kept(wc::RegBinary, qp::Bytes(200, 0xAB)));
  ASSERT_EQ(cut.size(), service::ShownDataChars + 3);
  EXPECT_EQ(cut.substr(0, 6), "ab ab ");
  EXPECT_EQ(cut.substr(cut.size() - 4), "a...") << "256 characters of \"ab ab ...\"";

  // 300 two-byte characters: 256 of them (512 bytes) survive whole.
  std::string accents;
  for (int i = 0; i < 300; ++i)
    accents += "\xc3\xa9";
  const std::string text = ValueDataText(Kept(wc::RegSz, Sz(accents)));
  EXPECT_EQ(text, accents.substr(0, 512) + "...");

  const std::string exact(service::ShownDataChars, 'x');
  EXPECT_EQ(ValueDataText(Kept(wc::RegSz, Sz(exact))), exact) << "nothing cut, no mark";
}

TEST(MonitorEventText, TypeNames) {
  EXPECT_EQ(service::RegTypeName(wc::RegExpandSz), "REG_EXPAND_SZ");
  EXPECT_EQ(service::RegTypeName(wc::RegMultiSz), "REG_MULTI_SZ");
  EXPECT_EQ(service::RegTypeName(wc::RegQword), "REG_QWORD");
  EXPECT_EQ(service::RegTypeName(wc::RegNone), "REG_NONE");
  EXPECT_EQ(service::RegTypeName(0x1234), "REG_0x1234");
}

// ---------------------------------------------------------------- JSON

TEST(MonitorEventJson, OneLineWithTheFieldsOfItsKind) {
  TZone utc("UTC");
  const std::string line = ChangeJson(
      Change(keEditValue, "Tool", Kept(wc::RegSz, Sz("a.exe")), Kept(wc::RegSz, Sz("b.exe"))));
  EXPECT_EQ(line, "{\"time\":\"2026-12-09T13:04:05.007+00:00\","
                  "\"key\":\"HKCU\\\\Software\\\\Microsoft\\\\Windows\\\\Run\",\"name\":\"Tool\","
                  "\"action\":\"keEditValue\",\"type\":\"REG_SZ\",\"old\":\"a.exe\","
                  "\"new\":\"b.exe\"}");

  const auto subkey = ParseObject(ChangeJson(Change(keDeleteSubkey, "Gone")));
  EXPECT_EQ(subkey.at("key"), "HKCU\\Software\\Microsoft\\Windows\\Run\\Gone");
  EXPECT_EQ(subkey.at("action"), "keDeleteSubkey");
  EXPECT_EQ(subkey.count("type") + subkey.count("old") + subkey.count("new") + subkey.count("view"),
            0u);

  const auto created =
      ParseObject(ChangeJson(Change(keCreateValue, "", {}, Kept(wc::RegDword, Dword(1)))));
  EXPECT_EQ(created.at("name"), "") << "the default value keeps its stored name";
  EXPECT_EQ(created.count("old"), 0u);
  EXPECT_EQ(created.at("new"), "1 (0x00000001)");

  TWatchPoint view32 = Point(wc::HkeyLocalMachine, "SOFTWARE\\V");
  view32.view = rv32;
  view32.oneOfTwoViews = true;
  view32.viewPath = "SOFTWARE\\Wow6432Node\\V";
  const auto twoViews =
      ParseObject(ChangeJson(Change(keDeleteValue, "x", Kept(wc::RegBinary, {1}), {}, view32)));
  EXPECT_EQ(twoViews.at("view"), "32-bit");
  EXPECT_EQ(twoViews.at("key"), "HKLM\\SOFTWARE\\Wow6432Node\\V");
  EXPECT_EQ(twoViews.count("new"), 0u);
}

TEST(MonitorEventJson, TheTimeIsLocalWithItsOffset) {
  {
    TZone india("IST-5:30");
    EXPECT_EQ(ParseObject(ChangeJson(Change(keCreateSubkey, "k"))).at("time"),
              "2026-12-09T18:34:05.007+05:30");
  }
  {
    TZone west("XST3");
    EXPECT_EQ(ParseObject(ChangeJson(Change(keCreateSubkey, "k"))).at("time"),
              "2026-12-09T10:04:05.007-03:00");
  }
}

TEST(MonitorEventJson, HostileNamesAndDataStayValidJson) {
  const std::string controls = std::string("a\"b\\c\n\r\t\b\f") + '\x01' + '\x1f' + '\x7f' + "/";
  const std::string umlaut = "\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80"; // ü € and an emoji
  // A name read from UTF-16 with an unpaired surrogate (three-byte form),
  // and bytes that are no UTF-8 at all.
  const std::string surrogate = "x\xed\xa0\x80y";
  const std::string broken = "p\xff\xc3q\xe2\x82";
  const std::string overlong = "\xc0\xaf\xe0\x80\xaf";

  for (const std::string &name : {controls, umlaut, surrogate, broken, overlong}) {
    const std::string line =
        ChangeJson(Change(keEditValue, name, Kept(wc::RegSz, Sz(name)), Kept(wc::RegBinary, {0})));
    EXPECT_EQ(line.find('\n'), std::string::npos) << "one line";
    const auto fields = ParseObject(line);
    if (name == controls || name == umlaut) {
      EXPECT_EQ(fields.at("name"), name) << "read back as written";
      EXPECT_EQ(fields.at("old"), name);
    }
  }
  EXPECT_EQ(ParseObject(ChangeJson(Change(keCreateSubkey, surrogate))).at("name"), surrogate)
      << "the surrogate is escaped, not lost";
  EXPECT_EQ(ParseObject(ChangeJson(Change(keCreateSubkey, broken))).at("name"),
            "p\xef\xbf\xbd\xef\xbf\xbdq\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(MonitorEventJson, TheListIsOneArray) {
  const std::string emptyList = ChangesJson({});
  TJsonReader empty(emptyList);
  std::vector<std::map<std::string, std::string>> none;
  EXPECT_TRUE(empty.Array(none) && empty.AtEnd());
  EXPECT_TRUE(none.empty());

  const std::string text = ChangesJson(
      {Change(keCreateSubkey, "a\"]"), Change(keDeleteValue, "b", Kept(wc::RegSz, Sz("},{")))});
  TJsonReader reader(text);
  std::vector<std::map<std::string, std::string>> objects;
  ASSERT_TRUE(reader.Array(objects) && reader.AtEnd()) << text;
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].at("name"), "a\"]");
  EXPECT_EQ(objects[1].at("old"), "},{");
}

// ---------------------------------------------------------------- CSV

TEST(MonitorEventCsv, HeaderQuotingAndLineEnds) {
  TZone utc("UTC");
  const std::string csv = ChangesCsv(
      {Change(keEditValue, "a,b", Kept(wc::RegSz, Sz("say \"hi\"")), Kept(wc::RegSz, Sz("x\ny"))),
       Change(keCreateSubkey, "plain")});
  EXPECT_EQ(csv, "Time,Subkey / Value,Action,Registry Location,View,Type,Old data,New data\r\n"
                 "2026-12-09T13:04:05.007+00:00,\"a,b\",Value changed,"
                 "HKCU\\Software\\Microsoft\\Windows\\Run,,REG_SZ,\"say \"\"hi\"\"\",\"x\ny\"\r\n"
                 "2026-12-09T13:04:05.007+00:00,plain,Subkey created,"
                 "HKCU\\Software\\Microsoft\\Windows\\Run\\plain,,,,\r\n");
  EXPECT_EQ(ChangesCsv({}),
            "Time,Subkey / Value,Action,Registry Location,View,Type,Old data,New data\r\n");
}

TEST(MonitorEventCsv, FormulasInRegistryDataArePlainText) {
  TZone utc("UTC");
  const std::string csv =
      ChangesCsv({Change(keCreateValue, "=HYPERLINK(\"http://x\")", {},
                         Kept(wc::RegSz, Sz("+cmd|' /C calc'!A0"))),
                  Change(keCreateValue, "@SUM(1)", {}, Kept(wc::RegSz, Sz("-2+3"))),
                  Change(keCreateValue, "a=b", {}, Kept(wc::RegSz, Sz("1-2")))});
  EXPECT_NE(csv.find("\"'=HYPERLINK(\"\"http://x\"\")\""), std::string::npos) << csv;
  EXPECT_NE(csv.find(",'+cmd|' /C calc'!A0\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("'@SUM(1),"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",'-2+3\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n2026-12-09T13:04:05.007+00:00,a=b,"), std::string::npos)
      << "only a leading sign makes a formula";
  EXPECT_NE(csv.find(",1-2\r\n"), std::string::npos) << csv;
}

// ---------------------------------------------------------------- undo file

class MonitorUndoFile : public MemoryTest {};

TEST_F(MonitorUndoFile, PuttingTheFileBackRestoresTheFirstStateOfEveryValue) {
  const std::string key = "HKCU\\Software\\Watched";
  // The state before the changes...
  reg.SetString(View::V64, key, "Edited", "one");
  reg.SetDword(View::V64, key, "Removed", 5);
  reg.SetRaw(View::V64, key, "Huge", wc::RegBinary, qp::Bytes(9000, 1));
  reg.SetString(View::V64, key, "", "default");
  // ...and after them.
  reg.SetString(View::V64, key, "Edited", "three");
  reg.SetString(View::V64, key, "Added", "new");
  reg.SetRaw(View::V64, key, "Huge", wc::RegBinary, qp::Bytes(9000, 2));
  reg.SetString(View::V64, key, "", "changed");
  reg.CreateKey(View::V64, key + "\\NewSub");
  {
    ScopedKey open;
    ASSERT_EQ(OpenKeyFull(wc::HkeyCurrentUser, rv64, "Software\\Watched", open), 0);
    ASSERT_EQ(qp::Platform().Registry().DeleteValue(open.Get(), "Removed"), 0);
  }

  const TWatchPoint where = Point(wc::HkeyCurrentUser, "Software\\Watched");
  const std::vector<TKeyChange> changes = {
      Change(keEditValue, "Edited", Kept(wc::RegSz, Sz("one")), Kept(wc::RegSz, Sz("two")), where),
      Change(keCreateSubkey, "NewSub", {}, {}, where),
      Change(keDeleteValue, "Removed", Kept(wc::RegDword, Dword(5)), {}, where),
      Change(keEditValue, "EDITED", Kept(wc::RegSz, Sz("two")), Kept(wc::RegSz, Sz("three")),
             where),
      Change(keCreateValue, "Added", {}, Kept(wc::RegSz, Sz("new")), where),
      Change(keEditValue, "Huge", NotKept(wc::RegBinary, 9000), NotKept(wc::RegBinary, 9000),
             where),
      Change(keEditValue, "", Kept(wc::RegSz, Sz("default")), Kept(wc::RegSz, Sz("changed")),
             where),
      Change(keDeleteSubkey, "OldSub", {}, {}, where),
  };
  const service::TUndoFileResult undo = UndoFileForChanges(changes);
  EXPECT_EQ(undo.valuesIncluded, 4);
  EXPECT_EQ(undo.valuesLeftOut, 1);
  EXPECT_EQ(undo.subkeyChanges, 2);
  EXPECT_EQ(undo.valuesUnwritable, 0);
  ASSERT_EQ(undo.file.Keys.size(), 1u);
  const TRegFileKey &fileKey = undo.file.Keys[0];
  EXPECT_EQ(fileKey.Root, wc::HkeyCurrentUser);
  EXPECT_EQ(fileKey.Path, "Software\\Watched");
  EXPECT_FALSE(fileKey.Delete) << "the file never deletes a key";
  ASSERT_EQ(fileKey.Values.size(), 4u);
  EXPECT_EQ(fileKey.Values[0].Name, "Edited") << "in the order first seen";
  EXPECT_EQ(fileKey.Values[1].Name, "Removed");
  EXPECT_EQ(fileKey.Values[2].Name, "Added");
  EXPECT_TRUE(fileKey.Values[2].Delete);
  EXPECT_EQ(fileKey.Values[3].Name, "");
  EXPECT_FALSE(undo.file.Unicode) << "plain ASCII fits the old format";

  // Written, read back and imported as the registry editor would.
  std::string error;
  ASSERT_TRUE(WriteRegFile(undo.file, "C:\\undo.reg", error)) << error;
  TRegFile read;
  ASSERT_TRUE(ReadRegFile("C:\\undo.reg", read, error)) << error;
  ASSERT_TRUE(ApplyRegFile(read, rv64, error)) << error;

  EXPECT_EQ(reg.GetText(View::V64, key, "Edited"), "one") << "the first state, not the second";
  const auto removed = reg.GetRaw(View::V64, key, "Removed");
  ASSERT_TRUE(removed.has_value());
  EXPECT_EQ(removed->first, wc::RegDword);
  EXPECT_EQ(removed->second, Dword(5));
  EXPECT_FALSE(reg.ValueExists(View::V64, key, "Added"));
  EXPECT_EQ(reg.GetText(View::V64, key, ""), "default");
  EXPECT_EQ(reg.GetRaw(View::V64, key, "Huge")->second, qp::Bytes(9000, 2))
      << "a value whose old data was not kept is left as it is";
  EXPECT_TRUE(reg.KeyExists(View::V64, key + "\\NewSub")) << "subkeys are not touched";
}

TEST_F(MonitorUndoFile, TheSecondViewIsWrittenByItsWow64PathAndUnicodeWhereNeeded) {
  TWatchPoint view32 = Point(wc::HkeyLocalMachine, "SOFTWARE\\Vendor");
  view32.view = rv32;
  view32.oneOfTwoViews = true;
  view32.viewPath = "SOFTWARE\\Wow6432Node\\Vendor";
  TWatchPoint view64 = Point(wc::HkeyLocalMachine, "SOFTWARE\\Vendor");
  view64.oneOfTwoViews = true;
  const service::TUndoFileResult undo = UndoFileForChanges({
      Change(keCreateValue, "same", {}, Kept(wc::RegSz, Sz("32")), view32),
      Change(keCreateValue, "same", {}, Kept(wc::RegSz, Sz("64")), view64),
      Change(keDeleteValue, "\xc3\xa9t\xc3\xa9", Kept(wc::RegSz, Sz("x")), {}, view64),
  });
  EXPECT_EQ(undo.valuesIncluded, 3) << "the same name in two views is two values";
  ASSERT_EQ(undo.file.Keys.size(), 2u);
  EXPECT_EQ(undo.file.Keys[0].Path, "SOFTWARE\\Wow6432Node\\Vendor");
  EXPECT_EQ(undo.file.Keys[1].Path, "SOFTWARE\\Vendor");
  EXPECT_EQ(undo.file.Keys[1].Values.size(), 2u);
  EXPECT_TRUE(undo.file.Unicode) << "a non-ASCII name needs the Unicode format";
}

TEST_F(MonitorUndoFile, ANameTheFileCannotCarryLeavesOnlyItselfOut) {
  const TWatchPoint where = Point(wc::HkeyCurrentUser, "Software\\W");
  const service::TUndoFileResult undo = UndoFileForChanges({
      Change(keCreateValue, "evil\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]", {}, Kept(wc::RegSz, Sz("")),
             where),
      Change(keCreateValue, "fine", {}, Kept(wc::RegSz, Sz("")), where),
  });
  EXPECT_EQ(undo.valuesUnwritable, 1);
  EXPECT_EQ(undo.valuesIncluded, 1);
  std::string error;
  EXPECT_TRUE(WriteRegFile(undo.file, "C:\\u.reg", error)) << error;

  const service::TUndoFileResult nothing =
      UndoFileForChanges({Change(keCreateSubkey, "s", {}, {}, where),
                          Change(keDeleteValue, "v", NotKept(wc::RegBinary, 5000), {}, where)});
  EXPECT_TRUE(nothing.file.Keys.empty()) << "no key without a value to put back";
  EXPECT_EQ(nothing.valuesLeftOut, 1);
  EXPECT_EQ(nothing.subkeyChanges, 1);
}

} // namespace
} // namespace quenlo::test
