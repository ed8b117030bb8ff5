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

long AdjustPrivilege(std::string_view name, bool enable) {
  ISystem &sys = Platform().System();
  VersionInfo version;
  if (sys.GetVersion(version) && version.platformId != wc::VerPlatformWin32Nt)
    return wc::ErrorSuccess;
  return sys.SetPrivilege(name, enable);
}

TPrivilegeScope::TPrivilegeScope(std::string_view name)
    : name_(name), status_(AdjustPrivilege(name, true)) {}

TPrivilegeScope::~TPrivilegeScope() {
  if (Held())
    IgnoreResult(AdjustPrivilege(name_, false)); // nothing to do if it stays on
}

} // namespace qp
