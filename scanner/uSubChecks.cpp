#include "scanner/uSubChecks.h"
#include "platform/ScopeGuard.h"

#include <vector>

#include "paths/uPaths.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kStartRoots[] = {wc::HkeyLocalMachine, wc::HkeyCurrentUser};

std::string Join(const std::string &path, std::string_view name) {
  std::string out;
  out.reserve(path.size() + 1 + name.size());
  out += path;
  out += '\\';
  out += name;
  return out;
}

// Subkey names of root\path opened plainly on work; empty when it cannot be
// opened.
std::vector<std::string> SubKeysOf(TScanThread &t, TRegistryAccess &work, const std::string &path) {
  std::vector<std::string> names;
  if (t.OpenKey(work, path))
    qp::IgnoreResult(work.GetKeyNames(names));
  return names;
}

bool IsIconSelfReference(const std::string &value) {
  return value == "%1" || value == "\"%1\"";
}

} // namespace

// --- walking

void CopyRootAndView(TRegistryAccess &to, const TRegistryAccess &from) {
  to.SetRootKey(from.RootKey());
  to.SetAccess(from.Access());
}

void WalkStartKey(TScanThread &t, TRegistryAccess &access, bool counting, std::uint32_t root,
                  std::string_view path, const TItemVisitor &visit) {
  access.SetRootKey(root);
  if (!t.OpenKey(access, path))
    return;
  if (counting) {
    t.CountSubKeys(access, 1);
    access.CloseKey();
    return;
  }
  TRegistryAccess work(access.Access());
  CopyRootAndView(work, access);
  access.WalkSubKeys(false, 0, [&](TRegistryAccess &item, const std::string &sub) {
    if (t.Terminated())
      return wrStop;
    t.ReportProgress(sub);
    visit(item, work, sub);
    return t.Terminated() ? wrStop : wrDescend;
  });
  access.CloseKey();
}

void WalkStartKeys(TScanThread &t, TRegistryAccess &access, bool counting, std::string_view path,
                   const TItemVisitor &visit) {
  for (const std::uint32_t root : kStartRoots) {
    if (t.Terminated())
      return;
    WalkStartKey(t, access, counting, root, path, visit);
  }
}

// --- small tests

bool IsValidClass(TScanThread &t, TRegistryView view, std::string_view id) {
  return t.ClsidExists(view, id);
}

bool KeyBelowExists(std::uint32_t root, TRegistryView view, std::string_view prefix,
                    std::string_view name) {
  if (name.empty())
    return false;
  std::string path;
  path.reserve(prefix.size() + name.size());
  path += prefix;
  path += name;
  return KeyExists(root, view, path);
}

bool MatchesClassIdMask(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}')
    return false;
  for (const std::size_t pos : {9u, 14u, 19u, 24u})
    if (text[pos] != '-')
      return false;
  return true;
}

bool RefusedIn64BitView(const TRegistryAccess &key) {
  return key.IsView64() && IsKeyReflected(key);
}

std::string ItemTextOf(TScanThread &t, TRegistryAccess &key, TRepairAction wrongType) {
  std::string text;
  t.ReadStringValue(text, key, wrongType, "");
  if (text.empty())
    text = KeyTail(key.CurrentPath(), 0);
  return text;
}

// --- reports

void Report(TScanThread &t, const TRegistryAccess &at, const TFinding &finding) {
  t.AddError(at.RootKey(), at.View(), finding);
}

void ReportTypeError(TScanThread &t, const TRegistryAccess &key, const std::string &valueName,
                     TRepairAction action) {
  if (t.CountTest(true))
    Report(t, key,
           {.data = valueName,
            .keyPath = key.CurrentPath(),
            .valueName = valueName,
            .target = "REG_SZ or REG_EXPAND_SZ",
            .kind = ekInvalidValueType,
            .action = action,
            .testId = 83});
}

// --- default value of a sub-key

