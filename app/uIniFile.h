// In-memory INI text: bracketed sections and key=value lines.
//
// Every line of the source survives a rewrite: lines this object does not
// understand (comments, garbage, lines without "=") are kept in place, and so
// are unknown sections and keys and their order. Sections and keys compare
// case-insensitively (ASCII). When a section occurs more than once, the
// occurrences read as one section (first key wins) and writes go to the first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/NumberText.h"

namespace quenlo {

// Whether a text comes back unchanged from the file as a key name or as a
// section name: the reader trims blanks, ends a line at CR or LF and cuts a
// key at its first "=". False, with the reason, for a text it would change.
// Whatever the reader itself produced always passes.
[[nodiscard]] bool IniKeyRoundTrips(std::string_view key, std::string &reason);
[[nodiscard]] bool IniSectionRoundTrips(std::string_view section, std::string &reason);

class TIniFile {
public:
  enum class Encoding : std::uint8_t { Utf8, Utf8Bom, Utf16Le };

  TIniFile();

  // Parses file content (UTF-8 with or without BOM, or UTF-16LE with BOM;
  // any line end). Never fails.
  void SetText(std::string_view content);
  // The content to store: CRLF line ends, in the encoding it was read in.
  std::string Text() const;
  Encoding FileEncoding() const { return encoding_; }

  // Reads a file through the platform. A missing file gives an empty object
  // and true; any other read error gives false with "Function: message".
  [[nodiscard]] bool LoadFile(std::string_view path, std::string &errorText);
  // Writes a temporary file beside path and moves it over path. On failure
  // the old file is left as it was and errorText says why.
  [[nodiscard]] bool SaveFile(std::string_view path, std::string &errorText) const;

  bool SectionExists(std::string_view section) const;
  std::vector<std::string> Sections() const;
  // Keys of a section in file order (each name once).
  std::vector<std::string> SectionKeys(std::string_view section) const;
  std::vector<std::pair<std::string, std::string>> SectionPairs(std::string_view section) const;

  std::optional<std::string> ReadValue(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Creates an empty section when none of that name exists.
  void AddSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);
  // Replaces every key of the section by pairs, keeping its place in the file
  // and the lines of it that are not keys. Creates the section when missing.
  void ReplaceSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>> &pairs);

private:
  struct Line {
    std::string raw; // the line as read; regenerated when changed
    std::string key; // empty for lines that are not key=value
    std::string value;
    bool IsPair() const { return !key.empty(); }
  };
  struct Section {
    bool hasHeader = false; // false only for the lines before the first header
    std::string name;
    std::string headerRaw;
    std::vector<Line> lines;
  };

  Section *FirstSection(std::string_view name);
  Line *FindPair(std::string_view section, std::string_view key);
  const Line *FindPair(std::string_view section, std::string_view key) const;
  Section &AppendSection(std::string_view name);
  static Line MakePair(std::string_view key, std::string_view value);
  static void InsertPair(Section &section, Line line);

  std::vector<Section> sections_;
  Encoding encoding_ = Encoding::Utf8;
};

using qp::ParseInt32;

} // namespace quenlo
