// One category line of the scan page: a check box carrying the category's
// name (a standard control, so it is reachable by Tab and named for screen
// readers), and, while scanning and afterwards, the count of problems found
// and a status glyph drawn in code (a green tick for clean, a red mark for
// problems). While scanning the box gives way to the plain name; the count
// is bold when the line says so.
#pragma once

#include <functional>
#include <string>

#include "uWindow.h"

namespace quenlo::ui {

enum class TLineGlyph { None, Clean, Problems };

struct TCategoryLineState {
  std::wstring name;
  bool checked = true;
  bool scanning = false;   // the box gives way to the name
  bool countShown = false; // while scanning and after a scan
  int count = 0;
  bool bold = false; // the count
  TLineGlyph glyph = TLineGlyph::None;
  bool operator==(const TCategoryLineState &) const = default;
};

class TCategoryLine final : public TWindow {
public:
  std::function<void()> OnToggle;
  std::function<void()> OnHover;

  [[nodiscard]] bool Create(HWND parent, int id, HFONT font, HFONT boldFont);
  void SetState(const TCategoryLineState &state);
  void SetFonts(HFONT font, HFONT boldFont);
  HWND CheckBox() const { return box_.Get(); }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void Layout();
  void Paint();
  void DrawGlyph(HDC dc, const RECT &area) const;

  UniqueHwnd box_;
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  TCategoryLineState state_;
  bool tracking_ = false;
};

} // namespace quenlo::ui
