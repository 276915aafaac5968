// The frame scheduler: called from the host's idle loop, it works out how many frames are
// due, runs the root process once per frame (skipping frames when late), lets only the last
// one draw, and services the synthesizer in between.
#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "runtime/errors.h"

namespace brova {

class TProcess;

// An invalid operation of the drawing surface: it switches drawing off instead of showing
// a message box.
class EInvalidOperation : public EScriptError {
public:
  using EScriptError::EScriptError;
};

// The services of other subsystems that a pass uses; each is set by its owner, and an
// empty one does nothing (applicationActive: the application counts as active).
struct TFrameServices {
  std::function<bool()> calibrationVisible;
  std::function<void()> calibrationRefresh;
  std::function<bool()> applicationActive;
  std::function<void()> pauseNotify;
  std::function<void()> resumeNotify;
  std::function<void()> clearDrawList;
  std::function<void()> drawAll;
  std::function<bool()> hasPendingPage;
  std::function<void()> performPendingOpen;
  std::function<void()> serviceSynthesizer;
  std::function<void()> showSplash;
  std::function<std::string()> statisticsLine;
};

struct TFrameScheduler {
  int32_t framePeriod = 17; // ms
  int32_t maxFramesPerPass = 7;
  int32_t idleSleep = 0;    // ms after every running pass
  long double frameBase = 0; // ms: the next frame boundary not yet consumed
  std::string frameHistory = "0000000000"; // due frames of the recent running passes
  int32_t historyPos = 1;   // 1-based
  bool inFrame = false;
  bool runtimeErrorSeen = false;
  bool stoppedInDebugger = false;
  bool pauseWhenInactive = false;
  int32_t framesRun = 0;
  bool inDesignRefresh = false;

  bool autoExecution = false;      // the debug window's automatic-execution box
  TProcess* rootProcess = nullptr; // the page's Boot process, or none
  // The screen's flags: the frame being run will be drawn; drawing has failed for good.
  bool drawingFrame = false;
  bool drawingDisabled = false;
  // What the debug window shows: its caption and the preemption label.
  std::string caption;
  std::string preemptedLabel;
};

TFrameScheduler& Scheduler();
TFrameServices& FrameServices();

// Puts the timing state back to its start (frameBase at the clock); the root process, the
// automatic-execution box and the screen's flags are kept.
void InstallScheduler();

// Milliseconds from the high-resolution counter (the tick count when it has no
// frequency), in steps of 1/1024 ms so that equal clock advances give equal differences.
long double Clock();

// The idle handler; `done` false asks to be called again at once.
void Main(bool& done);
// Runs and draws one frame at once (design mode, drags).
void DesignRefresh();
// `_n_setFrameRate`: a period below 10 ms is ignored, a maximum of 0 or less too.
void SetFrameRate(int32_t period, int32_t maxFrames);
// Headless runs: each pass moves the virtual clock by one frame period, then runs Main.
void RunHeadlessPasses(int32_t passes);
// An error that escaped a window event: drawing failures switch drawing off quietly,
// anything else is shown.
void HandleApplicationError(const std::exception& e);

} // namespace brova
