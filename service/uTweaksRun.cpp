#include "service/uTweaksRun.h"

#include <algorithm>

#include "app/uEnvironment.h"
#include "service/uUndoRestore.h"

namespace quenlo::service {

namespace {

constexpr int kCliScreenWidth = 1024;
constexpr int kCliScreenHeight = 768;

using TWishes = std::array<std::optional<TTweakWish>, kTweakCount>;

bool Changes(int id, const TTweakWish &wish, const TTweakReading &read) {
  return TweakDef(id).numeric ? wish.value != read.value : wish.ticked != read.ticked;
}

} // namespace

TTweakEnvironment CurrentTweakEnvironment() {
  return {.windowsVersion = WindowsVersion,
          .screenWidth = kCliScreenWidth,
          .screenHeight = kCliScreenHeight};
}

TUndoFolder TweaksUndoFolder() {
  std::string root = StandardUndoFolder();
  if (root.empty() || root.back() != '\\')
    root += '\\';
  return {.root = root, .clock = {}};
}

std::vector<TTweakLine> ListTweaks(ITweakStore &store, const TTweakEnvironment &env) {
  std::vector<TTweakLine> lines;
  for (int id = 0; id < kTweakCount; ++id) {
    const TTweakReading read = store.Read(id);
    const TTweakDef &def = TweakDef(id);
    lines.push_back({.id = id,
                     .name = std::string(TweakName(id, env.windowsVersion)),
                     .shown = TweakShown(id, env.windowsVersion),
                     .ticked = read.ticked,
                     .value = read.value,
                     .numeric = def.numeric,
                     .readFailed = read.readFailed,
                     .restart = def.restart});
  }
  return lines;
}

TTweakApplyResult SetTweak(ITweakStore &store, const TTweakEnvironment &env,
                           const TTweakRequest &request) {
  const int id = request.id;
  TTweakReadings loaded{};
  loaded[static_cast<std::size_t>(id)] = store.Read(id);
  const TTweakReading &read = loaded[static_cast<std::size_t>(id)];
  TTweakWish wish{request.ticked, read.value};
  if (request.number)
    wish = {true, std::clamp(*request.number, 0, TweakMaximum(id, env))};
  else if (TweakDef(id).numeric && !request.ticked)
    wish = OsDefaultWish(id, {read.ticked, read.value}, read, env);
  TWishes wishes{};
  if (Changes(id, wish, read))
    wishes[static_cast<std::size_t>(id)] = wish;
  return ApplyTweaks(store, wishes, loaded);
}

TTweakApplyResult DefaultTweaks(ITweakStore &store, const TTweakEnvironment &env) {
  const TTweakReadings loaded = ReadAllTweaks(store);
  TWishes wishes{};
  for (const int id : ShownTweaks(env.windowsVersion)) {
    const TTweakReading &read = loaded[static_cast<std::size_t>(id)];
    const TTweakWish wish = OsDefaultWish(id, {read.ticked, read.value}, read, env);
    if (Changes(id, wish, read))
      wishes[static_cast<std::size_t>(id)] = wish;
  }
  return ApplyTweaks(store, wishes, loaded);
}

} // namespace quenlo::service
