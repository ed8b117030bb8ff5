// The key selection dialog over Win32: a modal window with the given title,
// the tree of keys under "My Computer" (read as it is expanded, see
// app/pages/uKeyTree.h), a line for a key that could not be read, OK and
// Cancel. OK is enabled only on a key below a root. The arrow keys move and
// expand, Enter is OK, Escape and the close box cancel.
#pragma once

#include <functional>
#include <string>

#include "app/pages/uSettingsPageLogic.h"
#include "platform/win32/WinApi.h"

namespace quenlo::win {

inline constexpr wchar_t kKeySelectDialogClass[] = L"QuenloKeySelectDialog";

class TWin32KeySelectDialog final : public IKeySelector {
public:
  explicit TWin32KeySelectDialog(std::function<HWND()> owner) : owner_(std::move(owner)) {}
  bool SelectKey(const std::string &title, std::string &key) override;

private:
  std::function<HWND()> owner_;
};

} // namespace quenlo::win
