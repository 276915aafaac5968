#include "tools/time_analyzer.h"

#include <cstdio>
#include <numeric>
#include <utility>

#include "platform/host_clock.h"

namespace brova {
namespace {

bool InRange(int point) { return point >= 0 && point < kTimePointCount; }

// Ticks are kept as the 32-bit counts of a millisecond tick counter; differences wrap.
int32_t Tick() { return static_cast<int32_t>(static_cast<uint32_t>(platform::TicksMs())); }

int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

} // namespace

TTimeAnalyzer::TTimeAnalyzer() { std::iota(ordering_.begin(), ordering_.end(), 0); }

void TTimeAnalyzer::Enter(int point) {
  if (!InRange(point)) return;
  Point& p = points_[point];
  if (p.depth == 0) p.startTick = Tick();
  ++p.depth;
}

void TTimeAnalyzer::Leave(int point) {
  if (!InRange(point)) return;
  Point& p = points_[point];
  // A Leave without its Enter is dropped: letting the depth go negative would keep the
  // point from ever counting again until the next Reset.
  if (p.depth <= 0) return;
  if (--p.depth > 0) return;
  p.totalMs = WrappingAdd(p.totalMs, WrappingAdd(Tick(), -p.startTick));
  p.passCount = WrappingAdd(p.passCount, 1);
}

void TTimeAnalyzer::Reset() {
  for (Point& p : points_) {
    p.passCount = 0;
    p.totalMs = 0;
    p.depth = 0;
  }
  Enter(kTpWhole);
}

void TTimeAnalyzer::ShowResults() {
  Leave(kTpWhole);
  Order(TimeOrder::ByNumber);
  if (shown_) shown_();
}

long double TTimeAnalyzer::Statistic(int point, int column) const {
  if (!InRange(point)) return 0;
  const Point& p = points_[point];
  if (p.passCount <= 0) return 0;
  switch (column) {
  case 0: return point;
  case 1: return p.passCount;
  case 2: return p.totalMs;
  case 3: {
    long double whole = points_[kTpWhole].totalMs;
    if (whole < 1) return 0;
    return static_cast<long double>(p.totalMs) * 100 / whole;
  }
  case 4: return static_cast<long double>(p.totalMs) / p.passCount;
  default: return 0;
  }
}

// Quicksort, largest first. The pivot is the larger of the first two neighbours that
// differ, so both sides of a partition are non-empty and a range of equal values is done.
void TTimeAnalyzer::Sort(int start, int end, int column) {
  auto value = [&](int position) { return Statistic(ordering_[position], column); };
  long double pivot = 0;
  bool found = false;
  for (int j = start + 1; j <= end; ++j) {
    long double before = value(j - 1);
    long double here = value(j);
    if (before != here) {
      pivot = before > here ? before : here;
      found = true;
      break;
    }
  }
  if (!found) return;
  int l = start;
  int r = end;
  for (;;) {
    while (value(l) >= pivot) ++l;
    while (value(r) < pivot) --r;
    if (r < l) break;
    std::swap(ordering_[l], ordering_[r]);
  }
  Sort(start, r, column);
  Sort(l, end, column);
}

void TTimeAnalyzer::Order(TimeOrder order) {
  std::iota(ordering_.begin(), ordering_.end(), 0);
  switch (order) {
  case TimeOrder::ByNumber: return;
  case TimeOrder::BySumTime: Sort(0, kTimePointCount - 1, 2); return;
  case TimeOrder::ByAverage: Sort(0, kTimePointCount - 1, 4); return;
  case TimeOrder::ByPassCount: Sort(0, kTimePointCount - 1, 1); return;
  }
}

std::vector<std::vector<std::string>> TTimeAnalyzer::ResultRows() const {
  std::vector<std::vector<std::string>> rows;
  rows.emplace_back(kTimeResultHeadings.begin(), kTimeResultHeadings.end());
  for (int point : ordering_) {
    if (points_[point].passCount <= 0) continue;
    std::vector<std::string>& row = rows.emplace_back();
    for (int column = 0; column < 5; ++column)
      row.push_back(FormatStatistic(Statistic(point, column)));
  }
  return rows;
}

std::string FormatStatistic(long double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15Lg", value);
  return buffer;
}

TTimeAnalyzer& TimeAnalyzer() {
  static TTimeAnalyzer instance;
  return instance;
}

} // namespace brova
