// IPrompter over MessageBoxW. The caption is always "Quenlo"; the texts'
// bare CRs (the page logic writes line breaks as "\r") become CR LF so that
// every system breaks the line.
#pragma once

#include <functional>

#include "app/pages/uPageServices.h"
#include "platform/win32/WinApi.h"

namespace quenlo::ui {

class TMessageBoxPrompter final : public IPrompter {
public:
  // owner: the window the box is modal to (asked at each prompt, may be null).
  explicit TMessageBoxPrompter(std::function<HWND()> owner) : owner_(std::move(owner)) {}
  TMsgAnswer Ask(const TPrompt &prompt) override;

  // How a prompt maps to MessageBoxW's flags and back; exposed for the
  // other windows that answer in the same terms.
  static UINT Flags(const TPrompt &prompt);
  static TMsgAnswer Answer(int result, TMsgButtons buttons);
  static std::wstring Text(const std::string &utf8);

private:
  std::function<HWND()> owner_;
};

} // namespace quenlo::ui
