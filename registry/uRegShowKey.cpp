#include "registry/uRegShowKey.h"

#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::string_view kValueSeparator = "\\\\:";

void AppendChars(std::vector<TKeyStroke> &keys, std::string_view text, bool backslashExpands) {
  for (const char16_t unit : qp::Utf8ToUtf16(text)) {
    if (backslashExpands && unit == u'\\')
      keys.push_back({ksKeyDown, kVkRight});
    else
      keys.push_back({ksChar, static_cast<std::uint32_t>(unit)});
  }
}

} // namespace

bool ParseShowKeyName(std::string_view name, TShowKeyName &out) {
  out = {};
  const auto slash = name.find('\\');
  if (slash == std::string_view::npos)
    return false;
  out.root = RootKeyFromName(name.substr(0, slash));
  if (out.root == 0)
    return false;
  std::string_view rest = name.substr(slash); // from the first backslash on
  const auto value = rest.find(kValueSeparator);
  if (value != std::string_view::npos) {
    out.hasValue = true;
    out.valueName = std::string(rest.substr(value + kValueSeparator.size()));
    rest = rest.substr(0, value);
  }
  out.keyPath = std::string(rest.substr(1));
  out.typedName = RootKeyLongName(out.root) + std::string(rest);
  return true;
}

TShowKeyPlan PlanShowKey(std::string_view name, const TShowKeyEnvironment &env) {
  TShowKeyPlan plan;
  if (!ParseShowKeyName(name, plan.name))
    return plan;
  const std::uint32_t root = plan.name.root;
  const std::string &path = plan.name.keyPath;
  plan.view = env.onWow64 ? rv64 : rv32;
  if (!env.keyExists(root, plan.view, path)) {
    if (env.keyExists(root, rv32, path))
      plan.view = rv32;
    else if (env.keyExists(root, rv64, path))
      plan.view = rv64;
    else
      return plan;
  }
  plan.editor = kEditor;
  if (plan.view == rv32 && !env.sysWow64Editor.empty() && env.fileExists(env.sysWow64Editor)) {
    plan.editor = env.sysWow64Editor;
    plan.closeOpenEditor = true;
  }
  plan.treeKeys.assign(kCollapseKeyCount, {ksKeyDown, kVkLeft});
  plan.treeKeys.push_back({ksKeyDown, kVkRight});
  AppendChars(plan.treeKeys, plan.name.typedName, true);
  if (plan.name.hasValue) {
    plan.listKeys.push_back({ksKeyDown, kVkHome});
    AppendChars(plan.listKeys, plan.name.valueName, false);
  }
  plan.ok = true;
  return plan;
}

} // namespace quenlo
