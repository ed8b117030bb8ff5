#include "app/pages/uTrayNoticeLogic.h"

#include <algorithm>

#include "app/uSettings.h"

namespace quenlo {

std::string TrayNoticeText(int problemCount) {
  return "Your PC has " + std::to_string(problemCount) + " " +
         (problemCount == 1 ? "unresolved problem." : "unresolved problems.");
}

TNoticePoint TrayNoticePlacement(const TNoticePlacementInput &in) {
  const TScreenRect &wa = in.workArea;
  // Corners are taken from the work area's own edges, not from its size:
  // on a second monitor, or beside a taskbar along the left edge, the work
  // area does not start at 0.
  TNoticePoint p{wa.right - in.noticeWidth, wa.bottom - in.noticeHeight};
  if (in.taskbarFound && in.taskbar.top <= 0) {
    if (in.taskbar.bottom < in.screenHeight) {
      p.top = in.taskbar.bottom; // along the top edge: right end, under it
    } else {
      p.left = in.taskbar.right; // along the left edge: beside it, at the bottom
    }
  }
  p.left = std::max(std::min(p.left, wa.right - in.noticeWidth), wa.left);
  p.top = std::max(std::min(p.top, wa.bottom - in.noticeHeight), wa.top);
  return p;
}

bool SaveDoNotShowNotice(bool checked, std::string *errorText) {
  // Another page may have changed the file since it was read: reload first
  // so that the save carries those changes instead of undoing them.
  if (!LoadSettings(errorText))
    return false;
  Settings().DoNotShowNoticeOnDelayedStart = checked;
  return SaveSettings(errorText);
}

} // namespace quenlo
