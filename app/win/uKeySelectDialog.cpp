#include "uKeySelectDialog.h"

#include <commctrl.h>

#include <vector>

#include "app/pages/uKeyTree.h"
#include "platform/win32/WinText.h"
#include "ui/uGdi.h"
#include "ui/uWindow.h"

namespace quenlo::win {

namespace {

enum TKeySelectControl : int { kcTree = 300, kcReadError };

// Layout at 96 DPI.
constexpr int kClientWidth = 420;
constexpr int kClientHeight = 460;
constexpr int kMargin = 12;
constexpr int kErrorHeight = 32; // two lines of the reason a key was not read
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;

// The hourglass while a key with many subkeys is read.
class TWaitCursor {
public:
  TWaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
  TWaitCursor(const TWaitCursor &) = delete;
  TWaitCursor &operator=(const TWaitCursor &) = delete;
  ~TWaitCursor() { ::SetCursor(previous_); }

private:
  HCURSOR previous_;
};

} // namespace

// The dialog's window; lives for one SelectKey.
class TKeySelectWindow final : public ui::TWindow {
public:
  explicit TKeySelectWindow(std::wstring title) : title_(std::move(title)) {}

  [[nodiscard]] bool Open(HWND owner) {
    RegisterOnce(kKeySelectDialogClass, CS_HREDRAW | CS_VREDRAW, ::GetSysColorBrush(COLOR_BTNFACE));
    if (!CreateFrom(ui::TWindowParams{.className = kKeySelectDialogClass,
                                      .text = title_,
                                      .style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                      .exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT,
                                      .parent = owner,
                                      .bounds = RECT{0, 0, 100, 100}}))
      return false;
    treeView_.Reset(::CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
            TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP,
        0, 0, 10, 10, Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kcTree)),
        ::GetModuleHandleW(nullptr), nullptr));
    readError_.Reset(
        ui::CreateControl(Handle(), L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kcReadError, nullptr));
    ok_.Reset(ui::CreateControl(Handle(), L"BUTTON", L"OK",
                                WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, nullptr));
    cancel_.Reset(ui::CreateControl(Handle(), L"BUTTON", L"Cancel",
                                    WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, nullptr));
    if (!treeView_ || !ok_ || !cancel_)
      return false;
    OnDpiChanged();
    const HTREEITEM computer = InsertNode(TVI_ROOT, TKeyTree::kComputer);
    ::SendMessageW(treeView_.Get(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(computer));
    ::SendMessageW(treeView_.Get(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(computer));
    UpdateOk();
    Centre(owner);
    return true;
  }

  // Runs until OK, Cancel or the close box ends it; true when a key was
  // chosen.
  bool RunModal(HWND owner) {
    ui::RunModalLoop(Handle(), owner, treeView_.Get(), done_);
    return accepted_;
  }

  const std::string &Chosen() const { return chosen_; }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        Accept();
        return 0;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        End(false);
        return 0;
      }
      break;
    case DM_GETDEFID:
      // Enter presses OK, and only while OK is enabled.
      return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_NOTIFY: {
      const auto &header = *reinterpret_cast<const NMHDR *>(lParam);
      if (header.hwndFrom == treeView_.Get())
        return OnTreeNotify(header);
      break;
    }
    case WM_CLOSE:
      End(false);
      return 0;
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      break;
    }
    return TWindow::OnMessage(message, wParam, lParam);
  }

  void OnDpiChanged() override {
    font_ = ui::CreateUiFont(Dpi(), ui::TFontStyle{.pixelHeight = 13});
    for (const HWND control : {treeView_.Get(), readError_.Get(), ok_.Get(), cancel_.Get()})
      ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
    Layout();
  }

