// Path extraction and file checks: turns the loose file references found in
// registry data (bare names, command lines, quoted paths, icon locations,
// paths with environment variables) into file paths and decides whether
// they exist. Also the small text helpers the scanner and cleaner share.
//
// All file-system access goes through qp::Platform().Files(); every
// attribute query of the probes passes through one internal function so
// that a per-scan cache can later sit in front of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "paths/uSysUtils.h"

namespace quenlo {

// --- character sets
// Cuts a command line after its program.
inline constexpr std::string_view kPathStopChars = " /*?\"<>|";
// Characters that cannot occur in a file name (after the drive colon).
inline constexpr std::string_view kInvalidNameChars = "/:*?\"<>|";
// Places where a path embedded in a longer text may end.
inline constexpr std::string_view kPathSeparatorChars = " ,^\\=%';@$#[]{}-!";

// --- text utilities

// First 1-based position at or after start (1-based; values below 1 count as
// 1) whose character is one of set; 0 when there is none.
std::size_t FindCharFrom(std::size_t start, std::string_view text, std::string_view set);

// Removes a pair of enclosing double quotes (only when both are present).
std::string StripQuotes(std::string_view text);

struct IconLocation {
  std::string path;
  std::string index; // text after the last comma, trimmed; may be empty
};
// Splits "file,index" at the last comma; see the implementation for how
// quotes and blanks are treated.
IconLocation SplitIconLocation(std::string_view text);
std::string ExtractIconFile(std::string_view text);

// Splits at ';' outside double quotes. length counts a terminating NUL (pass
// the text length + 1, or a registry string's size with its NUL); it is
// clamped to the text. Empty elements between separators are kept, an empty
// tail is not; quotes stay; every element is cut at an embedded NUL.
std::vector<std::string> SplitQuotedList(std::string_view text, std::size_t length);
inline std::vector<std::string> SplitQuotedList(std::string_view text) {
  return SplitQuotedList(text, text.size() + 1);
}

// Reads the token at pos (0-based) up to the next delimiter or the end and
// leaves pos just after that delimiter (text.size() at the end). With a
// space as delimiter, leading spaces are skipped first.
std::string NextToken(std::string_view text, std::size_t &pos, char delimiter);
// NextToken as a decimal number (its first 12 characters); 0 when the token
// is not a number.
std::int64_t NextIntToken(std::string_view text, std::size_t &pos, char delimiter);

// UTF-16 to UTF-8; false when the result is empty.
bool WideToUtf8(std::u16string_view wide, std::string &text);

// --- environment and folders

// Expands environment variables; the input comes back unchanged when the
// expansion fails. With use64 "%ProgramFiles%" and "%CommonProgramFiles%"
// name the 64-bit program folders. Without it, a 64-bit process on 64-bit
// Windows expands them to the 32-bit (x86) folders, as the checks expect.
std::string ExpandEnvPath(std::string_view text, bool use64 = false);

// System and Windows folders, lower-cased, with a trailing backslash.
std::string GetSystemDir();
std::string GetWindowsDir();
// The temporary folder with a trailing backslash (case kept).
std::string GetTempDir();
// A shell folder by CSIDL; owner is a window handle (may be 0).
[[nodiscard]] bool GetSpecialFolder(std::uintptr_t owner, int csidl, bool create,
                                    std::string &path);

// Drive part of a path: "C:" or "\\server\share"; empty when it has none.
std::string_view ExtractFileDrive(std::string_view path);
// Name part after the last '\' or ':'.
std::string_view ExtractFileName(std::string_view path);
// Extension from the last '.' of the name part (with the dot); may be empty.
std::string_view ExtractFileExt(std::string_view path);

// --- search folders for bare file names

// System folder, Windows folder, system drive root, then the PATH entries;
// each with a trailing backslash, duplicates left out. Built on first use
// (thread-safe) and kept.
const std::vector<std::string> &SearchDirs();
// Builds the list from the current platform (what SearchDirs caches).
std::vector<std::string> BuildSearchDirs();
// Forgets the cached list (each unit test installs a new platform).
void ResetSearchDirsForTests();

// --- file checks

enum : int { kProbeNone = 0, kProbeFile = 1, kProbeFolder = 2 };

// Finds the file or folder a text starts with or contains, on a fixed drive.
// Returns kProbeNone, kProbeFile or kProbeFolder; path may be shortened (to
// what was found, or to its drive-letter start).
int ProbePath(std::string &path);
// ProbePath finds a file (or, for the second, anything), trying the other
// file-system view as well when the process runs on 64-bit Windows.
bool ProbeFile(std::string_view path);
bool ProbeFileOrFolder(std::string_view path);

// The path names an existing file (not a folder).
bool IsExistingFile(std::string_view path);
// The path names an existing folder (a trailing backslash is allowed).
bool IsExistingFolder(std::string_view path);
// The drive part of the path ("C:", "\\server\share") is a fixed drive.
bool IsOnFixedDrive(std::string_view path);

// The full path of the file a text names (expanded, searched for when bare,
// looked up among the shared DLLs as a last resort); empty when none.
std::string ResolveFilePath(std::string_view text);
// ResolveFilePath, retried in the other file-system view.
std::string LocateFile(std::string_view text);
bool FileReferenceExists(std::string_view text);

// The program part of a command line.
std::string ExtractCommandFile(std::string_view commandLine);
// Whether the program of a command line exists (shell words count as yes).
bool CommandTargetExists(std::string_view commandLine);

} // namespace quenlo
