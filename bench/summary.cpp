#include "bench/summary.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "bench/benchmarks.h"

namespace bench {

namespace {

constexpr double EvalTarget = 2.0;       // times native, geometric mean
constexpr double CompileTargetUs = 1.0;  // per expression, geometric mean
constexpr double EnterTargetUs = 1.0;    // each command line

// Geometric mean of the values present; NaN when none is.
double GeometricMean(const std::vector<std::optional<double>>& values) {
  double logSum = 0;
  int count = 0;
  for (const auto& value : values)
    if (value && *value > 0) {
      logSum += std::log(*value);
      ++count;
    }
  return count ? std::exp(logSum / count) : NAN;
}

std::optional<double> Ratio(std::optional<double> a, std::optional<double> b) {
  if (!a || !b || *b <= 0) return std::nullopt;
  return *a / *b;
}

std::string Format(std::optional<double> value, const char* format) {
  if (!value || std::isnan(*value)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, *value);
  return text;
}

// Timings in the summary's units: per evaluation, per compile, per Enter.
class Figures {
 public:
  Figures(const TimingReporter& timings) : Timings(timings) {}

  std::optional<double> EvalNs(Implementation who, int i, bool fastest = false) const {
    return Scaled(EvalName(who, i), 1e9 / GridSize, fastest);
  }
  std::optional<double> CompileUs(Implementation who, int i) const {
    return Scaled(CompileName(who, i), 1e6, false);
  }
  std::optional<double> EnterUs(int i) const { return Scaled(EnterName(i), 1e6, false); }
  std::optional<double> Variation(const std::string& name) const {
    const auto stats = Timings.Find(name);
    if (!stats) return std::nullopt;
    return stats->Variation;
  }

