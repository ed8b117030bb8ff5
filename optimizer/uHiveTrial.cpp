#include "optimizer/uHiveTrial.h"

#include <vector>

#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

constexpr std::string_view kTrialKeyPrefix = "Quenlo-check-";
// Names tried for the trial key before giving up.
constexpr int kTrialKeyAttempts = 1000;

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

std::string CallError(std::string_view call, long status) {
  return std::string(call) + ": " + SysErrorMessage(status);
}

// A subkey of HKLM no one uses.
bool FreeTrialKey(std::string &name) {
  for (int n = 0; n < kTrialKeyAttempts; ++n) {
    name = std::string(kTrialKeyPrefix) + std::to_string(n);
    ScopedKey probe;
    if (Reg().OpenKey(wc::HkeyLocalMachine, name, wc::KeyRead | ViewFlag(rv64), probe.Out()) ==
        wc::ErrorFileNotFound)
      return true;
  }
  return false;
}

} // namespace

bool LiveTopKeys(std::uint32_t root, std::string_view path, std::set<std::string> &names,
                 std::string &errorText) {
  names.clear();
  TRegistryAccess reg(wc::KeyRead);
  reg.SetView(rv64);
  reg.SetRootKey(root);
  if (!reg.OpenKey(path, false)) {
    errorText = CallError("RegOpenKeyEx", reg.LastStatus());
    return false;
  }
  std::vector<std::string> list;
  if (!reg.GetKeyNames(list)) {
    errorText = "RegEnumKeyEx failed";
    return false;
  }
  for (const std::string &name : list)
    names.insert(qp::UpperAscii(name));
  return true;
}

bool SavedTopKeys(const std::string &file, std::set<std::string> &names, std::string &errorText) {
  names.clear();
  std::string trialKey;
  if (!FreeTrialKey(trialKey)) {
    errorText = "no free key for the trial load below HKEY_LOCAL_MACHINE";
    return false;
  }
  const long loaded = Reg().LoadKey(wc::HkeyLocalMachine, trialKey, file);
  long unloadStatus = 0;
  auto unload = qp::ScopeExit(
      [&]() noexcept { unloadStatus = Reg().UnLoadKey(wc::HkeyLocalMachine, trialKey); });
  if (loaded != wc::ErrorSuccess) {
    errorText = CallError("RegLoadKey", loaded);
    return false;
  }
  const bool listed = LiveTopKeys(wc::HkeyLocalMachine, trialKey, names, errorText);
  // Every handle below the trial key is closed by now: UnLoadKey needs it.
  unload.RunNow();
  if (unloadStatus != wc::ErrorSuccess) {
    errorText = CallError("RegUnLoadKey", unloadStatus);
    return false;
  }
  return listed;
}

} // namespace quenlo
