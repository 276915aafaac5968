#include <cstdio>
#include <string>

#include "app/entry_points.h"
#include "natives/object_natives.h"
#include "natives/system_natives.h"
#include "platform/host_clock.h"
#include "platform/host_window.h"
#include "platform/message_sink.h"
#include "resources/boot.h"
#include "runtime/frame_scheduler.h"

namespace brova {
namespace {

bool g_exitRequested = false;

bool FramesDone(const TCommandLine& options, int32_t idleFrames = 0) {
  return options.frames >= 0 && Scheduler().framesRun + idleFrames >= options.frames;
}

// Headless: the clock is virtual and every pass moves it by one frame period, so a run of N
// frames is the same every time and never sleeps. A pass with no page running (its page
// failed to build) is a frame nothing used; it counts, or the run would never end.
int RunHeadless(const TCommandLine& options) {
  int32_t idleFrames = 0;
  while (!g_exitRequested && !FramesDone(options, idleFrames)) {
    Splash().Tick(platform::TicksMs());
    RunHeadlessPasses(1);
    if (!Scheduler().rootProcess) ++idleFrames;
  }
  return 0;
}

int RunWindow(const TCommandLine& options, const std::string& caption) {
  if (!platform::OpenHostWindow(caption, options.fullScreen)) {
    platform::ShowMessage("The window cannot be opened.");
    return 1;
  }
  while (!g_exitRequested && !FramesDone(options) && platform::PumpHostEvents()) {
    Splash().Tick(platform::TicksMs());
    int before = Scheduler().framesRun;
    bool done = true;
    Main(done);
    if (Scheduler().framesRun != before) platform::PresentHostWindow();
    else platform::SleepMs(1); // idle: nothing was due
  }
  platform::CloseHostWindow();
  return 0;
}

} // namespace

int RunPlayer(const TCommandLine& options, const std::string& programFolder) {
  bool headless = options.headless || !platform::HasDisplay();
  if (headless && !options.headless) std::fprintf(stderr, "brova: no display; running headless\n");
  platform::SetMessageMode(headless ? platform::MessageMode::Headless
                                    : platform::MessageMode::Window);
  if (headless) platform::SetVirtualClock(true);
  if (options.console)
    natives::SetPrintSink([](const std::string& text) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    });
  natives::SetExitHandler([] { g_exitRequested = true; });
  if (!BootKernel(programFolder)) return 1;
  std::string caption = BootPlayer(TPlayerStart{options.page, options.fullScreen});
  Splash().Show(platform::TicksMs());
  int status = headless ? RunHeadless(options) : RunWindow(options, caption);
  std::fflush(stdout);
  return status;
}

} // namespace brova
