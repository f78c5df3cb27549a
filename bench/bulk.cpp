#include "bench/bulk.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>

#include "bench/expression_set.h"
#include "bench/figures.h"
#include "bench/formulas.h"
#include "bench/result_checks.h"
#include "parser/parser.h"

namespace Bench {

namespace {

constexpr double BulkTarget = 0.6;         // times native, geometric mean
constexpr double BulkCeiling = 1.1;        // times native, each expression and set
constexpr double InterpretedTarget = 3;    // times native, geometric mean, machine code off
constexpr double VectorMathTarget = 0.35;  // times native, geometric mean, the deterministic library
constexpr double AllCoresTarget = 0.25;    // times native on one thread, geometric mean, random set
constexpr double MathFunctionsTarget =
    0.5;  // times native, each of the bulk set's own, the deterministic library
constexpr double ShortCallCeiling = 1.1;  // a short call with threads 0, times the same with threads 1
constexpr std::size_t ShortCallPoints = 16;
constexpr std::size_t RandomPoints = std::size_t{1} << 20;

struct PointArrays {
  std::vector<double> X, Y;
};

PointArrays GridArrays() {
  PointArrays arrays;
  for (const Point& p : Grid()) {
    arrays.X.push_back(p.X);
    arrays.Y.push_back(p.Y);
  }
  return arrays;
}

// The grid's ranges: x in -10..10 without 0, y = +-2..10.
PointArrays RandomArrays() {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> x(-10, 10), magnitude(2, 10);
  PointArrays arrays;
  arrays.X.resize(RandomPoints);
  arrays.Y.resize(RandomPoints);
  for (std::size_t i = 0; i < RandomPoints; ++i) {
    double value = x(random);
    arrays.X[i] = value == 0 ? 0.5 : value;
    arrays.Y[i] = (random() & 1) ? magnitude(random) : -magnitude(random);
  }
  return arrays;
}

const PointArrays& Points(BulkSet set) {
  static const PointArrays GridSet = GridArrays();
  static const PointArrays RandomSet = RandomArrays();
  return set == BulkSet::Grid ? GridSet : RandomSet;
}

const char* SetName(BulkSet set) { return set == BulkSet::Grid ? "grid" : "random"; }

bool VectorMathAvailable() {
  return MathUtils::ParserBase::MathLibraryAvailable(MathUtils::MathLibrary::Deterministic);
}

// The parser of the vector math line: the deterministic library, whose
// functions the machine code calls in their vector forms.
void ConfigureVectorMath(MathUtils::Parser& parser) {
  parser.SetMathLibrary(MathUtils::MathLibrary::Deterministic);
}

// The library of the all-cores line: the deterministic one where the build
// has it.
void ConfigureAllCoresLibrary(MathUtils::Parser& parser) {
  if (VectorMathAvailable()) ConfigureVectorMath(parser);
}

// The parser of the all-cores line, configured here alone: every core.
void ConfigureAllCores(MathUtils::Parser& parser) {
  ConfigureAllCoresLibrary(parser);
  parser.SetArrayThreads(0);
}

// Our parser with x and y bound, evaluated over the arrays; interpreted
// where the machine code is off; configured further where given.
class OurBulk {
 public:
  explicit OurBulk(const char* text, bool machineCode = true,
                   void (*configure)(MathUtils::Parser&) = nullptr) {
    PrepareOurParser(Parser, &X, &Y);
    Parser.SetMachineCode(machineCode);
    if (configure) configure(Parser);
    Parser.AssignFormula(text);
  }
  void Run(const PointArrays& points, std::vector<double>& out) {
    const MathUtils::VariableArray arrays[] = {{&X, points.X.data()}, {&Y, points.Y.data()}};
    Parser.EvaluateArrays(arrays, out);
  }