void CheckDefaultValue(TScanThread &t, TRegistryAccess &work, const std::string &path,
                       const std::string &data, const TDefaultValueRule &rule,
                       const TValuePredicate &isBad) {
  if (!t.OpenCheckedKey(work, path))
    return;
  if (t.CountTest(!work.ValueExists(""))) {
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .kind = rule.kind,
            .action = rule.missingAction,
            .actions = rule.actions,
            .testId = rule.missingTest});
    return;
  }
  std::string value;
  if (!t.ReadStringValue(value, work, rule.wrongType, ""))
    return;
  if (t.CountTest(isBad(value)))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .target = value,
            .kind = rule.kind,
            .action = rule.badAction,
            .actions = rule.actions,
            .testId = rule.badTest});
}

// --- shared sub-checks

void CheckDefaultIcon(TScanThread &t, TRegistryAccess &work, const std::string &keyPath,
                      const std::string &data) {
  static const TDefaultValueRule rule{.missingTest = 23,
                                      .badTest = 24,
                                      .kind = ekInvalidIconPath,
                                      .missingAction = raDeleteKey,
                                      .badAction = raDeleteKey,
                                      .wrongType = raDeleteKey,
                                      .actions = TRepairActionSet(0x0101)};
  CheckDefaultValue(t, work, Join(keyPath, "DefaultIcon"), data, rule,
                    [](const std::string &value) {
                      if (IsIconSelfReference(value))
                        return false;
                      return value.empty() || !FileReferenceExists(ExtractIconFile(value));
                    });
  work.CloseKey();
}

void CheckShellVerbs(TScanThread &t, TRegistryAccess &work, const std::string &shellPath,
                     const std::string &data) {
  static const TDefaultValueRule rule{.missingTest = 67,
                                      .badTest = 68,
                                      .kind = ekInvalidShellCommand,
                                      .missingAction = raDeleteKey,
                                      .badAction = raDeleteKey,
                                      .wrongType = raDeleteKey};
  const TRegistryView view = work.View();
  for (const std::string &verb : SubKeysOf(t, work, shellPath)) {
    CheckDefaultValue(t, work, Join(Join(shellPath, verb), "Command"), data, rule,
                      [&](const std::string &command) {
                        if (!command.empty())
                          return !CommandTargetExists(command);
                        // A verb carried out by a COM object has no command
                        // line of its own; the object must be registered.
                        const std::string delegate = work.ReadString("DelegateExecute");
                        return !IsValidClass(t, view, delegate);
                      });
  }
}

void CheckShellNew(TScanThread &t, TRegistryAccess &work, const std::string &shellNewPath,
                   const std::string &data) {
  if (!t.OpenCheckedKey(work, shellNewPath))
    return;
  std::string value;
  if (t.ReadStringValue(value, work, raDeleteValue, "Command") &&
      t.CountTest(!CommandTargetExists(value)))
    Report(t, work,
           {.data = data,
            .keyPath = shellNewPath,
            .valueName = "Command",
            .target = value,
            .kind = ekInvalidShellCommand,
            .action = raDeleteValue,
            .testId = 38});
  if (t.ReadStringValue(value, work, raDeleteValue, "FileName")) {
    const std::string file =
        value.find('\\') == std::string::npos ? "%windir%\\shellnew\\" + value : value;
    if (t.CountTest(value.empty() || !FileReferenceExists(file)))
      Report(t, work,
             {.data = data,
              .keyPath = shellNewPath,
              .valueName = "FileName",
              .target = value,
              .kind = ekInvalidPath,
              .action = raDeleteValue,
              .testId = 39});
  }
}