private:
  void Place(HWND control, int x, int y, int w, int h) const {
    ::MoveWindow(control, Scale(x), Scale(y), Scale(w), Scale(h), TRUE);
  }

  void Layout() {
    const int buttonsY = kClientHeight - kMargin - kButtonHeight;
    const int errorY = buttonsY - kButtonGap - kErrorHeight;
    Place(treeView_.Get(), kMargin, kMargin, kClientWidth - 2 * kMargin,
          errorY - kButtonGap - kMargin);
    Place(readError_.Get(), kMargin, errorY, kClientWidth - 2 * kMargin, kErrorHeight);
    Place(cancel_.Get(), kClientWidth - kMargin - kButtonWidth, buttonsY, kButtonWidth,
          kButtonHeight);
    Place(ok_.Get(), kClientWidth - kMargin - 2 * kButtonWidth - kButtonGap, buttonsY, kButtonWidth,
          kButtonHeight);
    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_EXSTYLE)));
    ::SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Centre(HWND owner) const { ui::CentreOver(Handle(), owner); }

  // A node as an item under parent. A key's expand button is asked for
  // when the item is first painted (TVN_GETDISPINFO), so that listing a
  // key does not open each of its subkeys.
  HTREEITEM InsertNode(HTREEITEM parent, int node) {
    const std::wstring text = qp::win32::Wide(tree_.Name(node));
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t *>(text.c_str());
    insert.item.lParam = node;
    insert.item.cChildren = tree_.Kind(node) == knKey ? I_CHILDRENCALLBACK : 1;
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageW(treeView_.Get(), TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  }

  // The first expand of an item inserts its children; false when it has
  // none (the item then loses its button and stays closed).
  bool FillChildren(HTREEITEM item, int node) {
    const bool filled = ::SendMessageW(treeView_.Get(), TVM_GETNEXTITEM, TVGN_CHILD,
                                       reinterpret_cast<LPARAM>(item)) != 0;
    if (filled)
      return true;
    std::vector<int> children;
    {
      const TWaitCursor wait;
      children = tree_.Children(node);
    }
    ::SetWindowTextW(readError_.Get(), qp::win32::Wide(tree_.ReadError()).c_str());
    ::ShowWindow(readError_.Get(), tree_.ReadError().empty() ? SW_HIDE : SW_SHOW);
    ::SendMessageW(treeView_.Get(), WM_SETREDRAW, FALSE, 0);
    for (const int child : children)
      InsertNode(item, child);
    ::SendMessageW(treeView_.Get(), WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(treeView_.Get(), nullptr, TRUE);
    if (!children.empty())
      return true;
    TVITEMW none{};
    none.mask = TVIF_HANDLE | TVIF_CHILDREN;
    none.hItem = item;
    none.cChildren = 0;
    ::SendMessageW(treeView_.Get(), TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&none));
    return false;
  }

  LRESULT OnTreeNotify(const NMHDR &header) {
    switch (header.code) {
    case TVN_GETDISPINFOW: {
      auto &info = const_cast<NMTVDISPINFOW &>(reinterpret_cast<const NMTVDISPINFOW &>(header));
      if ((info.item.mask & TVIF_CHILDREN) != 0)
        info.item.cChildren = tree_.Expandable(static_cast<int>(info.item.lParam)) ? 1 : 0;
      return 0;
    }
    case TVN_ITEMEXPANDINGW: {
      const auto &change = reinterpret_cast<const NMTREEVIEWW &>(header);
      if ((change.action & TVE_EXPAND) == 0)
        return FALSE;
      // TRUE keeps a key without subkeys closed.
      return FillChildren(change.itemNew.hItem, static_cast<int>(change.itemNew.lParam)) ? FALSE
                                                                                         : TRUE;
    }
    case TVN_SELCHANGEDW:
      UpdateOk();
      return 0;
    default:
      return 0;
    }
  }

  // The selected item's node; -1 when nothing is selected.
  int SelectedNode() const {
    const auto item = reinterpret_cast<HTREEITEM>(
        ::SendMessageW(treeView_.Get(), TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (item == nullptr)
      return -1;
    TVITEMW read{};
    read.mask = TVIF_HANDLE | TVIF_PARAM;
    read.hItem = item;
    if (::SendMessageW(treeView_.Get(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read)) == FALSE)
      return -1;
    return static_cast<int>(read.lParam);
  }

  bool SelectionChoosable() const {
    const int node = SelectedNode();
    return node >= 0 && tree_.Selectable(node);
  }

  void UpdateOk() { ::EnableWindow(ok_.Get(), SelectionChoosable() ? TRUE : FALSE); }

  // OK, by its button or Enter: only a key below a root is taken.
  void Accept() {
    if (!SelectionChoosable())
      return;
    chosen_ = tree_.Path(SelectedNode());
    End(true);
  }

  void End(bool accepted) {
    accepted_ = accepted;
    done_ = true;
  }

  std::wstring title_;
  TRegistryKeyTreeSource source_;
  TKeyTree tree_{source_};
  // Declared before the controls, so it outlives them.
  ui::UniqueGdi font_;
  ui::UniqueHwnd treeView_;
  ui::UniqueHwnd readError_;
  ui::UniqueHwnd ok_;
  ui::UniqueHwnd cancel_;
  std::string chosen_;
  bool done_ = false;
  bool accepted_ = false;
};

bool TWin32KeySelectDialog::SelectKey(const std::string &title, std::string &key) {
  const HWND owner = owner_();
  TKeySelectWindow dialog(qp::win32::Wide(title));
  if (!dialog.Open(owner))
    return false;
  if (!dialog.RunModal(owner))
    return false;
  key = dialog.Chosen();
  return true;
}

} // namespace quenlo::win