 private:
  double X = 0, Y = 0;
  MathUtils::Parser Parser;
};

void BulkNative(benchmark::State& state, int expression, BulkSet set) {
  const PointArrays& points = Points(set);
  std::vector<double> out(points.X.size());
  const NativeBulk bulk = BulkExpression(expression).Bulk;
  for (auto _ : state) {
    bulk(points.X.data(), points.Y.data(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// The machine code, where on, is made during the first run, before timing
// starts.
void BulkOurs(benchmark::State& state, int expression, BulkSet set, bool machineCode,
              void (*configure)(MathUtils::Parser&)) {
  const PointArrays& points = Points(set);
  std::vector<double> out(points.X.size());
  OurBulk formula(BulkExpression(expression).Ours, machineCode, configure);
  formula.Run(points, out);
  for (auto _ : state) {
    formula.Run(points, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// A call too short to spread: with threads 0 it must cost what it costs
// with threads 1.
void ShortCall(benchmark::State& state, int threads) {
  double x = 0, y = 0;
  MathUtils::Parser parser;
  parser.AddVariable("x", &x);
  parser.AddVariable("y", &y);
  parser.AssignFormula("x*y+1");
  std::vector<double> xs(ShortCallPoints, 1.5), ys(ShortCallPoints, 2.5), out(ShortCallPoints);
  for (std::size_t i = 0; i < ShortCallPoints; ++i) xs[i] += static_cast<double>(i);
  const MathUtils::VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
  for (int warm = 0; warm < 1000; ++warm) parser.EvaluateArrays(arrays, out, threads);  // machine code made
  for (auto _ : state) {
    parser.EvaluateArrays(arrays, out, threads);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

std::string ShortCallName(int threads) { return "bulk/short/threads-" + std::to_string(threads); }

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

Value NsPerPoint(const Timings& timings, Implementation who, int expression, BulkSet set) {
  const auto stats = timings.Find(BulkName(who, expression, set));
  if (!stats) return std::nullopt;
  return stats->Median * 1e9 / static_cast<double>(BulkPointCount(set));
}

// The deterministic library: the machine code in lanes gives the block
// interpreter's bits, close to native.
void VectorMathMismatches(int expression, const PointArrays& points, std::vector<std::string>& mismatches) {
  const char* text = BulkExpression(expression).Ours;
  OurBulk vector(text, true, ConfigureVectorMath), interpreted(text, false, ConfigureVectorMath);
  std::vector<double> out(points.X.size()), expected(points.X.size());
  interpreted.Run(points, expected);
  for (int run = 0; run < 2; ++run) {
    vector.Run(points, out);
    for (std::size_t p = 0; p < out.size(); ++p) {
      const double native = BulkExpression(expression).Native(points.X[p], points.Y[p]);
      const bool close = std::fabs(out[p] - native) <= RelativeTolerance * std::max(std::fabs(native), 1.0);
      if (Bits(out[p]) != Bits(expected[p]) || !close) {
        mismatches.push_back("bulk, vector math " + std::string(text) + " at point " + std::to_string(p));
        break;
      }
    }
  }
}

// ns per point and the ratio to native with the deterministic math
// library; returns the geometric mean of the ratios.
double PrintVectorMathTable(std::FILE* out, const Timings& timings) {
  std::fprintf(out,
               "\nWith the deterministic math library (SetMathLibrary), ns per point, against the same "
               "native loops:\n\n| # | vector grid | vector/native | vector random | vector/native |\n"
               "|---:|---:|---:|---:|---:|\n");
  std::vector<Value> ratios;
  for (int i = 0; i < BulkExpressionCount; ++i) {
    std::string line = "| " + std::to_string(i + 1) + " |";
    for (const BulkSet set : BulkSets) {
      const Value vector = NsPerPoint(timings, Implementation::VectorMath, i, set);
      const Value ratio = Ratio(vector, NsPerPoint(timings, Implementation::Native, i, set));
      line += " " + Format(vector, "%.2f") + " | " + Format(ratio, "%.2fx") + " |";
      ratios.push_back(ratio);
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
  return GeometricMean(ratios);
}

}  // namespace

std::size_t BulkPointCount(BulkSet set) { return Points(set).X.size(); }

std::string BulkName(Implementation implementation, int expression, BulkSet set) {
  const char* who = implementation == Implementation::Native        ? "native"
                    : implementation == Implementation::Interpreted ? "interpreted"
                    : implementation == Implementation::VectorMath  ? "vector"
                    : implementation == Implementation::AllCores    ? "all-cores"
                                                                    : "ours";
  char name[48];
  std::snprintf(name, sizeof name, "bulk/%s/%02d/%s", who, expression + 1, SetName(set));
  return name;
}

bool OnTheWallClock(const std::string& name) { return name.starts_with("bulk/all-cores/"); }

void RegisterBulkBenchmarks() {
  for (const int threads : {1, 0})
    benchmark::RegisterBenchmark(ShortCallName(threads).c_str(), ShortCall, threads);
  const bool vectorMath = VectorMathAvailable();
  for (const BulkSet set : BulkSets)
    for (int i = 0; i < BulkExpressionCount; ++i) {
      benchmark::RegisterBenchmark(BulkName(Implementation::Native, i, set).c_str(), BulkNative, i, set);
      benchmark::RegisterBenchmark(BulkName(Implementation::Ours, i, set).c_str(), BulkOurs, i, set, true,
                                   nullptr);
      benchmark::RegisterBenchmark(BulkName(Implementation::Interpreted, i, set).c_str(), BulkOurs, i, set,
                                   false, nullptr);
      // "vector": ours with the deterministic math library, where the build has it.
      if (vectorMath)
        benchmark::RegisterBenchmark(BulkName(Implementation::VectorMath, i, set).c_str(), BulkOurs, i, set,
                                     true, ConfigureVectorMath);
      // The grid's 1,024 points stay on one thread: too few to repay one.
      if (set == BulkSet::Random)
        benchmark::RegisterBenchmark(BulkName(Implementation::AllCores, i, set).c_str(), BulkOurs, i, set,
                                     true, ConfigureAllCores);  // timed on the wall clock: OnTheWallClock
    }
}

std::vector<std::string> BulkMismatches() {
  std::vector<std::string> mismatches;
  const PointArrays& points = Points(BulkSet::Grid);
  for (int i = 0; i < BulkExpressionCount; ++i) {
    OurBulk bulk(BulkExpression(i).Ours), interpreted(BulkExpression(i).Ours, false);
    OurFormula single(BulkExpression(i).Ours);
    std::vector<double> out(points.X.size());
    // Interpreted, then as machine code; then with the machine code off.
    for (int run = 0; run < 3; ++run) {
      (run < 2 ? bulk : interpreted).Run(points, out);
      for (std::size_t p = 0; p < out.size(); ++p) {
        const double expected = single.At(points.X[p], points.Y[p]);
        const double native = BulkExpression(i).Native(points.X[p], points.Y[p]);
        const bool close = std::fabs(out[p] - native) <= RelativeTolerance * std::max(std::fabs(native), 1.0);
        if (Bits(out[p]) != Bits(expected) || !close) {
          mismatches.push_back("bulk " + std::string(BulkExpression(i).Ours) + " at point " +
                               std::to_string(p));
          break;
        }
      }
    }
    if (VectorMathAvailable()) VectorMathMismatches(i, points, mismatches);
    // Every core: the bits of one thread, interpreted and as machine code.
    const PointArrays& random = Points(BulkSet::Random);
    OurBulk one(BulkExpression(i).Ours, true, ConfigureAllCoresLibrary),
        allCores(BulkExpression(i).Ours, true, ConfigureAllCores);
    std::vector<double> expected(random.X.size()), spread(random.X.size());
    for (int run = 0; run < 2; ++run) {
      one.Run(random, expected);
      allCores.Run(random, spread);
      if (std::memcmp(expected.data(), spread.data(), expected.size() * sizeof(double)) != 0)
        mismatches.push_back("bulk on every core " + std::string(BulkExpression(i).Ours));
    }
  }
  return mismatches;
}

namespace {

// Ours on every core against native on one thread, random set; returns the
// geometric mean.
double PrintAllCoresSummary(std::FILE* out, const Timings& timings) {
  std::fprintf(
      out,
      "\nOn every core (%d threads, the default count for this process; SetArrayThreads(0)) with the "
      "deterministic math library where the build has it, the random set, ns per point, against "
      "native on one thread:\n\n"
      "| # | native | ours, one thread | ours, all cores | all cores/native |\n"
      "|---:|---:|---:|---:|---:|\n",
      MathUtils::ParserBase::DefaultArrayThreads());
  std::vector<Value> ratios;
  for (int i = 0; i < BulkExpressionCount; ++i) {
    const Value native = NsPerPoint(timings, Implementation::Native, i, BulkSet::Random);
    const Value one =
        NsPerPoint(timings, VectorMathAvailable() ? Implementation::VectorMath : Implementation::Ours, i,
                   BulkSet::Random);
    const Value all = NsPerPoint(timings, Implementation::AllCores, i, BulkSet::Random);
    ratios.push_back(Ratio(all, native));
    std::fprintf(out, "| %d | %s | %s | %s | %s |\n", i + 1, Format(native, "%.2f").c_str(),
                 Format(one, "%.2f").c_str(), Format(all, "%.2f").c_str(),
                 Format(ratios.back(), "%.2fx").c_str());
  }
  const double mean = GeometricMean(ratios);
  std::fprintf(out, "\n- over arrays on every core <= %.2fx native on one thread (geomean): %.2fx, %s\n",
               AllCoresTarget, mean, mean <= AllCoresTarget ? "MET" : "MISSED");
  return mean;
}

}  // namespace

void PrintBulkSummary(std::FILE* out, const Timings& timings) {
  std::fprintf(out,
               "\nFormulas over arrays, ns per point: native is the formula inlined in a loop over "
               "`const double* __restrict` arrays (-O2, no -march); ours is EvaluateArrays over "
               "the same arrays, %zu grid points and %zu random points; interpreted is ours with the "
               "machine code switched off (SetMachineCode(false)):\n",
               BulkPointCount(BulkSet::Grid), BulkPointCount(BulkSet::Random));
  std::fprintf(
      out,
      "\n| # | expression | native grid | ours grid | ours/native | interpreted | interpreted/native "
      "| native random | ours random | ours/native | interpreted | interpreted/native |\n"
      "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::vector<Value> ratios, interpretedRatios;
  double worst = 0;
  for (int i = 0; i < BulkExpressionCount; ++i) {
    std::string line = "| " + std::to_string(i + 1) + " | `" + BulkExpression(i).Ours + "` |";
    for (const BulkSet set : BulkSets) {
      const Value native = NsPerPoint(timings, Implementation::Native, i, set);
      const Value ours = NsPerPoint(timings, Implementation::Ours, i, set);
      const Value interpreted = NsPerPoint(timings, Implementation::Interpreted, i, set);
      const Value ratio = Ratio(ours, native);
      const Value interpretedRatio = Ratio(interpreted, native);
      line += " " + Format(native, "%.2f") + " | " + Format(ours, "%.2f") + " | " + Format(ratio, "%.2fx") +
              " | " + Format(interpreted, "%.2f") + " | " + Format(interpretedRatio, "%.2fx") + " |";
      ratios.push_back(ratio);
      interpretedRatios.push_back(interpretedRatio);
      if (ratio) worst = std::max(worst, *ratio);
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
  const double mean = GeometricMean(ratios);
  const double interpretedMean = GeometricMean(interpretedRatios);
  const double vectorMean = PrintVectorMathTable(out, timings);
  std::fprintf(out,
               "\n- over arrays <= %.2fx native (geomean of both sets): %.2fx, %s; no expression above "
               "%.2fx: worst %.2fx, %s\n",
               BulkTarget, mean, mean <= BulkTarget ? "MET" : "MISSED", BulkCeiling, worst,
               worst <= BulkCeiling ? "MET" : "MISSED");
  std::fprintf(out, "- interpreted over arrays <= %.2fx native (geomean of both sets): %.2fx, %s\n",
               InterpretedTarget, interpretedMean, interpretedMean <= InterpretedTarget ? "MET" : "MISSED");
  std::fprintf(out,
               "- over arrays with the deterministic math library (vector forms) <= %.2fx native (geomean "
               "of both sets, native with std:: functions): %.2fx, %s\n",
               VectorMathTarget, vectorMean, vectorMean <= VectorMathTarget ? "MET" : "MISSED");
  double worstMath = 0;
  for (int i = ExpressionCount; i < BulkExpressionCount; ++i)
    for (const BulkSet set : BulkSets)
      if (const Value ratio = Ratio(NsPerPoint(timings, Implementation::VectorMath, i, set),
                                    NsPerPoint(timings, Implementation::Native, i, set)))
        worstMath = std::max(worstMath, *ratio);
  std::fprintf(out,
               "- the math functions' formulas (%d-%d) with the deterministic math library on one thread "
               "<= %.2fx native, each and both sets: worst %.2fx, %s\n",
               ExpressionCount + 1, BulkExpressionCount, MathFunctionsTarget, worstMath,
               worstMath <= MathFunctionsTarget ? "MET" : "MISSED");
  const double allCoresMean = PrintAllCoresSummary(out, timings);
  const auto shortCallNs = [&](int threads) -> Value {
    const auto stats = timings.Find(ShortCallName(threads));
    return stats ? Value(stats->Median * 1e9) : std::nullopt;
  };
  const Value shortRatio = Ratio(shortCallNs(0), shortCallNs(1));
  std::fprintf(out,
               "\n- a call of %zu points (`x*y+1`) with threads 0 <= %.2fx the same with threads 1: %s ns "
               "against %s ns, %s, %s\n",
               ShortCallPoints, ShortCallCeiling, Format(shortCallNs(0), "%.1f").c_str(),
               Format(shortCallNs(1), "%.1f").c_str(), Format(shortRatio, "%.2fx").c_str(),
               shortRatio && *shortRatio <= ShortCallCeiling ? "MET" : "MISSED");
  std::fprintf(out, "\nbulk ratio to native (geomean): %.2f\n", mean);
  std::fprintf(out, "bulk ratio to native, interpreted (geomean): %.2f\n", interpretedMean);
  std::fprintf(out, "bulk ratio to native, vector math (geomean): %.2f\n", vectorMean);
  std::fprintf(out, "bulk ratio to native, all cores (geomean): %.2f\n", allCoresMean);
  std::fprintf(out, "short call ratio, threads 0 to threads 1: %s\n", Format(shortRatio, "%.2f").c_str());
}

}  // namespace Bench
