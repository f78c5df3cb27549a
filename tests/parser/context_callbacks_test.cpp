// Callbacks with state: functions of one argument and of lists, prefix and
// postfix operators defined with a context pointer or as a callable object.
// Each form reaches its state and throws through every tier (folded at
// compile time, the cells, the program, the machine code), a name moves
// between plain and context definitions like any other, and the parser's
// copies of callable objects live exactly as long as something may call
// them.
#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "parser/x86/machine_code.h"
#include "parser_test_support.h"

namespace ParserTests {
namespace {

using namespace MathUtils;

double X = 0, Y = 0;

// How the value is computed.
enum class Tier { Folded, Cells, Program, MachineCode };
constexpr Tier Tiers[] = {Tier::Folded, Tier::Cells, Tier::Program, Tier::MachineCode};
const char* const TierNames[] = {"folded", "cells", "program", "machine code"};
const char* NameOf(Tier tier) { return TierNames[static_cast<int>(tier)]; }

bool Generates() { return detail::MachineCode::Supported(); }

// A parser that computes its formula on one tier. Folded formulas take
// numbers for their operands (the placeholder @), the others the variable x.
struct TierParser : Probe {
  using ParserBase::CurrentTier;

  explicit TierParser(Tier tier) : On(tier) {
    AddVariable("x", &X);
    AddVariable("y", &Y);
    SetOptimizer(tier == Tier::Folded);
    SetMachineCode(tier == Tier::MachineCode);
    SetMachineCodeAfter(0);
  }

  void Assign(std::string formula) {
    for (char& c : formula)
      if (c == '@') c = On == Tier::Folded ? '3' : 'x';
    AssignFormula(formula);
  }

  // Compiles where needed (which calls every callback once), then computes
  // the value on the tier.
  double Run() {
    if (On == Tier::Folded) {
      const double value = Evaluate();
      EXPECT_TRUE(Constant()) << GetFormula();
      return value;
    }
    if (Compiling()) Evaluate();
    if (On == Tier::Cells) return RunCells();
    const double value = Evaluate();
    EXPECT_EQ(CurrentTier(),
              On == Tier::MachineCode && Generates() ? detail::Tier::MachineCode : detail::Tier::Program)
        << GetFormula();
    return value;
  }

