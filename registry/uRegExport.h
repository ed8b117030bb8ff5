// Export and import of registry keys as ".REG" files: selected values of one
// key through the program's own writer, whole keys through the system's
// registry editor, silent import through the registry editor, and splitting
// REG_MULTI_SZ data.
//
// The registry editor is judged by its exit code and, because some editors
// report success for work they did not do (or did only in part), also by the
// result: an export is read back and compared with the key, an import is
// compared with the registry afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/uRegAccess.h"

namespace quenlo {

// Largest value the exports accept, in bytes.
inline constexpr std::size_t MaxExportDataSize = 65535;

// An open key whose values are exported. The root, view and path name it in
// the file, spelled as the registry stores it in that view.
struct TExportedKey {
  std::uint32_t root = 0;
  TRegistryView view = rv64;
  qp::HKey handle = 0;
  std::string_view path;
};

// Writes the named values of the open key to a ".REG" file (see uRegFile.h
// for the format). True when every listed value was written; on false the
// error text names the last problem and no file is left behind.
[[nodiscard]] bool ExportValues(std::string &errorText, const TExportedKey &key,
                                const std::vector<std::string> &names, std::string_view filePath);
[[nodiscard]] bool ExportValue(std::string &errorText, const TExportedKey &key,
                               std::string_view name, std::string_view filePath);

// Writes a key and its whole subtree in a view with the program's own writer.
[[nodiscard]] bool ExportKeyTree(std::string &errorText, std::uint32_t root, TRegistryView view,
                                 std::string_view filePath, std::string_view keyPath);

// Exports a key and its subtree with the registry editor of the view. The
// program's own writer is used instead when the key path cannot be passed on
// a command line safely (it holds a double quote or a control character),
// when no editor sees the view (the 32-bit view on 64-bit Windows without a
// 32-bit editor), and when the editor's file does not hold exactly what the
// key holds.
[[nodiscard]] bool ExportKeyWithRegedit(std::string &errorText, std::uint32_t root,
                                        TRegistryView view, std::string_view filePath,
                                        std::string_view keyPath);

// Imports a file silently: with use64 by the native editor; without it by the
// 32-bit editor when it exists, else, on 64-bit Windows, by "reg.exe import
// ... /reg:32", else by the native editor. True when the program exited with
// 0 and the registry then holds exactly what the file says; what the editor
// left out or changed is written by the program itself. A file the program
// cannot read is refused before any editor runs.
[[nodiscard]] bool ImportRegFile(bool use64, std::string_view filePath);
[[nodiscard]] bool ImportRegFile(bool use64, std::string_view filePath, std::string &errorText);

// The editors: "%systemroot%\Regedit.exe" and, when it exists,
// "%systemroot%\Syswow64\Regedit.exe" (empty otherwise).
std::string NativeRegeditPath();
std::string Regedit32Path();

// Appends each NUL-terminated UTF-16 string of REG_MULTI_SZ data (as UTF-8)
// to the list, stopping at an empty string or when size bytes are consumed.
void SplitMultiString(const qp::Bytes &data, std::size_t size, std::vector<std::string> &list);

} // namespace quenlo
