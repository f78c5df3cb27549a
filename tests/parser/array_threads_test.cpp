// Evaluation over arrays spread over threads: the same bits as on one
// thread on every tier, the count of results written when a part fails,
// callbacks kept on the calling thread in order, threads nested in a
// caller's own threads, and a threaded call in a child after fork(). Run
// under ThreadSanitizer by the tsan stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "array_tiers.h"
#include "parser/arrays/array_threads.h"
#include "parser/arrays/default_threads.h"
#include "parser/parser.h"
#include "parser/program/program.h"
#include "parser_test_support.h"

namespace {

using MathUtils::VariableArray;
using MathUtils::detail::LeastPointsPerThread;
using MathUtils::detail::SpreadOverThreads;
using ParserTests::ExpectSameBits;
using ParserTests::Tier;
using ParserTests::Tiers;

// The floor of points per thread of these tests, fixed rather than
// measured: a test knows how many parts a call makes.
constexpr std::size_t PointsPerThread = 2 * LeastPointsPerThread;

struct ArrayParser : MathUtils::Parser {
  ArrayParser() { SetArrayPointsPerThread(PointsPerThread); }
  using ParserBase::SetArrayLanes;
  using ParserBase::SetArrayPointsPerThread;
};

std::vector<double> Values(std::size_t count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(-20, 20);
  std::vector<double> values(count);
  for (double& value : values) value = uniform(random);
  // A few that tell results apart in their last bits and in their kind.
  for (std::size_t i = 0; i < count; i += 997) values[i] = i % 2 ? -0.0 : 1e-310;
  return values;
}

// What the points of one chunk saw: its range and its thread.
struct ChunkSeen {
  std::size_t First;
  std::size_t End;
  std::thread::id Thread;
};

struct Spread {
  std::vector<ChunkSeen> Chunks;  // in point order
  std::size_t Started;            // threads started for the call
};

// pace: how long each point takes, busy.
Spread SpreadOf(std::size_t first, std::size_t end, int threads,
                std::size_t pointsPerThread = PointsPerThread,
                std::chrono::nanoseconds pace = std::chrono::nanoseconds(0)) {
  std::mutex lock;
  Spread spread{{}, MathUtils::detail::ThreadsStarted()};
  std::size_t written = 0;
  SpreadOverThreads(
      first, end, threads, pointsPerThread,
      [&](std::size_t from, std::size_t to, std::size_t& done) {
        {
          const std::lock_guard<std::mutex> held(lock);
          spread.Chunks.push_back({from, to, std::this_thread::get_id()});
        }
        if (pace.count() > 0)
          for (std::size_t i = from; i < to; ++i) {
            const auto until = std::chrono::steady_clock::now() + pace;
            while (std::chrono::steady_clock::now() < until) {
            }
          }
        done = to;
      },
      written);
  EXPECT_EQ(written, end);
  spread.Started = MathUtils::detail::ThreadsStarted() - spread.Started;
  std::sort(spread.Chunks.begin(), spread.Chunks.end(),
            [](const ChunkSeen& a, const ChunkSeen& b) { return a.First < b.First; });
  return spread;
}

TEST(SpreadOverThreads, ChunksCoverTheRangeOnceFromAlignedStarts) {
  struct Case {
    std::size_t First, End;
    int Threads;
    std::size_t Started;
  };
  const std::size_t floor = PointsPerThread;
  const Case cases[] = {
      {0, 2 * floor - 1, 4, 0},    // too few points for two threads
      {0, 2 * floor, 4, 1},        // two of the floor each
      {1, 2 * floor + 1, 2, 1},    // an odd start
      {5, 10 * floor + 37, 3, 2},  // as many as asked
      {0, 10 * floor, 1, 0},       // one asked: the calling thread alone
      {7, 7, 4, 0},                // nothing to do
  };
  for (const Case& test : cases) {
    const Spread spread = SpreadOf(test.First, test.End, test.Threads);
    const std::string context =
        std::to_string(test.First) + ".." + std::to_string(test.End) + " on " + std::to_string(test.Threads);
    EXPECT_EQ(spread.Started, test.Started) << context;
    std::set<std::thread::id> threads;
    std::size_t next = test.First;
    for (const ChunkSeen& chunk : spread.Chunks) {
      EXPECT_EQ(chunk.First, next) << context;
      EXPECT_EQ((chunk.First - test.First) % 64, 0u) << context;
      if (chunk.End != test.End) {
        EXPECT_GE(chunk.End - chunk.First, LeastPointsPerThread) << context;
      }
      next = chunk.End;
      threads.insert(chunk.Thread);
    }
    EXPECT_EQ(next, test.End) << context;
    EXPECT_LE(threads.size(), test.Started + 1) << context;
    if (test.Started > 0) {
      EXPECT_GT(spread.Chunks.size(), test.Started + 1) << "several chunks a thread: " << context;
    }
  }
}

// Measured: the calling thread times its first points; the rest spreads
// only where a thread's share repays it.
TEST(SpreadOverThreads, TheFloorMeasuredOnTheFirstPoints) {
  const std::size_t end = 5 * LeastPointsPerThread;
  // A microsecond a point: the least share (4,096 points) repays a thread.
  const Spread slow = SpreadOf(0, end, 2, 0, std::chrono::microseconds(1));
  EXPECT_EQ(slow.Started, 1u);
  ASSERT_GE(slow.Chunks.size(), 3u);
  EXPECT_EQ(slow.Chunks[0].End, LeastPointsPerThread) << "the timed points";
  EXPECT_EQ(slow.Chunks[0].Thread, std::this_thread::get_id());
  // Nothing to do: no share of the rest would repay a thread.
  const Spread fast = SpreadOf(0, end, 2, 0);
  EXPECT_EQ(fast.Started, 0u);
  ASSERT_EQ(fast.Chunks.size(), 2u);
  EXPECT_EQ(fast.Chunks[1].End, end);
}

TEST(SpreadOverThreads, ZeroThreadsMeansTheDefault) {
  const int cpus = MathUtils::detail::DefaultThreadCount();
  EXPECT_EQ(MathUtils::detail::ThreadsAsked(0), cpus);
  EXPECT_EQ(MathUtils::Parser::DefaultArrayThreads(), cpus);
  EXPECT_EQ(MathUtils::detail::ThreadsAsked(3), 3);
  EXPECT_EQ(SpreadOf(0, 64 * PointsPerThread, 0).Started, static_cast<std::size_t>(std::min(cpus, 64) - 1));
}

// The CPUs a cgroup quota allows: the least of the process's group and
// those above it, where the files say so.
TEST(DefaultThreads, TheCgroupQuota) {
  const char* const v2Mount = "30 23 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
  const char* const v1Mount =
      "33 32 0:30 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:9 - cgroup cgroup rw,cpu,cpuacct\n";
  struct Row {
    const char* Name;
    std::string MountInfo, Cgroups;
    std::map<std::string, std::string> Files;
    std::optional<int> Expected;
  };
  const Row rows[] = {
      {"v2, rounded up", v2Mount, "0::/job\n", {{"/sys/fs/cgroup/job/cpu.max", "150000 100000\n"}}, 2},
      {"v2, none", v2Mount, "0::/job\n", {{"/sys/fs/cgroup/job/cpu.max", "max 100000\n"}}, std::nullopt},
      {"v2, a group above",
       v2Mount,
       "0::/a/b\n",
       {{"/sys/fs/cgroup/a/b/cpu.max", "max 100000"}, {"/sys/fs/cgroup/a/cpu.max", "50000 100000"}},
       1},
      {"v2, the least",
       v2Mount,
       "0::/a/b\n",
       {{"/sys/fs/cgroup/a/b/cpu.max", "300000 100000"}, {"/sys/fs/cgroup/cpu.max", "800000 100000"}},
       3},
      {"v1",
       v1Mount,
       "4:cpu,cpuacct:/docker/c1\n1:name=systemd:/\n",
       {{"/sys/fs/cgroup/cpu,cpuacct/docker/c1/cpu.cfs_quota_us", "250000"},
        {"/sys/fs/cgroup/cpu,cpuacct/docker/c1/cpu.cfs_period_us", "100000"}},
       3},
      {"v1, no quota",
       v1Mount,
       "4:cpu,cpuacct:/\n",
       {{"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1"},
        {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000"}},
       std::nullopt},
      {"v1 mounted from the group itself (a container)",
       "40 32 0:31 /docker/c1 /sys/fs/cgroup/cpu ro - cgroup cgroup rw,cpu\n",
       "4:cpu:/docker/c1\n",
       {{"/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "100000"},
        {"/sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000"}},
       1},
      {"hybrid: v1 holds the cpu controller",
       std::string(v1Mount) + "42 32 0:39 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n",
       "4:cpu,cpuacct:/\n0::/\n",
       {{"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "200000"},
        {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000"}},
       2},
      {"a mount point with a space",
       "30 23 0:26 / /cg\\040root rw - cgroup2 cgroup2 rw\n",
       "0::/\n",
       {{"/cg root/cpu.max", "100000 100000"}},
       1},
      {"no cgroup mounted", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n", "0::/\n", {}, std::nullopt},
      {"unreadable", v2Mount, "0::/job\n", {{"/sys/fs/cgroup/job/cpu.max", "12 abc"}}, std::nullopt},
  };
  for (const Row& row : rows) {
    const auto read = [&](const std::string& path) -> std::optional<std::string> {
      const auto found = row.Files.find(path);
      return found == row.Files.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    EXPECT_EQ(MathUtils::detail::CgroupCpuLimit(row.MountInfo, row.Cgroups, read), row.Expected) << row.Name;
  }
}

#if defined(__linux__)
// Run in a child forked after the parent has read its default: the
// child reads it again, on its first call that spreads.
struct DefaultRow {
  const char* Name;
  bool OneCpu;           // the child's affinity held to one CPU
  const char* Vorncalc;  // VORNCALC_NUM_THREADS, null: unset
  const char* OpenMp;    // OMP_NUM_THREADS
  bool ShortCallFirst;   // a short call with threads 0 before the variables are set
  bool AllCpusExpected;  // else 1
};

int DefaultInAChild(const DefaultRow& row) {
  if (row.ShortCallFirst) {
    MathUtils::Parser parser;
    double x = 0;
    parser.AddVariable("x", &x);
    parser.AssignFormula("x * 2 + 1");
    std::vector<double> xs(16, 1.0), results(16);
    const VariableArray arrays[] = {{&x, xs.data()}};
    parser.EvaluateArrays(arrays, results, 0);
  }
  if (row.OneCpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    int first = 0;
    while (!CPU_ISSET(first, &set)) ++first;
    CPU_ZERO(&set);
    CPU_SET(first, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) return 200;
  }
  for (const auto& [name, value] :
       {std::pair{"VORNCALC_NUM_THREADS", row.Vorncalc}, {"OMP_NUM_THREADS", row.OpenMp}})
    value ? setenv(name, value, 1) : unsetenv(name);
  return MathUtils::detail::ThreadsAsked(0);
}

int ExitStatusOf(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(DefaultThreads, TheAffinityAndTheVariablesReadAgainAfterFork) {
  MathUtils::detail::DefaultThreadCount();  // read here first
  const DefaultRow unset = {"no variable set", false, nullptr, nullptr, false, true};
  const pid_t first = fork();
  ASSERT_GE(first, 0);
  if (first == 0) _exit(DefaultInAChild(unset));
  const int cpus = ExitStatusOf(first);
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_GE(cpus, 1);
  EXPECT_LE(cpus, CPU_COUNT(&set)) << "the CPUs of the affinity mask at most";
  const DefaultRow rows[] = {
      {"held to one CPU (taskset -c 0)", true, nullptr, nullptr, false, false},
      {"OMP_NUM_THREADS=1", false, nullptr, "1", false, false},
      {"OpenMP's list, its first count", false, nullptr, "1,4", false, false},
      {"VORNCALC_NUM_THREADS wins", false, "1", "4", false, false},
      {"VORNCALC_NUM_THREADS wins, lowering nothing", false, "64", "1", false, true},
      {"a count of 0 ignored", false, "0", "1", false, false},
      {"not a count", false, " 2x", nullptr, false, true},
      {"a short call reads nothing", false, "1", nullptr, true, false},
  };
  for (const DefaultRow& row : rows) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(DefaultInAChild(row));
    EXPECT_EQ(ExitStatusOf(child), row.AllCpusExpected ? cpus : 1) << row.Name;
  }
}
#endif

// Chunks that fail at some of their points: whichever thread fails first,
// the count stops at the first failing point, every result before it
// written, and that point's failure is the one rethrown.
TEST(SpreadOverThreads, WrittenStopsAtTheFirstFailingPoint) {
  const std::size_t first = 3, end = first + 4 * PointsPerThread + 100;
  const std::vector<std::vector<std::size_t>> cases = {{first},
                                                       {first + 5000},
                                                       {end - 1},
                                                       {end - 1, first + 20000},
                                                       {first + 9000, first + 9001, first + 30000}};
  for (const std::vector<std::size_t>& failing : cases) {
    std::vector<char> done(end, 0);
    std::size_t written = 12345;
    try {
      SpreadOverThreads(
          first, end, 4, PointsPerThread,
          [&](std::size_t from, std::size_t to, std::size_t& count) {
            for (std::size_t i = from; i < to; ++i) {
              if (std::find(failing.begin(), failing.end(), i) != failing.end()) {
                count = i;
                throw std::runtime_error(std::to_string(i));
              }
              done[i] = 1;
            }
            count = to;
          },
          written);
      ADD_FAILURE() << "nothing rethrown";
    } catch (const std::runtime_error& error) {
      const std::size_t expected = *std::min_element(failing.begin(), failing.end());
      EXPECT_EQ(std::string(error.what()), std::to_string(expected));
      EXPECT_EQ(written, expected);
      EXPECT_EQ(std::count(done.begin() + first, done.begin() + expected, 1),
                static_cast<std::ptrdiff_t>(expected - first));
    }
  }
}

// The state each thread runs in: the caller's rounding and, where
// the processor has them, its denormal modes.
TEST(SpreadOverThreads, ThreadsRunInTheCallersFloatingPointEnvironment) {
  const int savedRounding = std::fegetround();
  std::fesetround(FE_DOWNWARD);
#if defined(__SSE2__)
  const unsigned savedControl = _mm_getcsr();
  _mm_setcsr(savedControl | 0x8040);
#endif
  std::atomic<int> wrong{0};
  std::size_t written = 0;
  SpreadOverThreads(
      0, 3 * PointsPerThread, 3, PointsPerThread,
      [&](std::size_t, std::size_t to, std::size_t& done) {
        if (std::fegetround() != FE_DOWNWARD) ++wrong;
#if defined(__SSE2__)
        if ((_mm_getcsr() & 0x8040) != 0x8040) ++wrong;
#endif
        done = to;
      },
      written);
#if defined(__SSE2__)
  _mm_setcsr(savedControl);
#endif
  std::fesetround(savedRounding);
  EXPECT_EQ(wrong.load(), 0);
}

// The formulas cover the interpreter's instructions, calls of built-in
// functions, comparisons and constants folded.
const char* const Formulas[] = {
    "x",
    "x * y + 3 / (x - y)",
    "sin(x) - ln(y) + exp(x/100) + sqrt(abs(y))",
    "min(x, y, 2) + max(y, x) * (x < y) - (x == y)",
    "x^y + x^2 - sum(x, y, x*y) * avg(x, y)",
    "atan2(x, y) + hypot(x, y) - where(x - y, mod(x, y), round(y))",
};

struct Call {
  const char* Formula;
  const Tier* Way;
  bool Warm;         // the machine code made (or the program derived) before
  bool InPlace;      // the results written over the values of x
  std::size_t Skew;  // the arrays start this many doubles into their storage
  int Threads;
};

// One evaluation as the run says; the values of x are xs from skew on.
std::vector<double> Evaluate(const Call& run, std::vector<double> xs, const std::vector<double>& ys) {
  ArrayParser parser;
  parser.AddMathFunctions();
  double x = 0.5, y = 0.5;
  parser.AddVariable("x", &x);
  parser.AddVariable("y", &y);
  parser.SetMachineCode(run.Way->MachineCode);
  parser.SetArrayLanes(run.Way->Lanes);
  parser.AssignFormula(run.Formula);
  if (run.Warm) {
    std::vector<double> some(2100, 1.5), out(2100);
    const VariableArray arrays[] = {{&x, some.data()}, {&y, some.data()}};
    parser.EvaluateArrays(arrays, out);
  }
  const std::size_t count = xs.size() - run.Skew;
  std::vector<double> own(run.InPlace ? 0 : count);
  const std::span<double> results =
      run.InPlace ? std::span<double>(xs).subspan(run.Skew) : std::span<double>(own);
  const VariableArray arrays[] = {{&x, xs.data() + run.Skew}, {&y, ys.data() + run.Skew}};
  std::size_t written = 7;
  parser.EvaluateArrays(arrays, results, run.Threads, &written);
  EXPECT_EQ(written, count) << run.Formula;
  return std::vector<double>(results.begin(), results.end());
}

TEST(ArrayThreads, EveryTierGivesTheBitsOfOneThread) {
  const std::size_t count = 3 * PointsPerThread + 77;
  const std::vector<double> xs = Values(count + 1, 1), ys = Values(count + 1, 2);
  for (const char* formula : Formulas)
    for (const Tier& way : Tiers)
      for (const bool warm : {false, true})
        for (const bool inPlace : {false, true})
          for (const std::size_t skew : {std::size_t{0}, std::size_t{1}}) {
            const Call one{formula, &way, warm, inPlace, skew, 1};
            const std::vector<double> expected = Evaluate(one, xs, ys);
            for (const int threads : {2, 3}) {
              Call spread = one;
              spread.Threads = threads;
              const std::size_t before = MathUtils::detail::ThreadsStarted();
              ExpectSameBits(expected, Evaluate(spread, xs, ys),
                             std::string(formula) + " [" + way.Name + (warm ? ", warm" : "") +
                                 (inPlace ? ", in place" : "") + ", skew " + std::to_string(skew) + "] on " +
                                 std::to_string(threads));
              if (std::string(formula) != "x") {
                EXPECT_GE(MathUtils::detail::ThreadsStarted() - before, static_cast<std::size_t>(threads - 1))
                    << formula;
              }
            }
          }
}

// Rounding toward -inf changes the last bit of most results: the threads
// that compute them round as the caller does.
TEST(ArrayThreads, TheCallersRoundingHoldsOnEveryThread) {
  const std::size_t count = 2 * PointsPerThread + 5;
  const std::vector<double> xs = Values(count, 3), ys = Values(count, 4);
  const int saved = std::fegetround();
  std::fesetround(FE_DOWNWARD);
  for (const Tier& way : Tiers) {
    const Call one{"x / y + x * 0.1", &way, true, false, 0, 1};
    Call spread = one;
    spread.Threads = 2;
    const std::vector<double> expected = Evaluate(one, xs, ys);
    const std::vector<double> actual = Evaluate(spread, xs, ys);
    std::fesetround(saved);
    ExpectSameBits(expected, actual, std::string("rounding down [") + way.Name + "]");
    std::fesetround(FE_DOWNWARD);
  }
  std::fesetround(saved);
}

TEST(ArrayThreads, TheSettingAndItsChecks) {
  ArrayParser parser;
  EXPECT_EQ(parser.GetArrayThreads(), 1);
  parser.SetArrayThreads(0);
  EXPECT_EQ(parser.GetArrayThreads(), 0);
  parser.SetArrayThreads(3);
  EXPECT_THROW(parser.SetArrayThreads(-1), MathUtils::ParserException);
  EXPECT_EQ(parser.GetArrayThreads(), 3) << "a refused count changes nothing";

  double x = 0;
  parser.AddVariable("x", &x);
  parser.AssignFormula("x + 1");
  std::vector<double> xs(10, 2.0), results(10, -1);
  const VariableArray arrays[] = {{&x, xs.data()}};
  std::size_t written = 99;
  try {
    parser.EvaluateArrays(arrays, results, -2, &written);
    ADD_FAILURE() << "a negative count for one call is refused";
  } catch (const MathUtils::ParserException& error) {
    EXPECT_EQ(std::string(error.what()), MathUtils::Messages::NegativeThreadCount);
  }
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(results[0], -1) << "nothing runs";
  // The setting applies where the call names none.
  parser.SetArrayThreads(2);
  const std::size_t before = MathUtils::detail::ThreadsStarted();
  // The first point compiles on the calling thread: two parts of the rest.
  std::vector<double> many(2 * PointsPerThread + 1, 2.0), out(many.size());
  const VariableArray manyArrays[] = {{&x, many.data()}};
  parser.EvaluateArrays(manyArrays, out);
  EXPECT_EQ(MathUtils::detail::ThreadsStarted() - before, 1u);
  EXPECT_EQ(out.back(), 3.0);
}

// The exception flags a call leaves are those one thread leaves, also
// where the caller had some set before and where the floor is measured:
// the library does no arithmetic of its own in the caller's flags.
TEST(ArrayThreads, TheExceptionFlagsOfOneThread) {
  struct Row {
    const char* Formula;
    int Before;  // set by the caller before the call
  };
  const Row rows[] = {{"x + y", 0},         {"x + y", FE_OVERFLOW}, {"x * y - 3", 0},
                      {"x / y", 0},         {"x / (y - y)", 0},     {"sqrt(x - 50)", FE_INEXACT},
                      {"x * 1e308 * y", 0}, {"y / 1e308 / 1e10", 0}};
  const std::size_t count = 3 * PointsPerThread + 5;
  std::vector<double> xs(count), ys(count), results(count);
  for (std::size_t i = 0; i < count; ++i) {
    xs[i] = static_cast<double>(i % 100);
    ys[i] = static_cast<double>(i % 7 + 1);
  }
  const auto flagsAfter = [&](const Row& row, const Tier& way, std::size_t floor, int threads) {
    ArrayParser parser;
    parser.SetArrayPointsPerThread(floor);
    double x = 0, y = 0;
    parser.AddVariable("x", &x);
    parser.AddVariable("y", &y);
    parser.SetMachineCode(way.MachineCode);
    parser.SetArrayLanes(way.Lanes);
    parser.AssignFormula(row.Formula);
    const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
    std::feclearexcept(FE_ALL_EXCEPT);
    std::feraiseexcept(row.Before);
    parser.EvaluateArrays(arrays, results, threads);
    const int flags = std::fetestexcept(FE_ALL_EXCEPT);
    std::feclearexcept(FE_ALL_EXCEPT);
    return flags;
  };
  for (const Row& row : rows)
    for (const Tier& way : Tiers) {
      const int one = flagsAfter(row, way, 0, 1);
      for (const std::size_t floor : {std::size_t{0}, PointsPerThread})
        for (const int threads : {2, 0})
          EXPECT_EQ(flagsAfter(row, way, floor, threads), one)
              << row.Formula << " [" << way.Name << "] on " << threads << " threads, floor " << floor;
    }
}

#if !defined(_WIN32)
// A thread evaluating over arrays on 8 threads, again and again, until it
// is cancelled: the cancellation comes while it waits for its helpers.
struct CancelledLoop {
  ArrayParser* Outside = nullptr;  // the parser, where not on the thread's stack
  double X = 0;
  std::vector<double> Xs = Values(std::size_t{1} << 20, 9), Results = std::vector<double>(Xs.size());
  std::atomic<int> Calls{0};
};

void Prepare(ArrayParser& parser, CancelledLoop& loop) {
  parser.AddVariable("x", &loop.X);
  parser.AssignFormula("sin(x) * cos(x) + exp(x / 100) * x^1.5");
}

// Cancelled, the thread unwinds through this frame: it is no more
// instrumented by the address sanitizer than the parser's own (see
// parser/program/program.h).
MATHUTILS_FRAME_UNSANITIZED void* LoopOverArrays(void* argument) {
  CancelledLoop& loop = *static_cast<CancelledLoop*>(argument);
  ArrayParser own;
  ArrayParser& parser = loop.Outside ? *loop.Outside : own;
  if (!loop.Outside) Prepare(own, loop);
  const VariableArray arrays[] = {{&loop.X, loop.Xs.data()}};
  for (;;) {
    parser.EvaluateArrays(arrays, loop.Results, 8);
    loop.Calls.fetch_add(1);
  }
}

// Nothing of the call runs once the thread has ended: no result is
// written afterwards, no helper runs the code of a parser that the
// thread's unwinding destroyed.
TEST(ArrayThreads, ACancelledCallerEndsOnceItsHelpersHaveEnded) {
  for (const bool onTheStack : {false, true}) {
    CancelledLoop loop;
    ArrayParser outside;
    if (!onTheStack) {
      Prepare(outside, loop);
      loop.Outside = &outside;
    }
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, LoopOverArrays, &loop), 0);
    const auto begun = std::chrono::steady_clock::now();
    while (loop.Calls.load() < 2 && std::chrono::steady_clock::now() - begun < std::chrono::seconds(60))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(pthread_cancel(thread), 0);
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 30;
    void* result = nullptr;
    ASSERT_EQ(pthread_timedjoin_np(thread, &result, &deadline), 0) << "the cancelled thread never ended";
    EXPECT_EQ(result, PTHREAD_CANCELED);
    const double sentinel = -12345.5;
    std::fill(loop.Results.begin(), loop.Results.end(), sentinel);
    for (int wait = 0; wait < 1000 && MathUtils::detail::HelpersRunning() > 0; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(std::count(loop.Results.begin(), loop.Results.end(), sentinel),
              static_cast<std::ptrdiff_t>(loop.Results.size()))
        << "results written after the thread ended" << (onTheStack ? ", the parser on its stack" : "");
  }
}
#endif

// The thread and the point of every call of a callback.
std::mutex CallsLock;
std::vector<std::pair<std::thread::id, double>> Calls;

double Recorded(double v) {
  const std::lock_guard<std::mutex> held(CallsLock);
  Calls.emplace_back(std::this_thread::get_id(), v);
  if (v < 0) throw std::runtime_error("negative");
  return v + 1;
}

TEST(ArrayThreads, ACallbackFormulaStaysOnTheCallingThreadInOrder) {
  for (const Tier& way : Tiers) {
    ArrayParser parser;
    double x = 0;
    parser.AddVariable("x", &x);
    parser.AddFunction("recorded", Recorded, false);
    parser.SetMachineCode(way.MachineCode);
    parser.SetArrayLanes(way.Lanes);
    parser.SetArrayThreads(0);
    parser.AssignFormula("recorded(x) * 2 + sqrt(x)");
    std::vector<double> xs(3 * PointsPerThread);
    for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i);
    const std::size_t failing = xs.size() - 100;
    xs[failing] = -1;
    std::vector<double> results(xs.size());
    const VariableArray arrays[] = {{&x, xs.data()}};
    Calls.clear();
    std::size_t written = 0;
    // Twice: compiling at the first point, then as later evaluations run.
    for (int round = 0; round < 2; ++round) {
      Calls.clear();
      EXPECT_THROW(parser.EvaluateArrays(arrays, results, 4, &written), std::runtime_error);
      EXPECT_EQ(written, failing) << way.Name;
      ASSERT_EQ(Calls.size(), failing + 1) << way.Name;
      for (std::size_t i = 0; i < Calls.size(); ++i) {
        if (Calls[i].first != std::this_thread::get_id() || Calls[i].second != xs[i]) {
          ADD_FAILURE() << way.Name << ": call " << i << " off the calling thread or out of order";
          break;
        }
      }
    }
    EXPECT_EQ(results[failing - 1], 2 * (xs[failing - 1] + 1) + std::sqrt(xs[failing - 1]));
  }
}

// A caller's own pool: each of its threads evaluates over arrays on every
// core, on a parser of its own and on one they share; all finish, right.
TEST(ArrayThreads, SpreadingFromInsideACallersThreads) {
  const std::size_t count = 2 * PointsPerThread + 3;
  const std::vector<double> xs = Values(count, 5), ys = Values(count, 6);
  const Call one{"x * y - sqrt(abs(x))", &Tiers[std::size(Tiers) - 1], true, false, 0, 1};
  const std::vector<double> expected = Evaluate(one, xs, ys);
  ArrayParser shared;
  double x = 0, y = 0;
  shared.AddVariable("x", &x);
  shared.AddVariable("y", &y);
  shared.SetArrayThreads(0);
  shared.AssignFormula(one.Formula);
  shared.Evaluate();
  std::vector<std::vector<double>> own(4), common(4, std::vector<double>(count));
  {
    std::vector<std::jthread> pool;
    for (std::size_t t = 0; t < own.size(); ++t)
      pool.emplace_back([&, t] {
        Call spread = one;
        spread.Threads = 0;
        own[t] = Evaluate(spread, xs, ys);
        const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
        shared.EvaluateArrays(arrays, common[t]);
      });
  }
  for (std::size_t t = 0; t < own.size(); ++t) {
    ExpectSameBits(expected, own[t], "a parser of the pool's thread " + std::to_string(t));
    ExpectSameBits(expected, common[t], "the shared parser on the pool's thread " + std::to_string(t));
  }
}

#if !defined(_WIN32)
// Nothing of a threaded call outlives it: a child forked after one spreads
// its own calls as well.
TEST(ArrayThreads, AThreadedCallInAChildAfterFork) {
  const std::size_t count = 2 * PointsPerThread + 9;
  const std::vector<double> xs = Values(count, 7), ys = Values(count, 8);
  const Call one{"x / y + 1", &Tiers[std::size(Tiers) - 1], true, false, 0, 1};
  const std::vector<double> expected = Evaluate(one, xs, ys);
  Call spread = one;
  spread.Threads = 2;
  ExpectSameBits(expected, Evaluate(spread, xs, ys), "before fork");
  // A helper the system had not run before the call returned ends by
  // itself; forked while it lives, the child would have been forked from
  // several threads, which ThreadSanitizer refuses to start threads after.
  for (int wait = 0; wait < 500 && MathUtils::detail::HelpersRunning() > 0; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // its last instructions
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::size_t before = MathUtils::detail::ThreadsStarted();
    const std::vector<double> actual = Evaluate(spread, xs, ys);
    const bool spreadAgain = MathUtils::detail::ThreadsStarted() > before;
    const bool same = std::memcmp(actual.data(), expected.data(), count * sizeof(double)) == 0;
    _exit(same && spreadAgain ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's threaded call";
}
#endif

}  // namespace
