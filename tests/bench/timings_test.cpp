// Combining the timings of separate processes: the summary's figures are the
// median of the processes' medians.
#include "bench/timings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using Bench::ProcessTimings;
using Bench::Timings;

TEST(Timings, MedianOfOddAndEvenCounts) {
  const struct {
    std::vector<double> Values;
    double Median;
  } cases[] = {
      {{5}, 5},
      {{3, 1, 2}, 2},
      {{4, 1, 3, 2}, 2.5},
      {{9, 1, 1, 1, 9}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(Bench::Median(c.Values), c.Median);
}

// One process whose layout makes a benchmark slow throughout must not move
// the figure, as a mean of all repetitions would.
TEST(Timings, MedianOfProcessMediansIgnoresOneSlowProcess) {
  Timings timings;
  timings.Add({{"eval/ours/01", {1.0, 1.1, 0.9}}});
  timings.Add({{"eval/ours/01", {1.24, 1.25, 1.26}}});
  timings.Add({{"eval/ours/01", {1.02, 0.98, 1.0}}});
  const auto stats = timings.Find("eval/ours/01");
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->Median, 1.0);
  EXPECT_EQ(stats->Fastest, 0.9);
  EXPECT_DOUBLE_EQ(stats->Spread, 1.25);
  EXPECT_NEAR(stats->Variation, 0.1, 1e-12);  // the first process's, the widest
  EXPECT_EQ(stats->Processes, 3);
  EXPECT_EQ(stats->Repetitions, 3);
}

TEST(Timings, ProcessesWithoutTheBenchmarkAreLeftOut) {
  Timings timings;
  timings.Add({{"compile/ours/01", {2.0}}});
  timings.Add({{"enter/1", {7.0}}});
  timings.Add({{"compile/ours/01", {4.0}}});
  const auto stats = timings.Find("compile/ours/01");
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->Processes, 2);
  EXPECT_EQ(stats->Median, 3.0);
  EXPECT_FALSE(timings.Find("eval/native/01"));

  EXPECT_EQ(timings.ProcessMedian("enter/1", 1), 7.0);
  EXPECT_FALSE(timings.ProcessMedian("enter/1", 0));
  EXPECT_FALSE(timings.ProcessMedian("enter/1", 3));
  EXPECT_FALSE(timings.ProcessMedian("enter/1", -1));
}

class TimingsFile : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(Path.c_str()); }
  void Write(const std::string& text) { std::ofstream(Path) << text; }
  // One file per test: ctest runs the tests of this suite side by side.
  const std::string Path = ::testing::TempDir() + "bench_timings_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
};

TEST_F(TimingsFile, KeepsEveryRepetitionBitForBit) {
  const ProcessTimings written = {
      {"eval/ours/01", {2.6412345678901234e-09, 1.0 / 3, 5e-324}},
      {"oneshot/fparser/3", {3.5e-07}},
  };
  Bench::WriteTimings(Path, written);
  EXPECT_EQ(Bench::ReadTimings(Path), written);
}

TEST_F(TimingsFile, RefusesWhatIsNotATimingsLine) {
  for (const char* text : {"eval/ours/01\n", "eval/ours/01 1e-9 fast\n", "a 1\nb 2 x3\n"}) {
    Write(text);
    EXPECT_THROW(Bench::ReadTimings(Path), std::runtime_error) << text;
  }
  Write("\neval/ours/01 1e-9 2e-9\n\n");
  EXPECT_EQ(Bench::ReadTimings(Path).at("eval/ours/01").size(), 2u);
}

TEST_F(TimingsFile, MissingFileIsAnError) {
  EXPECT_THROW(Bench::ReadTimings(Path + ".missing"), std::runtime_error);
}

}  // namespace
