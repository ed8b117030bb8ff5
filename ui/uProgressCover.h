// The progress cover of long operations (hive backup and restore, the
// registry analysis): for the whole operation the desktop is covered by a
// dimmed still image of the screen, the keyboard is off, the main window is
// disabled, and a small topmost progress window shows the caption and an
// estimated bar (app/pages/uProgressEstimate.h) that the worker's reports
// correct.
//
// Everything here belongs to the main thread. Show and Close pair up (a
// show while the cover is up reuses it, with the new caption; only the
// outermost close takes it down).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/pages/uProgressEstimate.h"
#include "uKeyboardBlock.h"
#include "uProgressBar.h"
#include "uWindow.h"

namespace quenlo::ui {

// Runs the messages waiting in this thread's queue. A WM_QUIT met on the
// way is held back (another quit would end the pump at once each time) and
// posted again by RepostQuit, so the program's own loop still ends.
class TPendingPump {
public:
  void Run();
  void RepostQuit();

private:
  bool quitSeen_ = false;
  int exitCode_ = 0;
};

// The dimmed copy of the screen, as large as the virtual desktop.
class TFadeCover final : public TWindow {
public:
  // Copies the screen, dims it and shows it above every window, without
  // activating it; false when a window or the image could not be made.
  [[nodiscard]] bool Open();

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  [[nodiscard]] bool CaptureDimmed(RECT screen);
  void Paint();

  UniqueGdi image_; // 24-bit top-down DIB section
  SIZE size_{0, 0};
};

// The small topmost window with the caption and the estimated bar.
class TProgressWindow final : public TWindow, private IEstimateTimer, private ITickSource {
public:
  TProgressWindow() : estimate_(*this, *this) {}
  ~TProgressWindow() override;
  // Creates and shows it centred on the monitor of owner; false when the
  // window could not be made.
  [[nodiscard]] bool Open(HWND owner, const std::string &caption, bool showBar);
  // A second operation under the same cover: new caption, the estimate
  // starts again.
  void Restart(const std::string &caption, bool showBar);
  void Report(std::uint64_t total, std::uint64_t done);
  // Finishes the bar (at most TProgressEstimate::kCloseCapMs), pumping.
  void FinishBar(TPendingPump &pump);

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

private:
  void Start(std::uint32_t intervalMs) override;
  void Stop() override;
  std::uint64_t NowMs() override;
  void ShowBar();
  void Layout();
  void Paint();

  TProgressEstimate estimate_;
  UniqueHwnd label_;
  TProgressBar bar_;
  UniqueGdi font_;
  std::wstring caption_;
  bool showBar_ = true;
  bool timerSet_ = false;
};

class TProgressCover {
public:
  TProgressCover() = default;
  TProgressCover(const TProgressCover &) = delete;
  TProgressCover &operator=(const TProgressCover &) = delete;
  ~TProgressCover();

  // Brings the cover up (or reuses the one that is up) with the caption;
  // mainWindow is disabled until the matching Close.
  void Show(HWND mainWindow, const std::string &caption, bool showBar);
  // A worker's (total, done), handed over on the main thread; ignored
  // without a progress window.
  void Report(std::uint64_t total, std::uint64_t done);
  // Finishes the bar and takes everything down; the keyboard and the main
  // window come back.
  void Close();
  // Runs the pending messages of the main thread.
  void Pump() { pump_.Run(); }

  bool Up() const { return depth_ > 0; }
  bool KeyboardOff() const { return keyboard_ != nullptr; }

private:
  void TakeDown();

  int depth_ = 0;
  HWND mainWindow_ = nullptr;
  TPendingPump pump_;
  std::unique_ptr<TFadeCover> fade_;
  std::unique_ptr<TKeyboardBlock> keyboard_;
  std::unique_ptr<TProgressWindow> window_;
};

} // namespace quenlo::ui
