// Pieces shared by the category checks: walking the starting keys of a
// category, the class-ID test, reports, and the sub-checks that several
// categories run on keys they find (DefaultIcon, shell verbs, ShellNew,
// shell extension handlers, Open With lists, indirect strings, handler keys).
//
// Every sub-check takes the scan thread and a working access object whose
// root and access mask (view) are those of the item in hand; it opens the
// keys it needs on that object itself (the object's open key is replaced),
// counts every test it performs and reports failed ones with the given item
// text as Data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "scanner/uScanThread.h"

namespace quenlo {

// --- walking a category's starting keys

// Called for each direct subkey of a starting key: item has no key open and
// carries the walk's root and view; work is a second object with the same
// root and view for sub-key opens; path is the subkey's path below the root.
using TItemVisitor =
    std::function<void(TRegistryAccess &item, TRegistryAccess &work, const std::string &path)>;

// For HKLM, then HKCU: opens root\path plainly and either counts its direct
// subkeys (counting pass) or visits each of them, stopping between items
// once the thread is terminated.
void WalkStartKeys(TScanThread &t, TRegistryAccess &access, bool counting, std::string_view path,
                   const TItemVisitor &visit);
// The same for one root.
void WalkStartKey(TScanThread &t, TRegistryAccess &access, bool counting, std::uint32_t root,
                  std::string_view path, const TItemVisitor &visit);

// A second access object with the root and access mask (view) of another.
void CopyRootAndView(TRegistryAccess &to, const TRegistryAccess &from);

// --- small tests

// Class-ID test: the text is not empty and HKCR "CLSID\" + text exists.
bool IsValidClass(TScanThread &t, TRegistryView view, std::string_view id);
// root prefix + name exists; an empty name never does (the prefix alone is
// not what the entry names).
bool KeyBelowExists(std::uint32_t root, TRegistryView view, std::string_view prefix,
                    std::string_view name);
// "{????????-????-????-????-????????????}": braces and hyphens in place.
bool MatchesClassIdMask(std::string_view text);
// The open key is refused in the 64-bit view (examined in the 32-bit pass).
bool RefusedIn64BitView(const TRegistryAccess &key);
// The default value of the open key (wrong type reported with action), or
// its last path component when that is empty or unreadable.
std::string ItemTextOf(TScanThread &t, TRegistryAccess &key, TRepairAction wrongType);

// --- reports

// AddError for a key or value of the object's root and view.
void Report(TScanThread &t, const TRegistryAccess &at, const TFinding &finding);
// The wrong-type report (test 83) for a value of the open key, counted as a
// failed test.
void ReportTypeError(TScanThread &t, const TRegistryAccess &key, const std::string &valueName,
                     TRepairAction action);

// --- default value of a sub-key

// A key whose default value must exist and name something valid.
struct TDefaultValueRule {
  std::int32_t missingTest; // the key has no default value
  std::int32_t badTest;     // the readable default value fails isBad
  TRegErrorKind kind;
  TRepairAction missingAction;
  TRepairAction badAction;
  TRepairAction wrongType;       // action for a default value of the wrong type
  TRepairActionSet actions = {}; // both reports; empty = only the action
};
using TValuePredicate = std::function<bool(const std::string &value)>;

// Opens path with OpenCheckedKey (nothing when refused or missing); reports
// missingTest when the key has no default value, otherwise runs badTest on a
// readable default value (KeyPath path, Target the value).
void CheckDefaultValue(TScanThread &t, TRegistryAccess &work, const std::string &path,
                       const std::string &data, const TDefaultValueRule &rule,
                       const TValuePredicate &isBad);

// --- shared sub-checks

// DefaultIcon of key K (tests 23, 24).
void CheckDefaultIcon(TScanThread &t, TRegistryAccess &work, const std::string &keyPath,
                      const std::string &data);
// The verbs below a "shell" key: each verb's Command (tests 67, 68).
void CheckShellVerbs(TScanThread &t, TRegistryAccess &work, const std::string &shellPath,
                     const std::string &data);
// A ShellNew key: "Command" (38) and "FileName" (39).
void CheckShellNew(TScanThread &t, TRegistryAccess &work, const std::string &shellNewPath,
                   const std::string &data);
// Handler lists and single handlers below a "ShellEx" key (test 44 each).
void CheckShellExtensionHandlers(TScanThread &t, TRegistryAccess &work,
                                 const std::string &shellExPath, const std::string &data);
// One handler key: its name or default value must be a registered class.
void CheckHandlerClass(TScanThread &t, TRegistryAccess &work, const std::string &handlerPath,
                       const std::string &data);
// Subkeys of an OpenWithList key (test 60, or their own shell verbs).
void CheckOpenWithList(TScanThread &t, TRegistryAccess &work, const std::string &listPath,
                       const std::string &data);
// Subkeys of an OpenWithProgids key (test 61).
void CheckOpenWithProgids(TScanThread &t, TRegistryAccess &work, const std::string &listPath,
                          const std::string &data);
// A value of the open key that may hold "@file,-id" (test 37).
void CheckIndirectString(TScanThread &t, TRegistryAccess &key, const std::string &valueName,
                         const std::string &data);
// A PersistentHandler or CLSID sub-key: its default must be a class (35, 36).
void CheckHandlerKey(TScanThread &t, TRegistryAccess &work, const std::string &keyPath,
                     const std::string &data);

} // namespace quenlo
