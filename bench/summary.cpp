#include "bench/summary.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "bench/bulk.h"
#include "bench/figures.h"

namespace Bench {

namespace {

constexpr double EvalTarget = 1.6;      // times native, geometric mean
constexpr double CompileTarget = 0.8;   // times fparser's Parse, geometric mean
constexpr double OneShotTarget = 0.65;  // times fparser's one shot, geometric mean
constexpr double EnterTargetUs = 1.0;   // each command line

std::string Code(const char* text) { return std::string("`") + text + "`"; }

// Which figure of a benchmark's timings the summary reads.
struct View {
  enum Kind { Combined, Fastest, OneProcess } Of = Combined;
  int Process = 0;
};

// Timings in the summary's units: ns per evaluation, us per compile, one
// shot or Enter.
class Figures {
 public:
  Figures(const Timings& timings, View view = {}) : All(timings), Seen(view) {}

  Value EvalNs(Implementation who, int i) const { return Scaled(EvalName(who, i), 1e9 / GridSize); }
  Value CompileUs(Implementation who, int i) const { return Scaled(CompileName(who, i), 1e6); }
  Value OneShotUs(Implementation who, int i) const { return Scaled(OneShotName(who, i), 1e6); }
  Value EnterUs(int i) const { return Scaled(EnterName(i), 1e6); }

 private:
  Value Scaled(const std::string& name, double factor) const {
    if (Seen.Of == View::OneProcess) {
      const Value median = All.ProcessMedian(name, Seen.Process);
      return median ? Value(*median * factor) : std::nullopt;
    }
    const auto stats = All.Find(name);
    if (!stats) return std::nullopt;
    return (Seen.Of == View::Fastest ? stats->Fastest : stats->Median) * factor;
  }

