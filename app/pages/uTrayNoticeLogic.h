// The tray notice after an automatic scan without its window: the message,
// the fix button, where the window goes by the taskbar, and the "Do not
// show this message again" box.
#pragma once

#include <string>

namespace quenlo {

struct TScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const TScreenRect &) const = default;
};

struct TNoticePlacementInput {
  bool taskbarFound = false;
  TScreenRect taskbar;  // the "Shell_TrayWnd" window
  TScreenRect workArea; // of the monitor the taskbar is on
  int screenHeight = 0;
  int noticeWidth = 0;
  int noticeHeight = 0;
};

struct TNoticePoint {
  int left = 0;
  int top = 0;
  bool operator==(const TNoticePoint &) const = default;
};

inline constexpr const char *kNoticeCaption = "Quenlo Notice";
inline constexpr const char *kNoticeDoNotShow = "Do not show this message again";
inline constexpr int kNoticeNoButtonShift = 10;

// "Your PC has <n> unresolved problem." (exactly 1) or "... problems.".
std::string TrayNoticeText(int problemCount);
inline bool TrayNoticeFixShown(int problemCount) {
  return problemCount != 0;
}
// The text and icon move down when there is no fix button.
inline int TrayNoticeTextShift(int problemCount) {
  return problemCount == 0 ? kNoticeNoButtonShift : 0;
}

// By the taskbar: under a taskbar along the top edge at the right, beside a
// taskbar along the left edge at the bottom, else in the bottom-right
// corner. Always inside the work area (a notice larger than the work area
// keeps its top-left corner in it).
TNoticePoint TrayNoticePlacement(const TNoticePlacementInput &input);

// The check box: reloads the settings file, sets the field and saves it
// at once. False (with the reason) when the file could not be saved.
[[nodiscard]] bool SaveDoNotShowNotice(bool checked, std::string *errorText = nullptr);

} // namespace quenlo
