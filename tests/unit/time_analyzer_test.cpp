#include "tools/time_analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/host_clock.h"

namespace brova {
namespace {

using platform::AdvanceVirtualClock;

class TimeAnalyzerTest : public testing::Test {
protected:
  void SetUp() override { platform::SetVirtualClock(true); }
  void TearDown() override { platform::SetVirtualClock(false); }

  // Brackets `point` `passes` times, each pass lasting `ms`.
  void Passes(int point, int passes, int ms) {
    for (int i = 0; i < passes; ++i) {
      tm.Enter(point);
      AdvanceVirtualClock(static_cast<uint64_t>(ms));
      tm.Leave(point);
    }
  }

  std::vector<std::string> Column(int column) const {
    std::vector<std::string> cells;
    auto rows = tm.ResultRows();
    for (std::size_t r = 1; r < rows.size(); ++r) cells.push_back(rows[r][column]);
    return cells;
  }

  TTimeAnalyzer tm;
};

TEST_F(TimeAnalyzerTest, VirtualClockMovesOnlyWhenAdvanced) {
  uint64_t ticks = platform::TicksMs();
  uint64_t counter = platform::PerformanceCounter();
  platform::SleepMs(50);
  EXPECT_EQ(platform::TicksMs(), ticks);
  AdvanceVirtualClock(17);
  EXPECT_EQ(platform::TicksMs(), ticks + 17);
  EXPECT_EQ(platform::PerformanceCounter() - counter, 17 * platform::PerformanceFrequency() / 1000);
}

TEST_F(TimeAnalyzerTest, NestedEntryCountsTheOuterBracketOnce) {
  tm.Reset();
  tm.Enter(47);
  AdvanceVirtualClock(2);
  tm.Enter(47);
  AdvanceVirtualClock(1);
  tm.Leave(47);
  AdvanceVirtualClock(1);
  tm.Leave(47);
  EXPECT_EQ(tm.PointAt(47).passCount, 1);
  EXPECT_EQ(tm.PointAt(47).totalMs, 4);
  EXPECT_EQ(tm.PointAt(47).depth, 0);
}

TEST_F(TimeAnalyzerTest, TableListsFinishedPointsWithTheirStatistics) {
  bool shown = false;
  tm.SetShownHandler([&] { shown = true; });
  tm.Reset();
  Passes(45, 2, 1);  // 2 passes, 2 ms
  Passes(46, 1, 3);  // 1 pass, 3 ms
  tm.Enter(10);      // never left: no row
  AdvanceVirtualClock(6);
  tm.ShowResults(); // point 0: 11 ms
  EXPECT_TRUE(shown);

  auto rows = tm.ResultRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"No.", "通過回数", "合計ms", "%", "1回平均ms"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"0", "1", "11", "100", "11"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"45", "2", "2", "18.1818181818182", "1"}));
  EXPECT_EQ(rows[3], (std::vector<std::string>{"46", "1", "3", "27.2727272727273", "3"}));

  // A second ShowResults without Reset adds nothing.
  AdvanceVirtualClock(5);
  tm.ShowResults();
  EXPECT_EQ(tm.ResultRows(), rows);
}

TEST_F(TimeAnalyzerTest, PercentageIsZeroWhenTheWholeTookUnderOneMs) {
  tm.Reset();
  tm.ShowResults();
  Passes(45, 1, 5);
  EXPECT_EQ(Column(3), (std::vector<std::string>{"0", "0"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"0", "5"}));
}

TEST_F(TimeAnalyzerTest, StrayLeaveAndOutOfRangePointsDoNoHarm) {
  tm.Reset();
  tm.Leave(47);
  Passes(47, 1, 2);
  EXPECT_EQ(tm.PointAt(47).passCount, 1);
  EXPECT_EQ(tm.PointAt(47).totalMs, 2);
  tm.Enter(256);
  tm.Leave(-1);
  EXPECT_EQ(tm.Statistic(256, 1), 0);
  EXPECT_EQ(tm.Statistic(-1, 0), 0);
  EXPECT_EQ(tm.Statistic(47, 9), 0);
}

TEST_F(TimeAnalyzerTest, OrderingsListLargestFirst) {
  tm.Reset();
  Passes(3, 1, 30);  // total 30, average 30
  Passes(5, 3, 10);  // total 30, average 10
  Passes(7, 2, 25);  // total 50, average 25
  Passes(9, 5, 1);   // total 5, average 1
  tm.ShowResults(); // point 0: 1 pass, 115 ms

  struct Expectation {
    TimeOrder order;
    int column;
    std::vector<std::set<std::string>> groups; // point numbers, equal values grouped
  };
  const Expectation table[] = {
      {TimeOrder::BySumTime, 2, {{"0"}, {"7"}, {"3", "5"}, {"9"}}},
      {TimeOrder::ByAverage, 4, {{"0"}, {"3"}, {"7"}, {"5"}, {"9"}}},
      {TimeOrder::ByPassCount, 1, {{"9"}, {"5"}, {"7"}, {"0", "3"}}},
      {TimeOrder::ByNumber, 0, {{"0"}, {"3"}, {"5"}, {"7"}, {"9"}}},
  };
  for (const Expectation& e : table) {
    tm.Order(e.order);
    std::vector<std::string> numbers = Column(0);
    ASSERT_EQ(numbers.size(), 5u);
    std::size_t at = 0;
    for (const auto& group : e.groups) {
      std::set<std::string> got(numbers.begin() + at, numbers.begin() + at + group.size());
      EXPECT_EQ(got, group) << "order " << static_cast<int>(e.order) << " at row " << at + 1;
      at += group.size();
    }
    if (e.order == TimeOrder::ByNumber) continue;
    std::vector<long double> values;
    for (const std::string& n : numbers) values.push_back(tm.Statistic(std::stoi(n), e.column));
    EXPECT_TRUE(std::is_sorted(values.rbegin(), values.rend()));
  }
}

TEST_F(TimeAnalyzerTest, OrderingWithPointsOfEqualValuesTerminates) {
  tm.Reset();
  for (int point = 1; point < kTimePointCount; ++point) Passes(point, 1 + point % 3, point % 2);
  tm.ShowResults();
  tm.Order(TimeOrder::ByPassCount);
  std::vector<std::string> passes = Column(1);
  ASSERT_EQ(passes.size(), 256u);
  EXPECT_TRUE(std::is_sorted(passes.rbegin(), passes.rend()));
}

TEST(FormatStatistic, FifteenSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(FormatStatistic(0), "0");
  EXPECT_EQ(FormatStatistic(100), "100");
  EXPECT_EQ(FormatStatistic(1.5L), "1.5");
  EXPECT_EQ(FormatStatistic(1.0L / 3), "0.333333333333333");
  EXPECT_EQ(FormatStatistic(200.0L / 3), "66.6666666666667");
}

} // namespace
} // namespace brova
