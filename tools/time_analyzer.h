// The load profiler: wall-clock milliseconds spent in numbered sections of the player's
// work, with a result table for the profiler window. Point 0 is the whole measurement.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brova {

constexpr int kTimePointCount = 256;

// Points used by the measured subsystems.
enum TimePoint : int {
  kTpWhole = 0,
  kTpPageInit = 1,
  kTpCompileClass = 10,
  kTpFramePass = 45,
  kTpFrameDraw = 46,
  kTpRootProcess = 47,
  kTpDrawPass1 = 48,
  kTpDrawPass2 = 49,
  kTpDrawPass3 = 50,
  kTpPageLoadStep1 = 60,
  kTpPageLoadStep2 = 61,
  kTpPageLoadStep3 = 62,
  kTpPageLoad = 65,
  kTpNewResource = 66,
  kTpSnippet = 70,
  kTpSnippetRun = 72,
};

enum class TimeOrder { ByNumber, BySumTime, ByAverage, ByPassCount };

// The result window's fixed texts and layout: a grid of 5 columns and 257 rows.
inline constexpr const char* kTimeResultCaption = "測定結果";
inline constexpr std::array<const char*, 5> kTimeResultHeadings = {"No.", "通過回数", "合計ms", "%",
                                                                   "1回平均ms"};
inline constexpr std::array<int, 5> kTimeResultColumnWidths = {30, 60, 57, 56, 70};
inline constexpr int kTimeResultRows = kTimePointCount + 1;
inline constexpr std::array<const char*, 4> kTimeOrderLabels = {"番号順", "合計時間順", "平均時間順",
                                                                "通過回数順"};

class TTimeAnalyzer {
public:
  struct Point {
    int32_t startTick = 0; // tick when the outermost entry began
    int32_t passCount = 0; // completed outermost passes
    int32_t totalMs = 0;
    int32_t depth = 0;
  };

  TTimeAnalyzer();

  // Brackets a section; nested entries into the same point count only the outermost one.
  // Points outside 0..255 are ignored.
  void Enter(int point);
  void Leave(int point);

  // Clears every count and starts point 0.
  void Reset();
  // Ends point 0, lists the points by number and calls the shown handler.
  void ShowResults();

  // One cell: column 0 the number, 1 the passes, 2 the total ms, 3 the share of point 0's
  // total in percent, 4 the average ms; 0 for a point with no pass or out of range.
  long double Statistic(int point, int column) const;

  // Reorders the listing (largest first for the three measures; the sort is not stable).
  void Order(TimeOrder order);

  // The table as the window shows it: the headings, then one row of five cells per point
  // with passes, in the current order. Grid rows past these are blank.
  std::vector<std::vector<std::string>> ResultRows() const;

  // Called by ShowResults to bring the result window up.
  void SetShownHandler(std::function<void()> handler) { shown_ = std::move(handler); }

  const Point& PointAt(int point) const { return points_[static_cast<std::size_t>(point)]; }

private:
  void Sort(int start, int end, int column);

  std::array<Point, kTimePointCount> points_{};
  std::array<int, kTimePointCount> ordering_{};
  std::function<void()> shown_;
};

// The text of a cell value: up to 15 significant digits, no trailing zeros.
std::string FormatStatistic(long double value);

// The profiler of the whole run, started at boot and driven by the debug window.
TTimeAnalyzer& TimeAnalyzer();

// Brackets a section with Enter and Leave of the program's profiler, however it ends.
class TProfileSection {
public:
  explicit TProfileSection(int point) : point_(point) { TimeAnalyzer().Enter(point_); }
  ~TProfileSection() { TimeAnalyzer().Leave(point_); }
  TProfileSection(const TProfileSection&) = delete;
  TProfileSection& operator=(const TProfileSection&) = delete;

private:
  int point_;
};

} // namespace brova
