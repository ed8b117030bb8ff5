#include "platform/Guards.h"

#include "platform/Platform.h"
#include "platform/ScopeGuard.h"

namespace qp {

TFsViewSwitch::TFsViewSwitch(bool wanted) {
  if (wanted)
    switched_ = Platform().Files().SwitchFsView(previous_);
}

TFsViewSwitch::~TFsViewSwitch() {
  if (switched_)
    Platform().Files().RevertFsView(previous_);
}

long AdjustPrivilege(std::string_view name, bool enable, bool *wasEnabled) {
  ISystem &sys = Platform().System();
  VersionInfo version;
  if (sys.GetVersion(version) && version.platformId != wc::VerPlatformWin32Nt) {
    if (wasEnabled != nullptr)
      *wasEnabled = true;
    return wc::ErrorSuccess;
  }
  return sys.SetPrivilege(name, enable, wasEnabled);
}

TPrivilegeScope::TPrivilegeScope(std::string_view name)
    : name_(name), status_(AdjustPrivilege(name, true, &wasEnabled_)) {}

TPrivilegeScope::~TPrivilegeScope() {
  if (Held() && !wasEnabled_)
    IgnoreResult(AdjustPrivilege(name_, false)); // nothing to do if it stays on
}

} // namespace qp