  Tier On;
};

// The state a callback reaches: it counts its calls and scales its result.
struct Counter {
  double Scale = 1;
  int Calls = 0;
};

double ScaledByContext(void* context, double value) {
  Counter& counter = *static_cast<Counter*>(context);
  ++counter.Calls;
  return counter.Scale * value;
}

double ScaledSumByContext(void* context, std::span<const double> values) {
  Counter& counter = *static_cast<Counter*>(context);
  ++counter.Calls;
  return counter.Scale * std::accumulate(values.begin(), values.end(), 0.0);
}

// The four forms, each defined by one of two means.
enum class Means { ContextPointer, CallableObject };

struct Form {
  const char* Name;
  const char* Formula;  // @ is the operand
  void (*Define)(ParserBase& parser, Counter& counter, Means means);
  double (*Expected)(double operand, double scale);
};

double Sum3(double operand, double scale) { return scale * (operand + 2 + operand); }
double Scaled(double operand, double scale) { return scale * operand; }

const Form Forms[] = {
    {"unary function", "1 + f(@)",
     [](ParserBase& parser, Counter& counter, Means means) {
       if (means == Means::ContextPointer)
         parser.AddFunction("f", ScaledByContext, &counter);
       else
         parser.AddFunction("f", [&counter](double v) { return ScaledByContext(&counter, v); });
     },
     [](double operand, double scale) { return 1 + Scaled(operand, scale); }},
    {"list function", "1 + g(@, 2, @)",
     [](ParserBase& parser, Counter& counter, Means means) {
       if (means == Means::ContextPointer)
         parser.AddFunction("g", ScaledSumByContext, &counter);
       else
         parser.AddFunction(
             "g", [&counter](std::span<const double> v) { return ScaledSumByContext(&counter, v); });
     },
     [](double operand, double scale) { return 1 + Sum3(operand, scale); }},
    {"prefix operator", "1 + ~@",
     [](ParserBase& parser, Counter& counter, Means means) {
       if (means == Means::ContextPointer)
         parser.AddPrefixOperator("~", ScaledByContext, &counter);
       else
         parser.AddPrefixOperator("~", [&counter](double v) { return ScaledByContext(&counter, v); });
     },
     [](double operand, double scale) { return 1 + Scaled(operand, scale); }},
    {"postfix operator", "1 + (@)sc",
     [](ParserBase& parser, Counter& counter, Means means) {
       if (means == Means::ContextPointer)
         parser.AddPostfixOperator("sc", ScaledByContext, &counter);
       else
         parser.AddPostfixOperator("sc", [&counter](double v) { return ScaledByContext(&counter, v); });
     },
     [](double operand, double scale) { return 1 + Scaled(operand, scale); }},
};

TEST(ContextCallbacks, EachFormReachesItsStateOnEveryTier) {
  for (const Form& form : Forms) {
    for (Means means : {Means::ContextPointer, Means::CallableObject}) {
      for (Tier tier : Tiers) {
        SCOPED_TRACE(std::string(form.Name) + ", " + NameOf(tier) +
                     (means == Means::ContextPointer ? ", context pointer" : ", callable object"));
        Counter counter{2.5, 0};
        TierParser parser(tier);
        form.Define(parser, counter, means);
        parser.Assign(form.Formula);
        X = 3;
        EXPECT_EQ(parser.Run(), form.Expected(3, 2.5));
        counter.Scale = -4;  // read at each call: a folded value keeps the old one
        X = 5;
        const double later = parser.Run();
        if (tier == Tier::Folded) {
          EXPECT_EQ(later, form.Expected(3, 2.5));
          EXPECT_EQ(counter.Calls, 1);
        } else {
          EXPECT_EQ(later, form.Expected(5, -4));
          EXPECT_EQ(counter.Calls, 3);  // the compilation's call and two runs on the tier
        }
      }
    }
  }
}

// A closure with its own state, kept in the parser's copy: a mutable lambda
// counts in its copy, not in the one it was made from.
TEST(ContextCallbacks, CallableObjectsKeepTheirOwnState) {
  for (Tier tier : Tiers) {
    SCOPED_TRACE(NameOf(tier));
    TierParser parser(tier);
    auto counting = [calls = 0](double v) mutable { return v + ++calls; };
    parser.AddFunction("next", counting, tier == Tier::Folded);
    parser.SetOptimizer(true);
    parser.AssignFormula("next(0) * 10 + next(0)");
    EXPECT_EQ(parser.Evaluate(), 10 + 2);
    if (tier == Tier::Folded) continue;
    EXPECT_EQ(parser.Run(), 30 + 4);
    EXPECT_EQ(counting(0), 1);  // the lambda the parser copied never ran

    std::function<double(std::span<const double>)> count = [](std::span<const double> v) {
      return static_cast<double>(v.size());
    };
    parser.AddFunction("count", count);
    parser.AssignFormula("count(x, x, x) + count(x)");
    EXPECT_EQ(parser.Run(), 4);
  }
}

// A lambda without captures is a plain callback: no copy, no context.
TEST(ContextCallbacks, LambdasWithoutCapturesArePlainCallbacks) {
  Probe parser;
  parser.AddFunction("plain", [](double v) { return v + 1; });
  parser.AddFunction("plainlist", [](std::span<const double> v) { return static_cast<double>(v.size()); });
  parser.AddPostfixOperator("pl", [](double v) { return v * 2; });
  int offset = 7;  // not a constant: the lambda must capture it
  parser.AddFunction("closure", [offset](double v) { return v + offset; });
  EXPECT_FALSE(parser.Registry().Functions.Find("plain")->WithContext);
  EXPECT_FALSE(parser.Registry().Functions.Find("plainlist")->WithContext);
  EXPECT_FALSE(parser.Registry().PostfixOps.Find("pl")->WithContext);
  EXPECT_TRUE(parser.Registry().Functions.Find("closure")->WithContext);
  EXPECT_EQ(Eval(parser, "plain(1) + plainlist(1, 2) + (1)pl + closure(1)"), 2 + 2 + 2 + 8);
}

struct ContextFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

double ThrowAboveByContext(void* context, double value) {
  if (value > *static_cast<double*>(context)) throw ContextFailure("above the limit");
  return value;
}

double ThrowAboveListByContext(void* context, std::span<const double> values) {
  return ThrowAboveByContext(context, values[0]);
}

// Each form throws from every tier; the parser then evaluates as before.
TEST(ContextCallbacks, ExceptionsReachTheCallerFromEveryTier) {
  double limit = 10;
  const std::function<void(ParserBase&)> definitions[] = {
      [&](ParserBase& p) { p.AddFunction("t", ThrowAboveByContext, &limit, false); },
      [&](ParserBase& p) { p.AddFunction("t", ThrowAboveListByContext, &limit, false); },
      [&](ParserBase& p) { p.AddPrefixOperator("!", ThrowAboveByContext, &limit); },
      [&](ParserBase& p) { p.AddPostfixOperator("t", ThrowAboveByContext, &limit); },
      [&](ParserBase& p) {
        p.AddFunction("t", [&limit](double v) { return ThrowAboveByContext(&limit, v); });
      },
      [&](ParserBase& p) {
        p.AddFunction("t",
                      [&limit](std::span<const double> v) { return ThrowAboveListByContext(&limit, v); });
      },
  };
  const char* const formulas[] = {"y + t(@) * 2", "y + t(@, y, 3) * 2", "y + !@ * 2",
                                  "y + (@)t * 2", "y + t(@) * 2",       "y + t(@, 1) * 2"};
  for (std::size_t i = 0; i < std::size(definitions); ++i) {
    for (Tier tier : Tiers) {
      SCOPED_TRACE(std::string(formulas[i]) + " " + std::to_string(i) + ", " + NameOf(tier));
      TierParser parser(tier);
      definitions[i](parser);
      X = 1, Y = 2;
      parser.Assign(formulas[i]);
      if (tier == Tier::Folded) {  // thrown by the call that the compilation makes
        limit = 0;
        EXPECT_THROW(parser.Evaluate(), ContextFailure);
        limit = 10;
        EXPECT_EQ(parser.Evaluate(), 8);
        continue;
      }
      EXPECT_EQ(parser.Run(), 4);
      X = 20;
      for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(tier == Tier::Cells ? parser.RunCells() : parser.Evaluate(), ContextFailure);
      }
      X = 1;
      EXPECT_EQ(parser.Run(), 4);
    }
  }
}

// Defining a name again replaces it whatever either definition's kind.
TEST(ContextCallbacks, RedefinitionMovesANameBetweenPlainAndContext) {
  Counter counter{10, 0};
  Probe parser;
  parser.AddFunction("f", [](double v) { return v + 1; });
  EXPECT_EQ(Eval(parser, "f(2)"), 3);
  parser.AddFunction("f", ScaledByContext, &counter);
  EXPECT_EQ(parser.Evaluate(), 20);
  parser.AddFunction("f", [](std::span<const double> v) { return static_cast<double>(v.size()); });
  EXPECT_EQ(Eval(parser, "f(2, 2, 2)"), 3);
  parser.AddFunction("f", ScaledSumByContext, &counter);
  EXPECT_EQ(parser.Evaluate(), 60);
  parser.AddFunction("f", [&counter](double v) { return v - counter.Scale; });
  EXPECT_TRUE(CompileError(parser, "f(2, 2, 2)").starts_with(Messages::TooManyArguments));
  EXPECT_EQ(Eval(parser, "f(2)"), -8);

  parser.AddPostfixOperator("m", ScaledByContext, &counter);  // the default vocabulary's m replaced
  EXPECT_EQ(Eval(parser, "(2)m"), 20);
  parser.AddPostfixOperator("m", [](double v) { return v / 1000; });
  EXPECT_EQ(parser.Evaluate(), 0.002);
  parser.AddPrefixOperator("-", ScaledByContext, &counter);
  EXPECT_EQ(Eval(parser, "-2"), 20);
  parser.AddPrefixOperator("-", [](double v) { return -v; });
  EXPECT_EQ(parser.Evaluate(), -2);
}

// The same refusals, with the same messages, as the plain definitions.
TEST(ContextCallbacks, DefinitionsRefuseWhatThePlainOnesRefuse) {
  Counter counter;
  Probe parser;
  EXPECT_PARSER_ERROR(parser.AddFunction("f", UnaryContextCallback{nullptr}, &counter),
                      Messages::NullFunction);
  EXPECT_PARSER_ERROR(parser.AddFunction("f", ListContextCallback{nullptr}, &counter),
                      Messages::NullFunction);
  EXPECT_PARSER_ERROR(parser.AddPostfixOperator("q", UnaryContextCallback{nullptr}, &counter),
                      Messages::NullOperator);
  EXPECT_PARSER_ERROR(parser.AddPrefixOperator("~", UnaryContextCallback{nullptr}, &counter),
                      Messages::NullOperator);
  const auto closure = [&counter](double v) { return v + counter.Scale; };
  const std::pair<std::function<void()>, std::string_view> refused[] = {
      {[&] { parser.AddFunction("", ScaledByContext, &counter); }, Messages::EmptyName},
      {[&] { parser.AddFunction("1f", ScaledSumByContext, &counter); }, Messages::NameStartsWithDigit},
      {[&] { parser.AddFunction("f+", closure); }, Messages::InvalidNameCharacter},
      {[&] { parser.AddPostfixOperator("(", ScaledByContext, &counter); }, Messages::InvalidNameCharacter},
      {[&] { parser.AddPostfixOperator("", closure); }, Messages::EmptyName},
      {[&] { parser.AddPrefixOperator("~(", ScaledByContext, &counter); }, Messages::InvalidNameCharacter},
      {[&] { parser.AddPrefixOperator("~(", closure); }, Messages::InvalidNameCharacter},
  };
  for (const auto& refusal : refused) EXPECT_PARSER_ERROR(refusal.first(), refusal.second);
  // A null context is a context like any other.
  parser.AddFunction(
      "nul", [](void* context, double v) { return context ? -1 : v; }, nullptr);
  EXPECT_EQ(Eval(parser, "nul(4)"), 4);
}

// Counts the copies of itself alive, and its calls.
struct Tracked {
  static inline int Alive = 0;
  static inline int Calls = 0;
  Tracked() { ++Alive; }
  Tracked(const Tracked&) { ++Alive; }
  Tracked(Tracked&&) noexcept { ++Alive; }
  ~Tracked() { --Alive; }
  Tracked& operator=(const Tracked&) = delete;
  double operator()(double v) const {
    ++Calls;
    return v * 3;
  }
};

// The parser keeps one copy per definition; a copy whose name was defined
// anew is freed at the next compilation, the others with the parser.
TEST(ContextCallbacks, CopiesLiveWhileAnythingMayCallThem) {
  Tracked::Alive = 0;
  {
    Probe parser;
    parser.AddFunction("f", Tracked{});
    parser.AddPostfixOperator("tr", Tracked{});
    parser.AddPrefixOperator("~", Tracked{});
    EXPECT_EQ(Tracked::Alive, 3);
    EXPECT_EQ(Eval(parser, "f(1) + (1)tr + ~1"), 9);
    parser.AddFunction("f", [](double v) { return v; });
    parser.AddPrefixOperator("~", ScaledByContext, nullptr);
    EXPECT_EQ(Tracked::Alive, 3);  // the compiled formula still holds them
    EXPECT_EQ(Eval(parser, "f(1) + (1)tr"), 4);
    EXPECT_EQ(Tracked::Alive, 1);
    // A definition refused frees its copy at once.
    EXPECT_PARSER_ERROR(parser.AddFunction("9f", Tracked{}), Messages::NameStartsWithDigit);
    EXPECT_EQ(Tracked::Alive, 1);
    // Defined again and again without a compilation between: all kept, then freed.
    for (int i = 0; i < 3; ++i) parser.AddFunction("g", Tracked{});
    EXPECT_EQ(Tracked::Alive, 4);
    EXPECT_EQ(Eval(parser, "g(2)"), 6);
    EXPECT_EQ(Tracked::Alive, 2);
  }
  EXPECT_EQ(Tracked::Alive, 0);
}

// A callable object that defines its own name anew while it runs, then
// reads its own state: it is kept until no callback runs (the sanitizers
// would report a read of a freed copy).
TEST(ContextCallbacks, ACallbackThatReplacesItselfRunsToItsEnd) {
  for (Tier tier : Tiers) {
    SCOPED_TRACE(NameOf(tier));
    TierParser parser(tier);
    bool armed = false;
    const auto define = [&] {
      parser.AddFunction("self", [&parser, &armed, tier, state = std::vector<double>{7}](double v) {
        if (armed) {
          armed = false;
          parser.AddFunction("self", [](double w) { return -w; });
          EXPECT_EQ(parser.Evaluate(), tier == Tier::Folded ? -2 : -X);  // compiles with the new one
        }
        return v * state.at(0);
      });
    };
    define();
    parser.Assign("self(@)");
    X = 2;
    EXPECT_EQ(parser.Run(), tier == Tier::Folded ? 21 : 14);
    armed = true;
    if (tier == Tier::Folded) {
      define();
      parser.Assign("self(2)");
      EXPECT_EQ(parser.Evaluate(), 14);  // the compilation that began with the old one
      EXPECT_EQ(parser.Evaluate(), -2);
      continue;
    }
    EXPECT_EQ(tier == Tier::Cells ? parser.RunCells() : parser.Evaluate(), 14);
    EXPECT_EQ(parser.Evaluate(), -2);
  }
}

// A callable object that evaluates its own parser gets the same value as
// any other evaluation.
TEST(ContextCallbacks, ACallbackMayEvaluateItsOwnParser) {
  for (Tier tier : {Tier::Cells, Tier::Program, Tier::MachineCode}) {
    SCOPED_TRACE(NameOf(tier));
    TierParser parser(tier);
    int depth = 0;
    double inner = 0;
    parser.AddFunction("again", [&](std::span<const double> v) {
      if (++depth == 1) inner = parser.Evaluate();
      --depth;
      return v[0] + v[1];
    });
    parser.Assign("1 + again(@, y)");
    X = 2, Y = 3;
    EXPECT_EQ(parser.Run(), 6);
    EXPECT_EQ(parser.Evaluate(), 6);
    EXPECT_EQ(inner, 6);
  }
}

// Callbacks with a context are listed by name, also where several share
// one function and differ by their context.
TEST(ContextCallbacks, ListingsNameThem) {
  Counter a, b;
  Probe parser;
  parser.AddVariable("x", &X);
  parser.SetOptimizer(false);
  parser.AddFunction("fa", ScaledByContext, &a);
  parser.AddFunction("fb", ScaledByContext, &b);
  parser.AddFunction("gs", ScaledSumByContext, &a);
  const std::function<double(double)> half = [](double v) { return v / 2; };
  const std::function<double(double)> third = [](double v) { return v / 3; };
  parser.AddPostfixOperator("h", half);
  parser.AddPrefixOperator("~", third);
  parser.AddFunction("plain", [](double v) { return v; });
  X = 6;
  EXPECT_EQ(Eval(parser, "fb(fa(x)) + gs(x, 1) + (x)h + ~x + plain(x)"), 6 + 7 + 3 + 2 + 6);
  EXPECT_EQ(parser.Listing(),
            "1 VAR x\n1 FUNC 1 fa\n1 FUNC 1 fb\n2 VAR x\n3 VALUE 1\n2 FUNC -2 gs\n1 ADD\n2 VAR x\n2 CALL h\n"
            "1 ADD\n2 VAR x\n2 CALL ~\n1 ADD\n2 VAR x\n2 FUNC 1 plain\n1 ADD\nEND");
  EXPECT_EQ(
      parser.ProgramListing(),
      "s1 = CALL fa x\ns1 = CALL fb s1\ns2 = LOAD x\ns3 = LOAD 1\ns2 = CALL gs s2..s3\ns1 = ADD s1, s2\n"
      "s2 = CALL h x\ns1 = ADD s1, s2\ns2 = CALL ~ x\ns1 = ADD s1, s2\ns2 = CALL plain x\n"
      "s1 = ADD s1, s2\nRESULT s1");
  using Kind = ParserBase::NameKind;
  std::vector<std::pair<Kind, std::string>> names;
  parser.ForEachName([&](Kind kind, std::string_view name) { names.emplace_back(kind, name); });
  for (const auto& named : {std::pair<Kind, std::string>{Kind::Function, "fa"},
                            {Kind::Function, "gs"},
                            {Kind::PostfixOperator, "h"},
                            {Kind::PrefixOperator, "~"}})
    EXPECT_NE(std::find(names.begin(), names.end(), named), names.end()) << named.second;
}

// The cells of a call with a context: its code, then the plain entry's
// payload and the context. An operator of one character takes more cells
// than the buffer's first sizing allows for ("~x"): the buffer grows, or
// the listing would find no end marker.
TEST(ContextCallbacks, CellsOfCallsWithAContext) {
  Counter counter{2, 0}, doubling{2, 0};
  Probe parser;
  parser.AddVariable("x", &X);
  parser.SetOptimizer(false);
  parser.AddFunction("f", ScaledByContext, &counter);
  parser.AddPrefixOperator("~", ScaledByContext, &doubling);
  X = 1;
  EXPECT_EQ(Eval(parser, "f(x)"), 2);
  const std::span<const Cell> call = parser.GetBytecode().subspan(VariableEntryCells);
  EXPECT_EQ(call[0], 1);
  EXPECT_EQ(call[1], cdContextFunction);
  EXPECT_EQ(call[2], 1);
  EXPECT_EQ(ReadAddress(&call[3]), reinterpret_cast<void*>(ScaledByContext));
  EXPECT_EQ(ReadAddress(&call[3 + AddressCells]), &counter);
  EXPECT_EQ(call[ContextFunctionEntryCells], cdEnd);

  const std::pair<std::string, double> formulas[] = {
      {"~x", 2}, {"~(~(~x))", 8}, {"~x*~x", 4}, {"x+~x*~x", 5}};
  for (const auto& [formula, value] : formulas) {
    X = 1;
    EXPECT_EQ(Eval(parser, formula), value) << formula;
    EXPECT_EQ(parser.RunCells(), value) << formula;
    EXPECT_TRUE(parser.Listing().ends_with("END")) << formula;
  }
  EXPECT_EQ(parser.Listing(), "1 VAR x\n2 VAR x\n2 CALL ~\n3 VAR x\n3 CALL ~\n2 MUL\n1 ADD\nEND");
}

}  // namespace
}  // namespace ParserTests
