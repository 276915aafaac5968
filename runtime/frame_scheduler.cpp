#include "runtime/frame_scheduler.h"

#include <algorithm>
#include <cmath>

#include "platform/host_clock.h"
#include "platform/message_sink.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/progress_note.h"
#include "runtime/translate.h"
#include "tools/time_analyzer.h"

namespace brova {
namespace {

template <class F, class... A>
auto Call(const F& service, A... args) {
  using R = decltype(service(args...));
  if (service) return service(args...);
  return R();
}

// Runs the due frames of a pass (steps 1 to 7 of a running pass).
void RunDueFrames(TFrameScheduler& s, TFrameServices& h) {
  TProfileSection pass(kTpFramePass);
  Call(h.resumeNotify);
  preempted = false;
  long double elapsed = (Clock() - s.frameBase) / s.framePeriod;
  int32_t n = static_cast<int32_t>(std::fmax(std::fmin(std::trunc(elapsed), 1e9L), -1e9L));
  s.frameHistory[static_cast<size_t>(s.historyPos - 1)] = static_cast<char>((48 + n) & 0xFF);
  if (++s.historyPos > static_cast<int32_t>(s.frameHistory.size())) s.historyPos = 1;
  s.frameBase += static_cast<long double>(n) * s.framePeriod;
  if (n >= s.maxFramesPerPass) n = s.maxFramesPerPass;
  s.drawingFrame = false;
  while (n > 0) {
    s.drawingFrame = n == 1;
    if (n == 1) {
      SetGlobal("$_doDraw", IntValue(1));
      Call(h.clearDrawList);
    } else {
      SetGlobal("$_doDraw", IntValue(0));
    }
    if (s.rootProcess) {
      TProfileSection frame(kTpRootProcess);
      Run(s.rootProcess, kDefaultSteps);
    }
    // The frame ran even when it ends the pass for a page open: a page that reopens itself
    // every frame still advances the count a frame limit waits for.
    ++s.framesRun;
    if (Call(h.hasPendingPage)) break;
    --n;
  }
  if (!s.runtimeErrorSeen) Call(h.serviceSynthesizer);
}

void ReportPassError(TFrameScheduler& s, TFrameServices& h, const char* text, bool drawing) {
  s.runtimeErrorSeen = true;
  std::string message = Translate("Runtim Error:") + text;
  if (drawing) {
    s.drawingDisabled = true;
    ProgressNote(message);
  } else {
    platform::ShowMessage(message);
  }
  Call(h.showSplash);
}

} // namespace

TFrameScheduler& Scheduler() {
  static TFrameScheduler scheduler;
  return scheduler;
}

TFrameServices& FrameServices() {
  static TFrameServices services;
  return services;
}

void InstallScheduler() {
  TFrameScheduler& s = Scheduler();
  TFrameScheduler fresh;
  fresh.autoExecution = s.autoExecution;
  fresh.rootProcess = s.rootProcess;
  fresh.drawingFrame = s.drawingFrame;
  fresh.drawingDisabled = s.drawingDisabled;
  fresh.frameBase = Clock();
  s = fresh;
}

long double Clock() {
  uint64_t frequency = platform::PerformanceFrequency();
  if (frequency == 0) return static_cast<long double>(platform::TicksMs());
  uint64_t counter = platform::PerformanceCounter();
  // Whole 1/1024 ms, split so that nothing overflows 64 bits.
  constexpr uint64_t kUnitsPerSecond = 1000 * 1024;
  uint64_t units = counter / frequency * kUnitsPerSecond + counter % frequency * kUnitsPerSecond / frequency;
  return static_cast<long double>(units) / 1024;
}

void Main(bool& done) {
  TFrameScheduler& s = Scheduler();
  TFrameServices& h = FrameServices();
  if (Call(h.calibrationVisible)) {
    Call(h.calibrationRefresh);
    done = false;
    return;
  }
  bool active = !h.applicationActive || h.applicationActive();
  if (!s.autoExecution || s.stoppedInDebugger || !s.rootProcess || s.inFrame ||
      (s.pauseWhenInactive && !active)) {
    s.frameBase = Clock();
    Call(h.pauseNotify);
    done = true;
  } else {
    s.inFrame = true;
    try {
      RunDueFrames(s, h);
      if (!active) platform::SleepMs(100);
      platform::SleepMs(static_cast<uint32_t>(std::max(0, s.idleSleep)));
      {
        TProfileSection draw(kTpFrameDraw);
        if (s.drawingFrame && !s.drawingDisabled) Call(h.drawAll);
      }
      s.caption = "0:" + s.frameHistory + Call(h.statisticsLine);
    } catch (const EInvalidOperation& e) {
      ReportPassError(s, h, e.what(), true);
    } catch (const std::exception& e) {
      ReportPassError(s, h, e.what(), false);
    } catch (...) {
      ReportPassError(s, h, Translate("Unknown error").c_str(), false);
    }
    s.inFrame = false;
    done = false;
  }
  Call(h.performPendingOpen);
  s.preemptedLabel = preempted ? "Preempted" : "not Preempted";
}

void DesignRefresh() {
  TFrameScheduler& s = Scheduler();
  TFrameServices& h = FrameServices();
  preempted = false;
  if (!s.rootProcess || s.inDesignRefresh) return;
  struct Guard {
    bool& flag;
    ~Guard() { flag = false; }
  } guard{s.inDesignRefresh};
  s.inDesignRefresh = true;
  s.drawingFrame = true;
  Call(h.clearDrawList);
  Run(s.rootProcess, kDefaultSteps);
  Call(h.drawAll);
}

void SetFrameRate(int32_t period, int32_t maxFrames) {
  TFrameScheduler& s = Scheduler();
  if (maxFrames > 0) s.maxFramesPerPass = maxFrames;
  if (period >= 10) s.framePeriod = period;
}

void RunHeadlessPasses(int32_t passes) {
  for (int32_t i = 0; i < passes; ++i) {
    platform::AdvanceVirtualClock(static_cast<uint64_t>(Scheduler().framePeriod));
    bool done = false;
    Main(done);
  }
}

void HandleApplicationError(const std::exception& e) {
  if (dynamic_cast<const EInvalidOperation*>(&e)) {
    Scheduler().drawingDisabled = true;
    ProgressNote(e.what());
    return;
  }
  platform::ShowMessage(e.what());
}

} // namespace brova