void CheckHandlerClass(TScanThread &t, TRegistryAccess &work, const std::string &handlerPath,
                       const std::string &data) {
  if (!t.OpenCheckedKey(work, handlerPath))
    return;
  std::string id = KeyTail(handlerPath, 0);
  if (!MatchesClassIdMask(id)) {
    if (!t.ReadStringValue(id, work, raDeleteKey, ""))
      id.clear();
  }
  if (t.CountTest(!IsValidClass(t, work.View(), id)))
    Report(t, work,
           {.data = data,
            .keyPath = handlerPath,
            .target = id,
            .kind = ekInvalidClassId,
            .action = raDeleteKey,
            .testId = 44});
}

void CheckShellExtensionHandlers(TScanThread &t, TRegistryAccess &work,
                                 const std::string &shellExPath, const std::string &data) {
  static constexpr std::string_view kLists[] = {"ColumnHandlers", "ContextMenuHandlers",
                                                "CopyHookHandlers", "DragDropHandlers",
                                                "PropertySheetHandlers"};
  static constexpr std::string_view kSingles[] = {"DataHandler", "DropHandler", "IconHandler",
                                                  "PropertyHandler"};
  for (const std::string_view list : kLists) {
    const std::string listPath = Join(shellExPath, list);
    for (const std::string &name : SubKeysOf(t, work, listPath))
      CheckHandlerClass(t, work, Join(listPath, name), data);
  }
  for (const std::string_view single : kSingles)
    CheckHandlerClass(t, work, Join(shellExPath, single), data);
}

void CheckOpenWithList(TScanThread &t, TRegistryAccess &work, const std::string &listPath,
                       const std::string &data) {
  const TRegistryView view = work.View();
  const std::uint32_t root = work.RootKey();
  for (const std::string &name : SubKeysOf(t, work, listPath)) {
    const std::string sub = Join(listPath, name);
    const std::string shell = Join(sub, "shell");
    if (KeyExists(root, view, shell)) {
      CheckShellVerbs(t, work, shell, data);
    } else if (t.CountTest(!KeyBelowExists(wc::HkeyClassesRoot, view, "Applications\\", name))) {
      Report(t, work,
             {.data = data,
              .keyPath = sub,
              .target = name,
              .kind = ekInvalidOpenWithListKey,
              .action = raDeleteKey,
              .testId = 60});
    }
  }
}

void CheckOpenWithProgids(TScanThread &t, TRegistryAccess &work, const std::string &listPath,
                          const std::string &data) {
  const TRegistryView view = work.View();
  for (const std::string &name : SubKeysOf(t, work, listPath)) {
    if (t.CountTest(!KeyExists(wc::HkeyClassesRoot, view, name)))
      Report(t, work,
             {.data = data,
              .keyPath = Join(listPath, name),
              .target = name,
              .kind = ekInvalidOpenWithProgId,
              .action = raDeleteKey,
              .testId = 61});
  }
}

void CheckIndirectString(TScanThread &t, TRegistryAccess &key, const std::string &valueName,
                         const std::string &data) {
  std::string value;
  if (!t.ReadStringValue(value, key, raDeleteValue, valueName))
    return;
  bool bad = value.empty();
  if (!bad && value.front() == '@')
    bad = !FileReferenceExists(ExpandEnvPath(ExtractIconFile(value.substr(1))));
  if (t.CountTest(bad))
    Report(t, key,
           {.data = data,
            .keyPath = key.CurrentPath(),
            .valueName = valueName,
            .target = value,
            .kind = ekInvalidIndirectString,
            .action = raDeleteValue,
            .testId = 37});
}

void CheckHandlerKey(TScanThread &t, TRegistryAccess &work, const std::string &keyPath,
                     const std::string &data) {
  static const TDefaultValueRule rule{.missingTest = 35,
                                      .badTest = 36,
                                      .kind = ekInvalidClassId,
                                      .missingAction = raDeleteKey,
                                      .badAction = raDeleteKey,
                                      .wrongType = raDeleteValue};
  const TRegistryView view = work.View();
  CheckDefaultValue(t, work, keyPath, data, rule,
                    [&](const std::string &id) { return !IsValidClass(t, view, id); });
}

} // namespace quenlo
