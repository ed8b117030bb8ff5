#include "app/uIniFile.h"

#include <unordered_set>

#include "platform/FileOps.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

// Line breaks inside a key or value would split the line on the next read.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c == '\r' || c == '\n')
      c = ' ';
  return out;
}

bool IsNameOf(std::string_view a, std::string_view b) {
  return qp::EqualsNoCase(a, b);
}

} // namespace

TIniFile::TIniFile() {
  sections_.emplace_back();
}

void TIniFile::SetText(std::string_view content) {
  sections_.clear();
  sections_.emplace_back();
  encoding_ = Encoding::Utf8;
  std::string decoded;
  if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF") {
    encoding_ = Encoding::Utf8Bom;
    content.remove_prefix(3);
  } else if (content.size() >= 2 && content.substr(0, 2) == "\xFF\xFE") {
    encoding_ = Encoding::Utf16Le;
    qp::Bytes raw(content.begin() + 2, content.end());
    decoded = qp::RawUtf16ToUtf8(raw);
    content = decoded;
  }

  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      end = content.size();
    std::string_view text = content.substr(start, end - start);
    start = end;
    if (start < content.size() && content[start] == '\r')
      ++start;
    if (end < content.size() && content[end] == '\r' && start < content.size() &&
        content[start] == '\n')
      ++start;
    else if (end < content.size() && content[end] == '\n')
      ++start;

    std::string_view trimmed = Trim(text);
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      Section section;
      section.hasHeader = true;
      section.name = std::string(trimmed.substr(1, trimmed.size() - 2));
      section.headerRaw = std::string(text);
      sections_.push_back(std::move(section));
      continue;
    }
    Line line;
    line.raw = std::string(text);
    std::size_t eq = trimmed.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = Trim(trimmed.substr(0, eq));
      if (!key.empty()) {
        line.key = std::string(key);
        line.value = std::string(Trim(trimmed.substr(eq + 1)));
      }
    }
    sections_.back().lines.push_back(std::move(line));
  }
}

std::string TIniFile::Text() const {
  std::string out;
  for (const Section &section : sections_) {
    if (section.hasHeader) {
      out += section.headerRaw;
      out += "\r\n";
    }
    for (const Line &line : section.lines) {
      out += line.raw;
      out += "\r\n";
    }
  }
  switch (encoding_) {
  case Encoding::Utf8:
    return out;
  case Encoding::Utf8Bom:
    return "\xEF\xBB\xBF" + out;
  case Encoding::Utf16Le: {
    qp::Bytes raw = qp::Utf8ToRawUtf16(out);
    return "\xFF\xFE" + std::string(raw.begin(), raw.end());
  }
  }
  return out;
}

bool TIniFile::LoadFile(std::string_view path, std::string &errorText) {
  std::string content;
  long status = qp::Platform().Files().ReadFile(path, content);
  if (status == wc::ErrorFileNotFound || status == wc::ErrorPathNotFound) {
    SetText("");
    return true;
  }
  if (status != wc::ErrorSuccess) {
    SetText("");
    errorText = "ReadFile: " + qp::Platform().System().SystemMessage(status);
    return false;
  }
  SetText(content);
  return true;
}

bool TIniFile::SaveFile(std::string_view path, std::string &errorText) const {
  std::string call;
  const long status = qp::ReplaceFileContent(path, Text(), &call);
  if (status == wc::ErrorSuccess)
    return true;
  errorText = call + ": " + qp::Platform().System().SystemMessage(status);
  return false;
}

TIniFile::Section *TIniFile::FirstSection(std::string_view name) {
  for (Section &section : sections_)
    if (section.hasHeader && IsNameOf(section.name, name))
      return &section;
  return nullptr;
}

const TIniFile::Line *TIniFile::FindPair(std::string_view section, std::string_view key) const {
  for (const Section &s : sections_) {
    if (!s.hasHeader || !IsNameOf(s.name, section))
      continue;
    for (const Line &line : s.lines)
      if (line.IsPair() && IsNameOf(line.key, key))
        return &line;
  }
  return nullptr;
}

TIniFile::Line *TIniFile::FindPair(std::string_view section, std::string_view key) {
  return const_cast<Line *>(std::as_const(*this).FindPair(section, key));
}

bool TIniFile::SectionExists(std::string_view section) const {
  for (const Section &s : sections_)
    if (s.hasHeader && IsNameOf(s.name, section))
      return true;
  return false;
}

std::vector<std::string> TIniFile::Sections() const {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (const Section &s : sections_)
    if (s.hasHeader && seen.insert(qp::UpperAscii(s.name)).second)
      names.push_back(s.name);
  return names;
}

std::vector<std::pair<std::string, std::string>>
TIniFile::SectionPairs(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::unordered_set<std::string> seen;
  for (const Section &s : sections_) {
    if (!s.hasHeader || !IsNameOf(s.name, section))
      continue;
    for (const Line &line : s.lines)
      if (line.IsPair() && seen.insert(qp::UpperAscii(line.key)).second)
        pairs.emplace_back(line.key, line.value);
  }
  return pairs;
}

