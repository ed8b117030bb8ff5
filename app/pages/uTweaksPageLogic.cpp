#include "app/pages/uTweaksPageLogic.h"

#include <algorithm>

namespace quenlo {

namespace {

constexpr int kRowsDigits = 1;
constexpr int kDelayDigits = 5;

bool IsNumeric(int id) {
  return TweakDef(id).numeric;
}

} // namespace

TTweaksPageLogic::TTweaksPageLogic(ITweakStore &store, const TTweakEnvironment &env,
                                   const TTweaksPageServices &services)
    : store_(store), env_(env), services_(services), shown_(ShownTweaks(env.windowsVersion)) {}

void TTweaksPageLogic::Load() {
  loaded_ = ReadAllTweaks(store_);
  for (std::size_t at = 0; at < loaded_.size(); ++at)
    current_[at] = {loaded_[at].ticked, loaded_[at].value};
  snapshot_ = current_;
  modified_.fill(false);
  selected_.reset();
  RecheckPage();
}

bool TTweaksPageLogic::IsShown(int id) const {
  return std::find(shown_.begin(), shown_.end(), id) != shown_.end();
}

bool TTweaksPageLogic::Enabled(int id) const {
  if (!IsShown(id))
    return false;
  // Minimizing a ribbon that is switched off means nothing; without Aero
  // there is neither Peek nor a thumbnail delay.
  if (id == twRibbonMinimized && IsShown(twRibbon) && Ticked(twRibbon))
    return false;
  if ((id == twThumbnailDelay || id == twPeekDelay) && IsShown(twAero) && Ticked(twAero))
    return false;
  return true;
}

TTweakBox TTweaksPageLogic::Box(int id) const {
  return {.id = id,
          .group = TweakGroup(id),
          .name = std::string(TweakName(id, env_.windowsVersion)),
          .description = std::string(TweakDescription(id, env_.windowsVersion)),
          .ticked = Ticked(id),
          .enabled = Enabled(id)};
}

void TTweaksPageLogic::Recheck(int id) {
  const TTweakWish &now = current_[Index(id)];
  const TTweakWish &then = snapshot_[Index(id)];
  modified_[Index(id)] = IsNumeric(id) ? now.value != then.value : now.ticked != then.ticked;
  RecheckPage();
}

void TTweaksPageLogic::RecheckPage() {
  std::vector<int> modified;
  for (int id = 0; id < kTweakCount; ++id)
    if (modified_[Index(id)])
      modified.push_back(id);
  applyAvailable_ = !modified.empty();
  pending_ = RestartKindOf(modified);
}

void TTweaksPageLogic::SetTicked(int id, bool ticked) {
  if (!Enabled(id))
    return;
  selected_ = id;
  TTweakWish &now = current_[Index(id)];
  now.ticked = ticked;
  if (IsNumeric(id) && !ticked)
    now.value = snapshot_[Index(id)].value;
  Recheck(id);
}

void TTweaksPageLogic::Select(int id) {
  if (IsShown(id))
    selected_ = id;
}

TNumberEditor TTweaksPageLogic::Editor() const {
  TNumberEditor editor;
  if (!selected_ || !IsNumeric(*selected_))
    return editor;
  const int id = *selected_;
  editor.visible = true;
  editor.enabled = Ticked(id) && Enabled(id);
  const bool rows = id == twStartRows;
  editor.caption = std::string(rows ? kRowsCaption : kDelayCaption);
  editor.unit = rows ? std::string() : std::string(kDelayUnit);
  editor.maximum = TweakMaximum(id, env_);
  editor.digits = rows ? kRowsDigits : kDelayDigits;
  editor.typedDigitReplaces = rows;
  editor.text = std::to_string(Value(id));
  return editor;
}

bool TTweaksPageLogic::EditorAccepts(char c) {
  constexpr char kBackspace = '\b';
  return (c >= '0' && c <= '9') || c == kBackspace;
}

std::string TTweaksPageLogic::EditNumber(std::string_view text) {
  const TNumberEditor editor = Editor();
  if (!editor.visible)
    return {};
  if (!editor.enabled)
    return editor.text;
  std::int64_t number = 0;
  const bool negative = text.find('-') != std::string_view::npos;
  if (!negative) {
    for (const char c : text) {
      if (c < '0' || c > '9')
        continue;
      number = std::min<std::int64_t>(number * 10 + (c - '0'), editor.maximum);
    }
  }
  const int id = *selected_;
  current_[Index(id)].value =
      static_cast<std::int32_t>(std::min<std::int64_t>(number, editor.maximum));
  Recheck(id);
  return std::to_string(Value(id));
}

bool TTweaksPageLogic::UacDeclined() {
  const TPrompt warning{.text = std::string(kTweaksUacWarning),
                        .buttons = TMsgButtons::YesNo,
                        .icon = TMsgIcon::Warning,
                        .defaultButton = TMsgDefault::Second};
  return services_.prompter.Ask(warning) != TMsgAnswer::Yes;
}

TTweaksApplyReport TTweaksPageLogic::Apply() {
  TTweaksApplyReport report;
  report.ran = true;
  std::array<std::optional<TTweakWish>, kTweakCount> wishes{};
  for (const int id : shown_) {
    if (!modified_[Index(id)])
      continue;
    // Switching User Account Control off is asked once more.
    if (id == twUac && Ticked(id) && UacDeclined()) {
      report.declined.push_back(id);
      continue;
    }
    wishes[Index(id)] = current_[Index(id)];
  }

  const TTweakApplyResult result = ApplyTweaks(store_, wishes, loaded_);
  for (const int id : result.written) {
    snapshot_[Index(id)] = current_[Index(id)];
    modified_[Index(id)] = false;
  }
  report.written = result.written;
  report.failed = result.failed;
  RecheckPage();

  if (!result.failed.empty()) {
    std::string text(kTweaksFailedHeader);
    for (const TTweakFailure &failure : result.failed)
      text += "\r\n" + std::string(TweakName(failure.id, env_.windowsVersion)) + ": " +
              failure.errorText;
    services_.prompter.Ask({.text = text, .buttons = TMsgButtons::Ok, .icon = TMsgIcon::Error});
  }

  // Only what was written needs the restart.
  report.asked = RestartKindOf(result.written);
  if (report.asked == rkNone)
    return report;
  const TPrompt question{.text = std::string(report.asked == rkRestart ? kTweaksRestartQuestion
                                                                       : kTweaksLogOffQuestion),
                         .buttons = TMsgButtons::YesNo,
                         .icon = TMsgIcon::Question};
  if (services_.prompter.Ask(question) != TMsgAnswer::Yes)
    return report;
  report.restartRequested = true;
  if (!services_.restart.Restart()) {
    report.restartFailed = true;
    services_.prompter.Ask({.text = std::string(kTweaksRestartFailed),
                            .buttons = TMsgButtons::Ok,
                            .icon = TMsgIcon::Error});
  }
  return report;
}

TTweaksApplyReport TTweaksPageLogic::OsDefaults() {
  const TPrompt question{.text = std::string(kTweaksOsDefaultsQuestion),
                         .buttons = TMsgButtons::YesNo,
                         .icon = TMsgIcon::Question};
  if (services_.prompter.Ask(question) != TMsgAnswer::Yes)
    return {};
  for (const int id : shown_) {
    current_[Index(id)] = OsDefaultWish(id, current_[Index(id)], loaded_[Index(id)], env_);
    Recheck(id);
  }
  return Apply();
}

} // namespace quenlo
