#include "runtime/frame_scheduler.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/host_clock.h"
#include "runtime/globals.h"
#include "runtime/heap_cell.h"
#include "runtime/progress_note.h"
#include "tools/time_analyzer.h"
#include "process_builder.h"

namespace brova {
namespace {

using testing::AddNative;
using testing::MakeClass;

std::vector<int32_t> g_doDraw; // $_doDraw as each frame saw it
THeapCell* g_doDrawCell = nullptr;
std::function<void()> g_inFrame;

void RecordFrame(TValue*, int32_t, int32_t) {
  g_doDraw.push_back(ValueToInt(*GlobalSlot("$_doDraw")));
  if (g_inFrame) g_inFrame();
}
void SuspendCurrent(TValue*, int32_t, int32_t) { Suspend(currentProcess); }

// A Boot-like root process: every frame records $_doDraw and suspends.
class Scheduling : public ::testing::Test {
protected:
  void SetUp() override {
    testing::ResetInterpreter();
    platform::SetVirtualClock(true);
    g_doDraw.clear();
    g_inFrame = nullptr;
    g_doDrawCell = new THeapCell;
    SetGlobalResolver([](std::string_view name) -> TValue* {
      return name == "$_doDraw" ? &g_doDrawCell->value() : nullptr;
    });
    TRTTI* boot = MakeClass("Boot", {});
    TNativeFunction* record = AddNative(boot, "record", RecordFrame);
    TNativeFunction* suspend = AddNative(boot, "suspend", SuspendCurrent);
    boot->body = testing::Assemble(boot, [&](TProgWriter& w) {
      int32_t top = w.Emit(Op_PushThis);
      w.Emit(Op_NativeCall, {0, record->id});
      w.Emit(Op_NativeCall, {0, suspend->id});
      w.Emit(Op_Pop);
      int32_t j = w.EmitJump(Op_Jump);
      w.PatchJump(j, top);
    });
    root = CreateProcess(testing::NewObject(boot), "");
    FrameServices() = TFrameServices{};
    TFrameServices& h = FrameServices();
    h.clearDrawList = [this] { ++cleared; };
    h.drawAll = [this] { ++drawn; };
    h.serviceSynthesizer = [this] { ++serviced; };
    h.pauseNotify = [this] { ++paused; };
    h.performPendingOpen = [this] { ++opens; };
    h.statisticsLine = [] { return std::string("// GC=0"); };
    Scheduler() = TFrameScheduler{};
    Scheduler().rootProcess = root;
    Scheduler().autoExecution = true;
    InstallScheduler();
  }
  void TearDown() override {
    Scheduler().rootProcess = nullptr;
    FrameServices() = TFrameServices{};
    DestroyProcess(root);
    SetGlobalResolver({});
    delete g_doDrawCell;
    platform::SetVirtualClock(false);
  }

  void PassAfter(uint64_t ms) {
    platform::AdvanceVirtualClock(ms);
    bool done = true;
    Main(done);
    EXPECT_FALSE(done);
  }
  char LastHistory() const {
    const TFrameScheduler& s = Scheduler();
    int32_t last = s.historyPos == 1 ? 10 : s.historyPos - 1;
    return s.frameHistory[static_cast<size_t>(last - 1)];
  }