std::vector<std::string> TIniFile::SectionKeys(std::string_view section) const {
  std::vector<std::string> keys;
  for (auto &pair : SectionPairs(section))
    keys.push_back(std::move(pair.first));
  return keys;
}

std::optional<std::string> TIniFile::ReadValue(std::string_view section,
                                               std::string_view key) const {
  if (const Line *line = FindPair(section, key))
    return line->value;
  return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  auto value = ReadValue(section, key);
  return value ? *value : std::string(def);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const {
  auto value = ReadValue(section, key);
  if (!value)
    return def;
  return ParseInt32(*value).value_or(def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

TIniFile::Line TIniFile::MakePair(std::string_view key, std::string_view value) {
  Line line;
  line.key = OneLine(Trim(key));
  line.value = OneLine(Trim(value));
  line.raw = line.key + "=" + line.value;
  return line;
}

// After the section's last key, so that blank lines and comments that close
// the section stay where they are.
void TIniFile::InsertPair(Section &section, Line line) {
  std::size_t at = section.lines.size();
  while (at > 0 && !section.lines[at - 1].IsPair() && Trim(section.lines[at - 1].raw).empty())
    --at;
  section.lines.insert(section.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

TIniFile::Section &TIniFile::AppendSection(std::string_view name) {
  // One blank line between sections, without piling up blank lines.
  Section &last = sections_.back();
  bool fileEmpty = sections_.size() == 1 && last.lines.empty();
  if (!fileEmpty && (last.lines.empty() ? last.hasHeader : !Trim(last.lines.back().raw).empty()))
    last.lines.push_back(Line{});
  Section section;
  section.hasHeader = true;
  section.name = OneLine(name);
  section.headerRaw = "[" + section.name + "]";
  sections_.push_back(std::move(section));
  return sections_.back();
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Line fresh = MakePair(key, value);
  if (fresh.key.empty())
    return;
  if (Line *line = FindPair(section, fresh.key)) {
    if (line->value != fresh.value) {
      line->value = fresh.value;
      line->raw = line->key + "=" + line->value;
    }
    return;
  }
  Section *target = FirstSection(section);
  if (target == nullptr)
    target = &AppendSection(section);
  InsertPair(*target, std::move(fresh));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::AddSection(std::string_view section) {
  if (FirstSection(section) == nullptr)
    AppendSection(section);
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  for (Section &s : sections_) {
    if (!s.hasHeader || !IsNameOf(s.name, section))
      continue;
    std::erase_if(s.lines,
                  [&](const Line &line) { return line.IsPair() && IsNameOf(line.key, key); });
  }
}

void TIniFile::EraseSection(std::string_view section) {
  std::erase_if(sections_,
                [&](const Section &s) { return s.hasHeader && IsNameOf(s.name, section); });
}

void TIniFile::ReplaceSection(std::string_view section,
                              const std::vector<std::pair<std::string, std::string>> &pairs) {
  if (FirstSection(section) == nullptr)
    AppendSection(section);
  // Later occurrences of the section lose their keys and vanish when nothing
  // but blank lines is left in them.
  std::size_t first = sections_.size();
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    Section &s = sections_[i];
    if (!s.hasHeader || !IsNameOf(s.name, section))
      continue;
    if (first == sections_.size()) {
      first = i;
      continue;
    }
    std::erase_if(s.lines, [](const Line &line) { return line.IsPair(); });
    bool blank = true;
    for (const Line &line : s.lines)
      blank = blank && Trim(line.raw).empty();
    if (blank) {
      sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(i));
      --i;
    }
  }

  auto &lines = sections_[first].lines;
  std::size_t at = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].IsPair()) {
      at = i;
      break;
    }
  std::erase_if(lines, [](const Line &line) { return line.IsPair(); });
  std::vector<Line> fresh;
  for (const auto &[key, value] : pairs) {
    Line line = MakePair(key, value);
    if (!line.key.empty())
      fresh.push_back(std::move(line));
  }
  if (at >= lines.size()) { // no key had a place: after the last non-blank line
    at = lines.size();
    while (at > 0 && Trim(lines[at - 1].raw).empty())
      --at;
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
               std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
}

namespace {

bool RoundTripsOnALine(std::string_view text, std::string &reason) {
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    reason = "it holds a line break";
    return false;
  }
  if (Trim(text).size() != text.size()) {
    reason = "it begins or ends with a blank";
    return false;
  }
  return true;
}

} // namespace

bool IniKeyRoundTrips(std::string_view key, std::string &reason) {
  if (!RoundTripsOnALine(key, reason))
    return false;
  if (key.find('=') != std::string_view::npos) {
    reason = "it holds \"=\"";
    return false;
  }
  return true;
}

bool IniSectionRoundTrips(std::string_view section, std::string &reason) {
  if (!RoundTripsOnALine(section, reason))
    return false;
  if (section.empty()) {
    reason = "it is empty";
    return false;
  }
  return true;
}

} // namespace quenlo
