// The system tweaks as the command line asks for them: the list with each
// tweak's state, one tweak set, and every shown tweak put back to its OS
// default. Each write goes through the tweak engine and so through the undo
// folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "optimizer/uSysTweak.h"

namespace quenlo::service {

// The Windows version of the environment facts (InitEnvironment must have
// run) and a screen for the Start Screen rows: without a window the
// command line takes 1024 x 768, where Windows shows its four default rows.
TTweakEnvironment CurrentTweakEnvironment();
// The standard undo folder as the engine takes it.
TUndoFolder TweaksUndoFolder();

struct TTweakLine {
  int id = 0;
  std::string name;
  bool shown = false; // on this Windows version
  bool ticked = false;
  std::int32_t value = 0;
  bool numeric = false;
  bool readFailed = false;
  TRestartKind restart = rkNone;
};

std::vector<TTweakLine> ListTweaks(ITweakStore &store, const TTweakEnvironment &env);

// One tweak asked for: ticked or not, or (the numeric tweaks) a number,
// which ticks it. "Off" for a numeric tweak is its OS default number.
struct TTweakRequest {
  int id = 0;
  bool ticked = false;
  std::optional<std::int32_t> number;
};

// Writes what the request changes (nothing when the tweak is already so).
TTweakApplyResult SetTweak(ITweakStore &store, const TTweakEnvironment &env,
                           const TTweakRequest &request);
// Puts every shown tweak to its OS default, writing only those it changes.
TTweakApplyResult DefaultTweaks(ITweakStore &store, const TTweakEnvironment &env);

} // namespace quenlo::service
