#include "uPrompter.h"

#include "platform/win32/WinText.h"

namespace quenlo::ui {

UINT TMessageBoxPrompter::Flags(const TPrompt &prompt) {
  UINT flags = MB_SETFOREGROUND;
  switch (prompt.buttons) {
  case TMsgButtons::Ok:
    flags |= MB_OK;
    break;
  case TMsgButtons::OkCancel:
    flags |= MB_OKCANCEL;
    break;
  case TMsgButtons::YesNo:
    flags |= MB_YESNO;
    break;
  case TMsgButtons::YesNoCancel:
    flags |= MB_YESNOCANCEL;
    break;
  case TMsgButtons::AbortRetryIgnore:
    flags |= MB_ABORTRETRYIGNORE;
    break;
  }
  switch (prompt.icon) {
  case TMsgIcon::None:
    break;
  case TMsgIcon::Error:
    flags |= MB_ICONERROR;
    break;
  case TMsgIcon::Warning:
    flags |= MB_ICONWARNING;
    break;
  case TMsgIcon::Question:
    flags |= MB_ICONQUESTION;
    break;
  case TMsgIcon::Information:
    flags |= MB_ICONINFORMATION;
    break;
  }
  switch (prompt.defaultButton) {
  case TMsgDefault::First:
    flags |= MB_DEFBUTTON1;
    break;
  case TMsgDefault::Second:
    flags |= MB_DEFBUTTON2;
    break;
  case TMsgDefault::Third:
    flags |= MB_DEFBUTTON3;
    break;
  }
  return flags;
}

TMsgAnswer TMessageBoxPrompter::Answer(int result, TMsgButtons buttons) {
  switch (result) {
  case IDOK:
    return TMsgAnswer::Ok;
  case IDCANCEL:
    return TMsgAnswer::Cancel;
  case IDYES:
    return TMsgAnswer::Yes;
  case IDNO:
    return TMsgAnswer::No;
  case IDABORT:
    return TMsgAnswer::Abort;
  case IDRETRY:
    return TMsgAnswer::Retry;
  case IDIGNORE:
    return TMsgAnswer::Ignore;
  default:
    break;
  }
  // MessageBoxW failed (0): answer as a box closed without a button would.
  switch (buttons) {
  case TMsgButtons::OkCancel:
  case TMsgButtons::YesNoCancel:
    return TMsgAnswer::Cancel;
  case TMsgButtons::YesNo:
    return TMsgAnswer::No;
  case TMsgButtons::AbortRetryIgnore:
    return TMsgAnswer::Abort;
  case TMsgButtons::Ok:
    break;
  }
  return TMsgAnswer::Ok;
}

std::wstring TMessageBoxPrompter::Text(const std::string &utf8) {
  const std::wstring wide = qp::win32::Wide(utf8);
  std::wstring text;
  text.reserve(wide.size() + 8);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    text.push_back(wide[i]);
    if (wide[i] == L'\r' && (i + 1 >= wide.size() || wide[i + 1] != L'\n'))
      text.push_back(L'\n');
  }
  return text;
}

TMsgAnswer TMessageBoxPrompter::Ask(const TPrompt &prompt) {
  const HWND owner = owner_ ? owner_() : nullptr;
  const std::wstring caption = qp::win32::Wide(kAppTitle);
  // Without an owner the box still blocks every window of this thread.
  const UINT flags = Flags(prompt) | (owner == nullptr ? MB_TASKMODAL : 0u);
  const int result = ::MessageBoxW(owner, Text(prompt.text).c_str(), caption.c_str(), flags);
  return Answer(result, prompt.buttons);
}

} // namespace quenlo::ui