  TProcess* root = nullptr;
  int cleared = 0, drawn = 0, serviced = 0, paused = 0, opens = 0;
  testing::MessageLog log;
};

TEST_F(Scheduling, DueFramesSkippingAndTheDrawingFrame) {
  struct Case {
    uint64_t after; // ms since the last boundary
    int frames;
    char history;
    long double baseMoves;
  } cases[] = {
      {40, 2, '2', 34},
      {500 - 6, 7, static_cast<char>(48 + 29), 493}, // 6 ms were left over from the 40
      {9, 0, '0', 0},   // 7 + 9 = 16 ms
      {1, 1, '1', 17},
  };
  for (const Case& c : cases) {
    g_doDraw.clear();
    int drawnBefore = drawn, servicedBefore = serviced;
    long double base = Scheduler().frameBase;
    PassAfter(c.after);
    SCOPED_TRACE(c.after);
    EXPECT_EQ(static_cast<int>(g_doDraw.size()), c.frames);
    if (c.frames > 0) {
      EXPECT_EQ(g_doDraw.back(), 1) << "only the last frame draws";
      for (size_t i = 0; i + 1 < g_doDraw.size(); ++i) EXPECT_EQ(g_doDraw[i], 0);
    }
    EXPECT_EQ(LastHistory(), c.history);
    EXPECT_EQ(Scheduler().frameBase - base, c.baseMoves);
    EXPECT_EQ(drawn - drawnBefore, c.frames > 0 ? 1 : 0);
    EXPECT_EQ(serviced - servicedBefore, 1) << "serviced even when no frame ran";
  }
  EXPECT_EQ(Scheduler().framesRun, 10);
  EXPECT_EQ(Scheduler().caption, "0:2M01000000// GC=0");
  EXPECT_EQ(Scheduler().preemptedLabel, "not Preempted");
  EXPECT_EQ(opens, 4);
}

TEST_F(Scheduling, HeadlessPassesAreDeterministic) {
  RunHeadlessPasses(25);
  EXPECT_EQ(Scheduler().framesRun, 25);
  EXPECT_EQ(g_doDraw, std::vector<int32_t>(25, 1));
  EXPECT_EQ(Scheduler().frameHistory, "1111111111");
  EXPECT_EQ(Scheduler().historyPos, 6);
  EXPECT_EQ(drawn, 25);
}

TEST_F(Scheduling, IdlePassesFollowTheClockWithoutCatchingUp) {
  Scheduler().autoExecution = false;
  bool done = false;
  platform::AdvanceVirtualClock(1000);
  Main(done);
  EXPECT_TRUE(done);
  EXPECT_EQ(paused, 1);
  EXPECT_TRUE(g_doDraw.empty());
  Scheduler().autoExecution = true;
  PassAfter(17);
  EXPECT_EQ(g_doDraw.size(), 1u);
  EXPECT_EQ(opens, 2) << "a pending page opens after idle passes too";
}

TEST_F(Scheduling, APendingPageEndsThePassAfterItsFrame) {
  FrameServices().hasPendingPage = [] { return g_doDraw.size() >= 2; };
  PassAfter(17 * 5);
  EXPECT_EQ(g_doDraw.size(), 2u);
  EXPECT_EQ(Scheduler().framesRun, 2) << "the frame that asked for the page is counted";
  EXPECT_EQ(opens, 1);
}

TEST_F(Scheduling, ANestedCallRunsNoFrames) {
  bool nestedDone = false;
  g_inFrame = [&] { Main(nestedDone); };
  PassAfter(17);
  EXPECT_EQ(g_doDraw.size(), 1u);
  EXPECT_TRUE(nestedDone);
  EXPECT_EQ(paused, 1);
  EXPECT_FALSE(Scheduler().inFrame);
}

TEST_F(Scheduling, FrameRateSettings) {
  SetFrameRate(5, 0);
  EXPECT_EQ(Scheduler().framePeriod, 17);
  SetFrameRate(20, 0);
  EXPECT_EQ(Scheduler().framePeriod, 20);
  EXPECT_EQ(Scheduler().maxFramesPerPass, 7);
  SetFrameRate(5, 3);
  EXPECT_EQ(Scheduler().maxFramesPerPass, 3);
  PassAfter(200);
  EXPECT_EQ(g_doDraw.size(), 3u);
  EXPECT_EQ(LastHistory(), static_cast<char>(48 + 10));
}

TEST_F(Scheduling, PassErrorsAreReportedAndFramesGoOn) {
  std::vector<std::string> notes;
  SetProgressNoteSink([&](std::string_view t) { notes.emplace_back(t); });
  int splashes = 0;
  FrameServices().showSplash = [&] { ++splashes; };
  FrameServices().drawAll = [] { throw EScriptError("boom"); };
  PassAfter(17);
  EXPECT_EQ(log.shown, std::vector<std::string>{"Runtim Error:boom"});
  EXPECT_TRUE(Scheduler().runtimeErrorSeen);
  EXPECT_FALSE(Scheduler().inFrame);
  FrameServices().drawAll = [] { throw EInvalidOperation("surface lost"); };
  PassAfter(17);
  EXPECT_TRUE(Scheduler().drawingDisabled);
  EXPECT_EQ(log.shown.size(), 1u) << "a drawing failure shows no box";
  EXPECT_EQ(notes, std::vector<std::string>{"Runtim Error:surface lost"});
  int servicedBefore = serviced;
  PassAfter(17);
  EXPECT_EQ(g_doDraw.size(), 3u);
  EXPECT_EQ(serviced, servicedBefore) << "the synthesizer is left alone after an error";
  EXPECT_EQ(splashes, 2);
  EXPECT_EQ(TimeAnalyzer().PointAt(kTpFrameDraw).depth, 0) << "brackets close on errors";
  SetProgressNoteSink({});
}

TEST_F(Scheduling, ProfilerBracketsPassesFramesAndDrawing) {
  TimeAnalyzer().Reset();
  RunHeadlessPasses(3);
  EXPECT_EQ(TimeAnalyzer().PointAt(kTpFramePass).passCount, 3);
  EXPECT_EQ(TimeAnalyzer().PointAt(kTpRootProcess).passCount, 3);
  EXPECT_EQ(TimeAnalyzer().PointAt(kTpFrameDraw).passCount, 3);
}

TEST_F(Scheduling, DesignRefreshRunsAndDrawsOneFrame) {
  long double base = Scheduler().frameBase;
  DesignRefresh();
  EXPECT_EQ(g_doDraw.size(), 1u);
  EXPECT_EQ(drawn, 1);
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(Scheduler().drawingFrame);
  EXPECT_EQ(Scheduler().frameBase, base);
  EXPECT_FALSE(Scheduler().inDesignRefresh);
}

} // namespace
} // namespace brova