 private:
  std::optional<double> Scaled(const std::string& name, double factor, bool fastest) const {
    const auto stats = Timings.Find(name);
    if (!stats) return std::nullopt;
    return (fastest ? stats->Fastest : stats->Median) * factor;
  }
  const TimingReporter& Timings;
};

std::vector<std::optional<double>> EvalRatios(const Figures& figures, Implementation who,
                                              Implementation base, bool fastest = false) {
  std::vector<std::optional<double>> ratios;
  for (int i = 0; i < ExpressionCount; ++i)
    ratios.push_back(Ratio(figures.EvalNs(who, i, fastest), figures.EvalNs(base, i, fastest)));
  return ratios;
}

void PrintEvalTable(std::FILE* out, const Figures& figures) {
  std::fprintf(out,
               "\n| # | expression | native ns | ours ns | ours/native | fparser ns | "
               "fparser/native | ours/fparser | noise %% |\n"
               "|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
  using enum Implementation;
  for (int i = 0; i < ExpressionCount; ++i) {
    const auto native = figures.EvalNs(Native, i), ours = figures.EvalNs(Ours, i),
               peer = figures.EvalNs(Peer, i);
    double noise = 0;
    for (Implementation who : {Native, Ours, Peer})
      noise = std::max(noise, figures.Variation(EvalName(who, i)).value_or(0));
    std::fprintf(out, "| %d | `%s` | %s | %s | %s | %s | %s | %s | %.1f |\n", i + 1,
                 Expressions()[i].Ours, Format(native, "%.2f").c_str(),
                 Format(ours, "%.2f").c_str(), Format(Ratio(ours, native), "%.2fx").c_str(),
                 Format(peer, "%.2f").c_str(), Format(Ratio(peer, native), "%.2fx").c_str(),
                 Format(Ratio(ours, peer), "%.2f").c_str(), noise * 100);
  }
  std::fprintf(out, "| | **geometric mean** | | | **%s** | | **%s** | **%s** | |\n",
               Format(GeometricMean(EvalRatios(figures, Ours, Native)), "%.2fx").c_str(),
               Format(GeometricMean(EvalRatios(figures, Peer, Native)), "%.2fx").c_str(),
               Format(GeometricMean(EvalRatios(figures, Ours, Peer)), "%.2f").c_str());
}

std::string Exactness(const Agreement& agreement) {
  char text[48];
  if (agreement.Exact == GridSize) return "all";
  std::snprintf(text, sizeof text, "%d (max err %.1e)", agreement.Exact,
                agreement.MaxRelativeError);
  return text;
}

void PrintCompileTable(std::FILE* out, const Facts& facts, const Figures& figures) {
  std::fprintf(out,
               "\n| # | ours compile us | fparser parse us | cells | entries | allocs/compile | "
               "allocs/eval ours | allocs/eval fparser | points exact: ours | fparser |\n"
               "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  using enum Implementation;
  std::vector<std::optional<double>> ours, peer;
  for (int i = 0; i < ExpressionCount; ++i) {
    const ExpressionFacts& f = facts.Expressions[i];
    ours.push_back(figures.CompileUs(Ours, i));
    peer.push_back(figures.CompileUs(Peer, i));
    std::fprintf(out, "| %d | %s | %s | %d | %d | %.0f | %.3g | %.3g | %s | %s |\n", i + 1,
                 Format(ours.back(), "%.3f").c_str(), Format(peer.back(), "%.3f").c_str(),
                 f.Bytecode.Cells, f.Bytecode.Entries, f.OurAllocationsPerCompile,
                 f.OurAllocationsPerEvaluation, f.PeerAllocationsPerEvaluation,
                 Exactness(f.Ours).c_str(), Exactness(f.Peer).c_str());
  }
  std::fprintf(out, "| **geometric mean** | **%s** | **%s** | | | | | | | |\n",
               Format(GeometricMean(ours), "%.3f").c_str(),
               Format(GeometricMean(peer), "%.3f").c_str());
}

void PrintEnterTable(std::FILE* out, const Facts& facts, const Figures& figures) {
  std::fprintf(out,
               "\n| Enter on | result | us | allocations |\n"
               "|---|---|---:|---:|\n");
  for (std::size_t i = 0; i < EnterCommandLines.size(); ++i)
    std::fprintf(out, "| `%s` | %s | %s | %.0f |\n", EnterCommandLines[i].Text,
                 facts.Enter[i].Result.c_str(),
                 Format(figures.EnterUs(static_cast<int>(i)), "%.3f").c_str(),
                 facts.Enter[i].Allocations);
}

void PrintNoise(std::FILE* out, const TimingReporter& timings, const Figures& figures) {
  std::vector<double> variations;
  std::string noisiest;
  double worst = -1;
  int repetitions = 0;
  auto consider = [&](const std::string& name) {
    const auto stats = timings.Find(name);
    if (!stats) return;
    repetitions = stats->Repetitions;
    variations.push_back(stats->Variation);
    if (stats->Variation > worst) worst = stats->Variation, noisiest = name;
  };
  using enum Implementation;
  for (int i = 0; i < ExpressionCount; ++i) {
    for (Implementation who : {Native, Ours, Peer}) consider(EvalName(who, i));
    for (Implementation who : {Ours, Peer}) consider(CompileName(who, i));
  }
  for (std::size_t i = 0; i < EnterCommandLines.size(); ++i) consider(EnterName(static_cast<int>(i)));
  if (variations.empty()) return;
  std::sort(variations.begin(), variations.end());
  std::fprintf(out,
               "\nNoise: %d repetitions each; coefficient of variation median %.1f%%, worst "
               "%.1f%% (%s). From the fastest repetitions instead of the medians: ours/native "
               "%.2fx, fparser/native %.2fx.\n",
               repetitions, variations[variations.size() / 2] * 100, worst * 100, noisiest.c_str(),
               GeometricMean(EvalRatios(figures, Ours, Native, true)),
               GeometricMean(EvalRatios(figures, Peer, Native, true)));
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

void PrintTargets(std::FILE* out, const Facts& facts, const Figures& figures, double evalRatio,
                  double compileUs, double enterUs) {
  using enum Implementation;
  const double versusPeer = GeometricMean(EvalRatios(figures, Ours, Peer));
  // The peer's optimiser rewrites some formulas algebraically; its values
  // then differ from native ones in the last bits, which marks them here.
  std::string slowerArithmetic, slowerUnrewritten;
  for (int i = 0; i < ExpressionCount; ++i) {
    const auto ratio = Ratio(figures.EvalNs(Ours, i), figures.EvalNs(Peer, i));
    if (!Expressions()[i].Arithmetic || !ratio || *ratio < 1) continue;
    const bool rewritten = facts.Expressions[i].Peer.Exact != GridSize;
    slowerArithmetic += " " + std::to_string(i + 1) + (rewritten ? "*" : "");
    if (!rewritten) slowerUnrewritten += " " + std::to_string(i + 1);
  }
  double allocations = 0;
  for (const ExpressionFacts& f : facts.Expressions)
    allocations = std::max(allocations, f.OurAllocationsPerEvaluation);
  std::fprintf(out, "\nTargets:\n");
  std::fprintf(out, "- later evaluation <= %.1fx native (geomean): %.2fx, %s\n", EvalTarget,
               evalRatio, Verdict(evalRatio <= EvalTarget));
  std::fprintf(out, "- faster than fparser (geomean): %.2f of its time, %s\n", versusPeer,
               Verdict(versusPeer < 1));
  std::fprintf(out,
               "- faster than fparser on every arithmetic expression its optimiser leaves "
               "as written (bit-exact to native): %s%s\n",
               Verdict(slowerUnrewritten.empty()),
               slowerUnrewritten.empty() ? "" : (", not on" + slowerUnrewritten).c_str());
  if (!slowerArithmetic.empty())
    std::fprintf(out,
                 "  (slower than fparser on arithmetic expressions%s; * = fparser's values "
                 "differ from native, a sign of an algebraic rewrite)\n",
                 slowerArithmetic.c_str());
  std::fprintf(out, "- compile <= %.1f us (geomean): %.3f us, %s\n", CompileTargetUs, compileUs,
               Verdict(compileUs <= CompileTargetUs));
  std::fprintf(out, "- Enter path <= %.1f us for each command line: max %.3f us, %s\n",
               EnterTargetUs, enterUs, Verdict(enterUs <= EnterTargetUs));
  std::fprintf(out, "- zero allocations in a later evaluation: max %.3g per evaluation, %s\n",
               allocations, Verdict(allocations == 0));
}

}  // namespace

void PrintSummary(std::FILE* out, const Facts& facts, const TimingReporter& timings) {
  const Figures figures(timings);
  using enum Implementation;
  std::fprintf(out, "\n## Summary\n\nLater evaluations, ns per evaluation (median over the "
                    "repetitions, CPU time), each over the %d grid points; noise: the largest "
                    "coefficient of variation of the three implementations:\n",
               GridSize);
  PrintEvalTable(out, figures);
  std::fprintf(out, "\nCompilation (ours: assign the text and evaluate once; fparser: Parse "
                    "without Optimize), bytecode size, heap allocations, and points equal to "
                    "native bit for bit:\n");
  PrintCompileTable(out, facts, figures);
  PrintEnterTable(out, facts, figures);
  PrintNoise(out, timings, figures);

  std::vector<std::optional<double>> compile, enter;
  for (int i = 0; i < ExpressionCount; ++i) compile.push_back(figures.CompileUs(Ours, i));
  double enterMax = NAN;
  for (std::size_t i = 0; i < EnterCommandLines.size(); ++i)
    if (const auto us = figures.EnterUs(static_cast<int>(i)))
      enterMax = std::isnan(enterMax) ? *us : std::max(enterMax, *us);
  const double evalRatio = GeometricMean(EvalRatios(figures, Ours, Native));
  const double compileUs = GeometricMean(compile);
  PrintTargets(out, facts, figures, evalRatio, compileUs, enterMax);

  std::fprintf(out, "\neval ratio to native (geomean): %.2f\n", evalRatio);
  std::fprintf(out, "compile us (geomean): %.3f\n", compileUs);
  std::fprintf(out, "enter path us (max of three): %.3f\n", enterMax);
}

}  // namespace bench