  const Timings& All;
  View Seen;
};

// The four figures the summary closes with.
struct Headline {
  double EvalRatio = NAN;     // ours over native, geometric mean over the set
  double CompileRatio = NAN;  // ours over fparser's Parse, geometric mean
  double OneShotRatio = NAN;  // ours over fparser's, geometric mean
  double EnterMaxUs = NAN;    // the slowest of the three command lines
};

template <typename Of>
double GeometricMeanOfRatios(int count, Of&& of) {
  std::vector<Value> ratios;
  for (int i = 0; i < count; ++i)
    ratios.push_back(Ratio(of(Implementation::Ours, i), of(Implementation::Peer, i)));
  return GeometricMean(ratios);
}

double EvalRatio(const Figures& figures, Implementation who, Implementation base) {
  std::vector<Value> ratios;
  for (int i = 0; i < ExpressionCount; ++i)
    ratios.push_back(Ratio(figures.EvalNs(who, i), figures.EvalNs(base, i)));
  return GeometricMean(ratios);
}

Headline HeadlineOf(const Figures& figures) {
  Headline headline;
  headline.EvalRatio = EvalRatio(figures, Implementation::Ours, Implementation::Native);
  headline.CompileRatio = GeometricMeanOfRatios(
      ExpressionCount, [&](Implementation who, int i) { return figures.CompileUs(who, i); });
  headline.OneShotRatio = GeometricMeanOfRatios(
      OneShotCount, [&](Implementation who, int i) { return figures.OneShotUs(who, i); });
  for (int i = 0; i < static_cast<int>(EnterCommandLines.size()); ++i)
    if (const Value us = figures.EnterUs(i))
      headline.EnterMaxUs = std::isnan(headline.EnterMaxUs) ? *us : std::max(headline.EnterMaxUs, *us);
  return headline;
}

// A Markdown table as a list of columns: adding a figure to a table is adding
// one column here.
struct Column {
  const char* Header;
  bool Numeric;  // right-aligned
  std::function<std::string(int row)> Cell;
  std::string Footer = "";  // the closing row, e.g. a geometric mean
};

void PrintTable(std::FILE* out, const std::vector<Column>& columns, int rows, bool withFooter = false) {
  std::string header = "|", rule = "|";
  for (const Column& column : columns) {
    header += " " + std::string(column.Header) + " |";
    rule += column.Numeric ? "---:|" : "---|";
  }
  std::fprintf(out, "\n%s\n%s\n", header.c_str(), rule.c_str());
  for (int row = 0; row < rows; ++row) {
    std::string line = "|";
    for (const Column& column : columns) line += " " + column.Cell(row) + " |";
    std::fprintf(out, "%s\n", line.c_str());
  }
  if (!withFooter) return;
  std::string line = "|";
  for (const Column& column : columns) line += column.Footer.empty() ? " |" : " **" + column.Footer + "** |";
  std::fprintf(out, "%s\n", line.c_str());
}

// Noise of a benchmark: the coefficient of variation within a process, and
// the spread of the processes' medians.
struct Noise {
  double Variation = 0;
  double Spread = 1;
};

Noise NoiseOf(const Timings& timings, const std::vector<std::string>& names) {
  Noise noise;
  for (const std::string& name : names)
    if (const auto stats = timings.Find(name)) {
      noise.Variation = std::max(noise.Variation, stats->Variation);
      noise.Spread = std::max(noise.Spread, stats->Spread);
    }
  return noise;
}

Column NoiseColumn(const Timings& timings, std::function<std::vector<std::string>(int)> names) {
  return {"noise % / spread", true, [&timings, names](int i) {
            const Noise noise = NoiseOf(timings, names(i));
            return Format(noise.Variation * 100, "%.1f") + " / " + Format(noise.Spread, "%.2f");
          }};
}

void PrintEvalTable(std::FILE* out, const Timings& timings, const Figures& figures) {
  using enum Implementation;
  const auto ns = [&](Implementation who) {
    return [&figures, who](int i) { return Format(figures.EvalNs(who, i), "%.2f"); };
  };
  const auto ratio = [&](Implementation who, Implementation base, const char* format) {
    return [&figures, who, base, format](int i) {
      return Format(Ratio(figures.EvalNs(who, i), figures.EvalNs(base, i)), format);
    };
  };
  const auto mean = [&](Implementation who, Implementation base, const char* format) {
    return Format(EvalRatio(figures, who, base), format);
  };
  PrintTable(
      out,
      {{"#", true, [](int i) { return std::to_string(i + 1); }},
       {"expression", false, [](int i) { return Code(Expressions()[i].Ours); }, "geometric mean"},
       {"native ns", true, ns(Native)},
       {"ours ns", true, ns(Ours)},
       {"ours/native", true, ratio(Ours, Native, "%.2fx"), mean(Ours, Native, "%.2fx")},
       {"fparser ns", true, ns(Peer)},
       {"fparser/native", true, ratio(Peer, Native, "%.2fx"), mean(Peer, Native, "%.2fx")},
       {"ours/fparser", true, ratio(Ours, Peer, "%.2f"), mean(Ours, Peer, "%.2f")},
       {"interpreted ns", true, ns(Interpreted)},
       {"interpreted/native", true, ratio(Interpreted, Native, "%.2fx"), mean(Interpreted, Native, "%.2fx")},
       NoiseColumn(timings,
                   [](int i) {
                     return std::vector{EvalName(Native, i), EvalName(Ours, i), EvalName(Peer, i),
                                        EvalName(Interpreted, i)};
                   })},
      ExpressionCount, true);
}

std::string Exactness(const Agreement& agreement) {
  char text[48];
  if (agreement.Exact == GridSize) return "all";
  std::snprintf(text, sizeof text, "%d (max err %.1e)", agreement.Exact, agreement.MaxRelativeError);
  return text;
}

std::string Count(double value) { return Format(value, "%.3g"); }
std::string Bytes(std::int64_t bytes) { return std::to_string(bytes); }

void PrintCompileTable(std::FILE* out, const Facts& facts, const Timings& timings, const Figures& figures) {
  using enum Implementation;
  const auto us = [&](Implementation who) {
    return [&figures, who](int i) { return Format(figures.CompileUs(who, i), "%.3f"); };
  };
  const auto mean = [&](Implementation who) {
    std::vector<Value> values;
    for (int i = 0; i < ExpressionCount; ++i) values.push_back(figures.CompileUs(who, i));
    return Format(GeometricMean(values), "%.3f");
  };
  const auto expression = [&facts](int i) -> const ExpressionFacts& { return facts.Expressions[i]; };
  PrintTable(
      out,
      {{"#", true, [](int i) { return std::to_string(i + 1); }, "geometric mean"},
       {"ours compile us", true, us(Ours), mean(Ours)},
       {"fparser parse us", true, us(Peer), mean(Peer)},
       {"ours/fparser", true,
        [&figures](int i) {
          return Format(Ratio(figures.CompileUs(Ours, i), figures.CompileUs(Peer, i)), "%.2f");
        },
        Format(HeadlineOf(figures).CompileRatio, "%.2f")},
       {"cells", true, [=](int i) { return std::to_string(expression(i).Bytecode.Cells); }},
       {"entries", true, [=](int i) { return std::to_string(expression(i).Bytecode.Entries); }},
       {"machine code bytes", true, [=](int i) { return Bytes(expression(i).OurMachineCodeBytes); }},
       {"parser bytes: ours", true, [=](int i) { return Bytes(expression(i).OurParserBytes); }},
       {"fparser", true, [=](int i) { return Bytes(expression(i).PeerParserBytes); }},
       {"allocs/compile", true, [=](int i) { return Count(expression(i).OurAllocationsPerCompile); }},
       {"allocs/eval: ours", true, [=](int i) { return Count(expression(i).OurAllocationsPerEvaluation); }},
       {"fparser", true, [=](int i) { return Count(expression(i).PeerAllocationsPerEvaluation); }},
       {"points exact: ours", true, [=](int i) { return Exactness(expression(i).Ours); }},
       {"fparser", true, [=](int i) { return Exactness(expression(i).Peer); }},
       NoiseColumn(timings,
                   [](int i) {
                     return std::vector{CompileName(Ours, i), CompileName(Peer, i)};
                   })},
      ExpressionCount, true);
}

void PrintOneShotTable(std::FILE* out, const Facts& facts, const Timings& timings, const Figures& figures) {
  using enum Implementation;
  const auto us = [&](Implementation who) {
    return [&figures, who](int i) { return Format(figures.OneShotUs(who, i), "%.3f"); };
  };
  const auto side = [&facts](Implementation who, int i) -> const OneShotSide& {
    return who == Ours ? facts.OneShot[i].Ours : facts.OneShot[i].Peer;
  };
  const auto value = [side](Implementation who) {
    return [side, who](int i) {
      return Format(side(who, i).Value, "%.17g") + (side(who, i).Exact ? "" : " (not native's)");
    };
  };
  const auto mean = [&](Implementation who) {
    std::vector<Value> values;
    for (int i = 0; i < OneShotCount; ++i) values.push_back(figures.OneShotUs(who, i));
    return Format(GeometricMean(values), "%.3f");
  };
  PrintTable(
      out,
      {{"formula: ours", false, [](int i) { return Code(OneShotFormulas()[i].Ours); }, "geometric mean"},
       {"fparser", false, [](int i) { return Code(OneShotFormulas()[i].Peer); }},
       {"value: ours", true, value(Ours)},
       {"fparser", true, value(Peer)},
       {"ours us", true, us(Ours), mean(Ours)},
       {"fparser us", true, us(Peer), mean(Peer)},
       {"ours/fparser", true,
        [&figures](int i) {
          return Format(Ratio(figures.OneShotUs(Ours, i), figures.OneShotUs(Peer, i)), "%.2f");
        },
        Format(HeadlineOf(figures).OneShotRatio, "%.2f")},
       {"allocations: ours", true, [side](int i) { return Count(side(Ours, i).Allocations); }},
       {"fparser", true, [side](int i) { return Count(side(Peer, i).Allocations); }},
       {"parser bytes: ours", true, [side](int i) { return Bytes(side(Ours, i).ParserBytes); }},
       {"fparser", true, [side](int i) { return Bytes(side(Peer, i).ParserBytes); }},
       NoiseColumn(timings,
                   [](int i) {
                     return std::vector{OneShotName(Ours, i), OneShotName(Peer, i)};
                   })},
      OneShotCount, true);
}

void PrintEnterTable(std::FILE* out, const Facts& facts, const Timings& timings, const Figures& figures) {
  PrintTable(out,
             {{"Enter on", false, [](int i) { return Code(EnterCommandLines[i].Text); }},
              {"result", false, [&facts](int i) { return facts.Enter[i].Result; }},
              {"us", true, [&figures](int i) { return Format(figures.EnterUs(i), "%.3f"); }},
              {"allocations", true, [&facts](int i) { return Count(facts.Enter[i].Allocations); }},
              NoiseColumn(timings, [](int i) { return std::vector{EnterName(i)}; })},
             static_cast<int>(EnterCommandLines.size()));
}

// The headline of each process on its own: how far apart separate
// processes land, which the median of their medians evens out.
void PrintProcessTable(std::FILE* out, const Timings& timings, const Headline& combined) {
  std::vector<Headline> rows;
  for (int p = 0; p < timings.ProcessCount(); ++p)
    rows.push_back(HeadlineOf(Figures(timings, {View::OneProcess, p})));
  rows.push_back(combined);
  const int last = static_cast<int>(rows.size()) - 1;
  const auto figure = [&rows](double Headline::*member, const char* format) {
    return [&rows, member, format](int i) { return Format(rows[i].*member, format); };
  };
  PrintTable(
      out,
      {{"process", false,
        [last](int i) { return i == last ? std::string("**median of medians**") : std::to_string(i + 1); }},
       {"eval ratio to native", true, figure(&Headline::EvalRatio, "%.2f")},
       {"compile ratio to fparser", true, figure(&Headline::CompileRatio, "%.2f")},
       {"one-shot ratio to fparser", true, figure(&Headline::OneShotRatio, "%.2f")},
       {"enter path us (max of three)", true, figure(&Headline::EnterMaxUs, "%.3f")}},
      static_cast<int>(rows.size()));
}

void PrintNoise(std::FILE* out, const Timings& timings) {
  std::vector<double> variations;
  std::string noisiest, widest;
  double worstVariation = -1, worstSpread = 0;
  int repetitions = 0;
  auto consider = [&](const std::string& name) {
    const auto stats = timings.Find(name);
    if (!stats) return;
    repetitions = std::max(repetitions, stats->Repetitions);
    variations.push_back(stats->Variation);
    if (stats->Variation > worstVariation) worstVariation = stats->Variation, noisiest = name;
    if (stats->Spread > worstSpread) worstSpread = stats->Spread, widest = name;
  };
  using enum Implementation;
  for (int i = 0; i < ExpressionCount; ++i) {
    for (Implementation who : {Native, Ours, Peer}) consider(EvalName(who, i));
    for (Implementation who : {Ours, Peer}) consider(CompileName(who, i));
  }
  for (int i = 0; i < OneShotCount; ++i)
    for (Implementation who : {Ours, Peer}) consider(OneShotName(who, i));
  for (int i = 0; i < static_cast<int>(EnterCommandLines.size()); ++i) consider(EnterName(i));
  if (variations.empty()) return;
  std::sort(variations.begin(), variations.end());
  const Figures fastest(timings, {View::Fastest});
  std::fprintf(out,
               "\nNoise: %d repetitions in each of %d processes; coefficient of variation within "
               "a process: median %.1f%%, worst %.1f%% (%s); the processes' medians of one "
               "benchmark differ by up to %.2fx (%s). From the fastest repetitions instead of the "
               "medians: ours/native %.2fx, fparser/native %.2fx.\n",
               repetitions, timings.ProcessCount(), variations[variations.size() / 2] * 100,
               worstVariation * 100, noisiest.c_str(), worstSpread, widest.c_str(),
               EvalRatio(fastest, Ours, Native), EvalRatio(fastest, Peer, Native));
}

const char* Verdict(bool met) { return met ? "MET" : "MISSED"; }

void PrintTargets(std::FILE* out, const Facts& facts, const Headline& headline) {
  double allocations = 0;
  std::int64_t fewestBytes = INT64_MAX, mostBytes = 0, fewestCode = INT64_MAX, mostCode = 0;
  for (const ExpressionFacts& f : facts.Expressions) {
    allocations = std::max(allocations, f.OurAllocationsPerEvaluation);
    fewestBytes = std::min(fewestBytes, f.OurParserBytes);
    mostBytes = std::max(mostBytes, f.OurParserBytes);
    fewestCode = std::min(fewestCode, f.OurMachineCodeBytes);
    mostCode = std::max(mostCode, f.OurMachineCodeBytes);
  }
  std::fprintf(out, "\nTargets:\n");
  std::fprintf(out, "- later evaluations <= %.2fx native (geomean): %.2fx, %s\n", EvalTarget,
               headline.EvalRatio, Verdict(headline.EvalRatio <= EvalTarget));
  std::fprintf(out, "- compile <= %.2fx fparser's Parse (geomean): %.2fx, %s\n", CompileTarget,
               headline.CompileRatio, Verdict(headline.CompileRatio <= CompileTarget));
  std::fprintf(out, "- one-shot <= %.2fx fparser's (geomean): %.2fx, %s\n", OneShotTarget,
               headline.OneShotRatio, Verdict(headline.OneShotRatio <= OneShotTarget));
  std::fprintf(out, "- Enter path <= %.1f us for each command line: max %.3f us, %s\n", EnterTargetUs,
               headline.EnterMaxUs, Verdict(headline.EnterMaxUs <= EnterTargetUs));
  std::fprintf(out, "- zero allocations in a later evaluation: max %.3g per evaluation, %s\n", allocations,
               Verdict(allocations == 0));
  std::fprintf(out,
               "- memory per parser (the object and its heap, x, y and clamp defined, one "
               "expression compiled): %lld to %lld bytes; with the default vocabulary alone "
               "and `%s` compiled: %lld bytes\n",
               static_cast<long long>(fewestBytes), static_cast<long long>(mostBytes),
               OneShotFormulas()[0].Ours, static_cast<long long>(facts.OneShot[0].Ours.ParserBytes));
  std::fprintf(out,
               "- machine code per formula (instructions and their constants, in pages of its "
               "own): %lld to %lld bytes\n",
               static_cast<long long>(fewestCode), static_cast<long long>(mostCode));
}

}  // namespace

void PrintSummary(std::FILE* out, const Facts& facts, const Timings& timings) {
  const Figures figures(timings);
  const Headline headline = HeadlineOf(figures);
  std::fprintf(out,
               "\n## Summary\n\nEvery time is CPU time: the median of each process's "
               "repetitions, then the median of those over %d process%s.\n",
               timings.ProcessCount(), timings.ProcessCount() == 1 ? "" : "es");
  std::fprintf(out,
               "\nLater evaluations, ns per evaluation, each over the %d grid points; noise: the "
               "largest coefficient of variation within a process and the largest ratio of "
               "process medians, of the four implementations (ours runs machine code, "
               "interpreted is ours with it switched off):\n",
               GridSize);
  PrintEvalTable(out, timings, figures);
  std::fprintf(out,
               "\nCompilation (ours: assign the text, compile and evaluate once; fparser: Parse "
               "without Optimize), bytecode size, memory per parser, heap allocations, and "
               "points equal to native bit for bit:\n");
  PrintCompileTable(out, facts, timings, figures);
  std::fprintf(out,
               "\nOne-shot: a new parser with its default vocabulary, the formula, one "
               "evaluation, the parser dropped (fparser: a new FunctionParser, Parse with "
               "angles in degrees, Eval). fparser has no sum: it gets `(1+2+3)` instead. "
               "Allocations are per shot; parser bytes are held just before the parser is "
               "dropped:\n");
  PrintOneShotTable(out, facts, timings, figures);
  std::fprintf(out,
               "\nThe Enter path: a new parser reading both vocabularies from one built once per "
               "unit system, compile, evaluate, format the value:\n");
  PrintEnterTable(out, facts, timings, figures);
  std::fprintf(out, "\nEach process on its own (its medians), and the figures of the summary:\n");
  PrintProcessTable(out, timings, headline);
  PrintNoise(out, timings);
  PrintTargets(out, facts, headline);

  std::fprintf(out, "\neval ratio to native (geomean): %.2f\n", headline.EvalRatio);
  std::fprintf(out, "compile ratio to fparser (geomean): %.2f\n", headline.CompileRatio);
  std::fprintf(out, "one-shot ratio to fparser (geomean): %.2f\n", headline.OneShotRatio);
  std::fprintf(out, "enter path us (max of three): %.3f\n", headline.EnterMaxUs);
  PrintBulkSummary(out, timings);
}

}  // namespace Bench
