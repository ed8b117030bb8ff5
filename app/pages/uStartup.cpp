#include "app/pages/uStartup.h"

#include "app/uEnvironment.h"
#include "platform/ScopeGuard.h"

namespace quenlo {

TStartSwitch ParseStartSwitch(std::string_view firstArgument, bool present) {
  if (!present)
    return ssNone;
  if (firstArgument == "autoscan")
    return ssAutoScan;
  if (firstArgument == "monitor")
    return ssMonitor;
  if (firstArgument == "startscan")
    return ssStartScan;
  return ssUnknown;
}

TStartSwitch ParseStartSwitch(const std::vector<std::string> &arguments) {
  if (arguments.empty())
    return ssNone;
  return ParseStartSwitch(arguments.front(), true);
}

TRestoreAction RestoreCommandAction(std::uintptr_t wParam, int windowsVersion) {
  switch (wParam) {
  case rcShow:
    return TRestoreAction::Show;
  case rcEnableTimer:
    return TRestoreAction::EnableTimer;
  case rcShowStatus:
    return windowsVersion < WindowsVista ? TRestoreAction::ShowStatus : TRestoreAction::None;
  default:
    return TRestoreAction::None;
  }
}

TStartAction DecideStart(const TStartFacts &facts, const std::function<bool()> &autoScanDue) {
  const TStartSwitch start = ParseStartSwitch(facts.arguments);
  if (facts.otherInstance) {
    if (start == ssNone)
      return TStartAction::ActivateOtherAndExit;
    if (start == ssAutoScan)
      return TStartAction::PostRestoreAndExit;
    return TStartAction::Exit;
  }
  if (start == ssAutoScan && !(autoScanDue && autoScanDue()))
    return TStartAction::Exit;
  if (start == ssAutoScan || start == ssMonitor)
    return TStartAction::ContinueHidden;
  return TStartAction::ContinueWithSplash;
}

TStartAction RunStartup(IInstanceChannel &channel, const std::vector<std::string> &arguments,
                        const std::function<bool()> &autoScanDue) {
  // The mutex first: two copies started at once cannot both miss each
  // other's window and both run.
  const bool other = channel.CreateMutexExisted(kInstanceMutexName);
  const TStartAction action =
      DecideStart({.arguments = arguments, .otherInstance = other}, autoScanDue);
  if (action != TStartAction::ActivateOtherAndExit && action != TStartAction::PostRestoreAndExit)
    return action;
  // The other copy may still be starting or be hidden: without a window
  // there is nobody to tell, and this copy ends all the same.
  const std::uintptr_t window = channel.FindOtherWindow();
  if (window == 0)
    return action;
  if (action == TStartAction::ActivateOtherAndExit) {
    channel.Activate(window);
    // A lost post changes nothing: this copy ends either way.
    qp::IgnoreResult(channel.PostRestoreCommand(window, rcShow));
    qp::IgnoreResult(channel.PostRestoreCommand(window, rcShowStatus));
  } else {
    qp::IgnoreResult(channel.PostRestoreCommand(window, rcShow));
  }
  return action;
}

TBroadcastAction BroadcastAction(const TBroadcastFacts &facts) {
  if (!facts.senderIsOurProgram || facts.fromOwnWindow)
    return TBroadcastAction::Ignore;
  if (facts.wParam == bcStarting)
    return TBroadcastAction::AnswerAndComeForward;
  if (facts.wParam == bcAnswer && !facts.mainWindowExists)
    return TBroadcastAction::SendArgumentsAndQuit;
  return TBroadcastAction::Ignore;
}

std::string PackArguments(const std::vector<std::string> &arguments) {
  std::string packed;
  for (const std::string &argument : arguments) {
    packed += argument;
    packed.push_back('\0');
  }
  packed.push_back('\0');
  return packed;
}

} // namespace quenlo
