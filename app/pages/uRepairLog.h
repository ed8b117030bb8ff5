// The repair run's two files in the settings folder: the log "repairs.htm",
// which every run appends to and nothing truncates, and "cantremove.txt",
// the failures of the last run that had any.
#pragma once

#include <string>
#include <string_view>

namespace quenlo {

inline constexpr std::string_view RepairLogTitle = "repairs.htm";
inline constexpr std::string_view FailureListTitle = "cantremove.txt";

// Text made safe for HTML: & < > " ' become entities.
std::string HtmlEscape(std::string_view text);

// The head a new log starts with; it declares the encoding the lines are
// written in (UTF-8).
std::string RepairLogHead();

// Appends text and a line end to the log at path (a new file gets the head
// first). Written as a whole new file through a temporary name and a rename,
// so an interrupted append leaves the old log. False when nothing was
// written; a log that exists but cannot be read is left alone.
[[nodiscard]] bool AppendToLog(const std::string &path, std::string_view text);

// The log lines of a run; key and value names are escaped and never used as
// a format.
std::string RepairLogCategoryLine(std::string_view categoryName); // "<b>name</b><br>"
std::string RepairLogLocationLine(std::string_view location);     // "location<br>"

// Replaces the file at path with text and a line end: written to a
// temporary file, then moved over the old one. True only when the new file
// is in place.
[[nodiscard]] bool WriteFailureFile(const std::string &path, std::string_view text);

} // namespace quenlo
