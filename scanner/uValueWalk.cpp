#include "scanner/uValueWalk.h"

#include "scanner/uSubChecks.h"

namespace quenlo {

bool WalkKeyValues(TScanThread &t, TRegistryAccess &access, bool counting, std::uint32_t root,
                   std::string_view path, TKeyOpen open, const TWalkedValueVisitor &visit) {
  access.SetRootKey(root);
  const bool opened =
      open == TKeyOpen::Checked ? t.OpenCheckedKey(access, path) : t.OpenKey(access, path);
  if (!opened)
    return false;
  if (counting) {
    t.CountValues(access);
  } else {
    access.WalkValues([&](TRegistryAccess &, const std::string &, std::string_view data,
                          TValueKind kind, const std::string &name) {
      if (t.Terminated())
        return false;
      TWalkedValue value{access, name, data, kind, {}};
      if (kind == vkString || kind == vkExpandString || kind == vkMultiString)
        value.text = CutAtNul(data);
      visit(value);
      return !t.Terminated();
    });
  }
  access.CloseKey();
  return true;
}

void WalkStringValues(TScanThread &t, TRegistryAccess &access, bool counting, std::uint32_t root,
                      std::string_view path, const TWalkedValueVisitor &test) {
  WalkKeyValues(t, access, counting, root, path, TKeyOpen::Checked, [&](TWalkedValue &v) {
    t.ReportProgress(v.name);
    if (v.name.empty())
      return;
    if (v.kind != vkString && v.kind != vkExpandString) {
      ReportTypeError(t, v.key, v.name, raDeleteValue);
      return;
    }
    test(v);
  });
}

void ReportWalkedValue(TScanThread &t, const TWalkedValue &v, TRegErrorKind kind,
                       TRepairAction action, std::int32_t testId, TRepairActionSet actions) {
  Report(t, v.key,
         {.data = v.name,
          .keyPath = v.key.CurrentPath(),
          .valueName = v.name,
          .target = v.text,
          .kind = kind,
          .action = action,
          .actions = actions,
          .testId = testId});
}

} // namespace quenlo
