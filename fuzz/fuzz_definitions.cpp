// The definition operations with arbitrary names, null callbacks and null
// addresses, callbacks with a context pointer and callable objects,
// interleaved with formulas. Two parsers, one folding and one
// not, receive the same operations; a small model of the registries says
// which definitions must fail with which message, and what a formula that
// names a defined entry must yield.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_oracle.h"
#include "parser/front/syntax_flags.h"
#include "parser/math/builtins.h"
#include "parser/parser.h"

namespace {

using FuzzOracle::Fail;
using FuzzOracle::Outcome;
using FuzzOracle::Printable;
using MathUtils::ListCallback;
using MathUtils::ListContextCallback;
using MathUtils::UnaryCallback;
using MathUtils::UnaryContextCallback;

double Twice(double x) { return 2 * x; }
double PlusTen(double x) { return x + 10; }
double Cube(double x) { return x * x * x; }
double Count(std::span<const double> values) { return static_cast<double>(values.size()); }
double SumOfSquares(std::span<const double> values) {
  double sum = 0;
  for (double v : values) sum += v * v;
  return sum;
}

// Index 0 is the null callback.
constexpr std::array<UnaryCallback, 4> UnaryCallbacks = {nullptr, Twice, PlusTen, Cube};
constexpr std::array<ListCallback, 3> ListCallbacks = {nullptr, Count, SumOfSquares};

// Callbacks with state add the offset that their context holds: one
// argument to itself, a list to its count; callable objects hold a copy.
double ContextOffset = 0.5;
double PlusOffset(void* context, double x) { return x + *static_cast<const double*>(context); }
double CountPlusOffset(void* context, std::span<const double> values) {
  return static_cast<double>(values.size()) + *static_cast<const double*>(context);
}

constexpr std::array<double, 8> ConstantValues = {0.0,
                                                  -0.0,
                                                  1.5,
                                                  -1e308,
                                                  4.9e-324,
                                                  std::numeric_limits<double>::infinity(),
                                                  std::numeric_limits<double>::quiet_NaN(),
                                                  12345.678};

// Names that meet the vocabulary and each other often, beside random bytes.
constexpr std::array<std::string_view, 24> NamePool = {"f", "g",   "sin", "sum", "m",   "mm?", "-",   "+",
                                                       "*", "<",   "?",   "#",   "_",   "_pi", "x",   "pi",
                                                       "e", "and", "ord", "1a",  "a.b", "",    "a b", "~'|"};

constexpr std::string_view IdentChars = MathUtils::IdentChars;
constexpr std::string_view OperatorChars = MathUtils::OperatorChars;
constexpr std::string_view SymbolChars = MathUtils::SymbolChars;

bool OnlyOf(std::string_view name, std::string_view set) {
  return name.find_first_not_of(set) == std::string_view::npos;
}

// The message a definition must fail with, or none.
std::optional<std::string_view> ExpectedNameError(std::string_view name, std::string_view set) {
  if (name.empty()) return MathUtils::Messages::EmptyName;
  if (!OnlyOf(name, set)) return MathUtils::Messages::InvalidNameCharacter;
  if (name[0] >= '0' && name[0] <= '9') return MathUtils::Messages::NameStartsWithDigit;
  return std::nullopt;
}

// The default vocabulary, as far as the reader's choices depend on it.
bool IsDefaultFunction(std::string_view name) {
  for (const auto& function : MathUtils::detail::BuiltinUnaryFunctions())
    if (function.Name == name) return true;
  for (const auto& function : MathUtils::detail::BuiltinListFunctions())
    if (function.Name == name) return true;
  return false;
}

// What the registries hold, as far as this run defined them.
struct Model {
  struct Function {
    int Callback;
    bool List;
    bool WithContext = false;  // PlusOffset or CountPlusOffset, or the same as a callable object
  };
  std::map<std::string, Function, std::less<>> Functions;  // ours only
  std::map<std::string, double, std::less<>> Constants;
  std::map<std::string, double*, std::less<>> Variables;
  std::map<std::string, double (*)(double), std::less<>> Postfix;
  std::map<std::string, double (*)(double), std::less<>> Prefix;

  bool IsFunction(std::string_view name) const { return IsDefaultFunction(name) || Functions.contains(name); }
  bool IsConstant(std::string_view name) const {
    return name == "_pi" || name == "_e" || Constants.contains(name);
  }
};

// Names that the reader takes for a built-in operator whatever follows.
bool ReadsAsLogicalOperator(std::string_view name) {
  return name.starts_with("and") || name.starts_with("or");
}

class Session {
 public:
  explicit Session(FuzzedDataProvider& input) : Input(input) { Unfolded.SetOptimizer(false); }

  void Step() {
    switch (Input.ConsumeIntegralInRange(0, 9)) {
      case 0: DefineUnaryFunction(); break;
      case 1: DefineListFunction(); break;
      case 2: DefineOperator(true); break;
      case 3: DefineOperator(false); break;
      case 4: DefineConstant(); break;
      case 5: DefineVariable(); break;
      case 6: EvaluateFormula(Input.ConsumeRandomLengthString(64)); break;
      case 7: ProbeDefinedNames(); break;
      case 8: DefineWithContext(); break;
      default:
        Folded.SetOptimizer(true);
        Unfolded.SetOptimizer(false);
        break;
    }
  }

  void Finish() {
    ProbeDefinedNames();
    FuzzOracle::ExpectStillUsable(Folded, "the definitions");
    FuzzOracle::ExpectStillUsable(Unfolded, "the definitions");
    ExpectFreshParserUntouched();
  }

 private:
  std::string ConsumeName() {
    if (Input.ConsumeBool())
      return std::string(NamePool[Input.ConsumeIntegralInRange<std::size_t>(0, NamePool.size() - 1)]);
    return Input.ConsumeRandomLengthString(16);
  }

  // Runs the same definition on both parsers and checks it against the
  // model's expectation. Returns whether it succeeded.
  template <typename Define>
  bool Apply(Define&& define, std::optional<std::string_view> expectedError, const std::string& name) {
    const bool folded = Attempt(Folded, define, expectedError, name);
    const bool unfolded = Attempt(Unfolded, define, expectedError, name);
    if (folded != unfolded) Fail("the two parsers disagree on a definition", Printable(name));
    return folded;
  }

  template <typename Define>
  bool Attempt(MathUtils::Parser& parser, Define& define, std::optional<std::string_view> expectedError,
               const std::string& name) {
    try {
      define(parser);
    } catch (const MathUtils::ParserException& error) {
      if (!expectedError)
        Fail("a valid definition was refused", Printable(name) + "\n*** " + Printable(error.what()));
      if (error.what() != *expectedError)
        Fail("a definition failed with the wrong text", Printable(name) +
                                                            "\n*** got:      " + Printable(error.what()) +
                                                            "\n*** expected: " + std::string(*expectedError));
      if (error.GetFormula() != parser.GetFormula())
        Fail("a definition error does not carry the parser's formula", Printable(name));
      return false;
    } catch (const std::exception& other) {
      Fail("a definition threw something other than ParserException", other.what());
    }
    if (expectedError)
      Fail("an invalid definition was accepted",
           Printable(name) + "\n*** expected: " + std::string(*expectedError));
    return true;
  }

  void DefineUnaryFunction() {
    const std::string name = ConsumeName();
    const int callback = Input.ConsumeIntegralInRange<int>(0, UnaryCallbacks.size() - 1);
    const bool optimizable = Input.ConsumeBool();
    const auto expected = callback == 0 ? std::optional<std::string_view>(MathUtils::Messages::NullFunction)
                                        : ExpectedNameError(name, IdentChars);
    if (Apply([&](MathUtils::Parser& p) { p.AddFunction(name, UnaryCallbacks[callback], optimizable); },
              expected, name))
      Defined.Functions[name] = {callback, false};
  }

  void DefineListFunction() {
    const std::string name = ConsumeName();
    const int callback = Input.ConsumeIntegralInRange<int>(0, ListCallbacks.size() - 1);
    const bool optimizable = Input.ConsumeBool();
    const auto expected = callback == 0 ? std::optional<std::string_view>(MathUtils::Messages::NullFunction)
                                        : ExpectedNameError(name, IdentChars);
    if (Apply([&](MathUtils::Parser& p) { p.AddFunction(name, ListCallbacks[callback], optimizable); },
              expected, name))
      Defined.Functions[name] = {callback, true};
  }

  void DefineOperator(bool postfix) {
    const std::string name = ConsumeName();
    const UnaryCallback callback =
        UnaryCallbacks[Input.ConsumeIntegralInRange<std::size_t>(0, UnaryCallbacks.size() - 1)];
    const auto expected = !callback ? std::optional<std::string_view>(MathUtils::Messages::NullOperator)
                                    : ExpectedNameError(name, OperatorChars);
    const bool done = Apply(
        [&](MathUtils::Parser& p) {
          if (postfix)
            p.AddPostfixOperator(name, callback);
          else
            p.AddPrefixOperator(name, callback);
        },
        expected, name);
    if (done) (postfix ? Defined.Postfix : Defined.Prefix)[name] = callback;
  }

  // A function or operator with state: a context pointer with a callback
  // that may be null, or a callable object.
  void DefineWithContext() {
    enum Kind { Unary, List, Postfix, Prefix };
    const std::string name = ConsumeName();
    const auto kind = static_cast<Kind>(Input.ConsumeIntegralInRange(0, 3));
    const int means = Input.ConsumeIntegralInRange(0, 2);  // 0 a null callback, 1 a context, 2 an object
    const bool optimizable = Input.ConsumeBool();
    const bool function = kind == Unary || kind == List;
    const auto expected = means == 0
                              ? std::optional<std::string_view>(function ? MathUtils::Messages::NullFunction
                                                                         : MathUtils::Messages::NullOperator)
                              : ExpectedNameError(name, function ? IdentChars : OperatorChars);
    const UnaryContextCallback unary = means == 0 ? nullptr : PlusOffset;
    const double offset = ContextOffset;
    const auto object = [offset](double x) { return x + offset; };
    const auto define = [&](MathUtils::Parser& p) {
      switch (kind) {
        case Unary:
          if (means == 2)
            p.AddFunction(name, object, optimizable);
          else
            p.AddFunction(name, unary, &ContextOffset, optimizable);
          return;
        case List:
          if (means == 2)
            p.AddFunction(
                name, [offset](std::span<const double> v) { return static_cast<double>(v.size()) + offset; },
                optimizable);
          else
            p.AddFunction(name, means == 0 ? ListContextCallback{nullptr} : CountPlusOffset, &ContextOffset,
                          optimizable);
          return;
        case Postfix:
          if (means == 2)
            p.AddPostfixOperator(name, object);
          else
            p.AddPostfixOperator(name, unary, &ContextOffset);
          return;
        case Prefix:
          if (means == 2)
            p.AddPrefixOperator(name, object);
          else
            p.AddPrefixOperator(name, unary, &ContextOffset);
          return;
      }
    };
    if (!Apply(define, expected, name)) return;
    if (function)
      Defined.Functions[name] = {0, kind == List, true};
    else
      (kind == Postfix ? Defined.Postfix : Defined.Prefix)[name] = [](double x) { return x + ContextOffset; };
  }

  void DefineConstant() {
    const std::string name = ConsumeName();
    const double value =
        ConstantValues[Input.ConsumeIntegralInRange<std::size_t>(0, ConstantValues.size() - 1)];
    if (Apply([&](MathUtils::Parser& p) { p.AddConstant(name, value); }, ExpectedNameError(name, IdentChars),
              name))
      Defined.Constants[name] = value;
  }

  void DefineVariable() {
    const std::string name = ConsumeName();
    const int which = Input.ConsumeIntegralInRange(0, 2);  // 0: null address
    double* address = which == 0 ? nullptr : &VariableStore[which - 1];
    const auto expected = !address ? std::optional<std::string_view>(MathUtils::Messages::NullVariable)
                                   : ExpectedNameError(name, IdentChars);
    if (Apply([&](MathUtils::Parser& p) { p.AddVariable(name, address); }, expected, name))
      Defined.Variables[name] = address;
  }

  Outcome EvaluateFormula(const std::string& formula) {
    Folded.AssignFormula(formula);
    Unfolded.AssignFormula(formula);
    const Outcome folded = FuzzOracle::EvaluateThrice(Folded, formula);
    const Outcome unfolded = FuzzOracle::EvaluateThrice(Unfolded, formula);
    FuzzOracle::ExpectSameOutcome(folded, unfolded, formula);
    return folded;
  }

  void ExpectValue(const std::string& formula, double expected) {
    const Outcome outcome = EvaluateFormula(formula);
    if (outcome.Failed || !FuzzOracle::SameValue(outcome.Value, expected))
      Fail("a defined name does not evaluate as defined",
           Printable(formula) + "\n*** " +
               (outcome.Failed ? Printable(outcome.Error) : std::to_string(outcome.Value)) + " instead of " +
               std::to_string(expected));
  }

  // Every entry defined so far that the reader is sure to find is used in
  // a formula of its own.
  void ProbeDefinedNames() {
    for (const auto& [name, function] : Defined.Functions) {
      if (ReadsAsLogicalOperator(name)) continue;
      const double expected = function.WithContext ? (function.List ? 1 : 3) + ContextOffset
                              : function.List ? ListCallbacks[function.Callback](std::array<double, 1>{3.0})
                                              : UnaryCallbacks[function.Callback](3.0);
      ExpectValue(name + "(3)", expected);
    }
    for (const auto& [name, value] : Defined.Constants)
      if (!ReadsAsLogicalOperator(name) && !Defined.IsFunction(name)) ExpectValue(name, value);
    for (const auto& [name, address] : Defined.Variables)
      if (!ReadsAsLogicalOperator(name) && !Defined.IsFunction(name) && !Defined.IsConstant(name))
        ExpectValue(name, *address);
    // A postfix name of letters stands alone after a value, unless another
    // kind of token claims the same letters first.
    for (const auto& [name, callback] : Defined.Postfix)
      if (OnlyOf(name, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_") && name[0] != '_' &&
          !ReadsAsLogicalOperator(name) && !Defined.IsFunction(name) && !Defined.IsConstant(name) &&
          !Defined.Variables.contains(name))
        ExpectValue("3 " + name, callback(3.0));
    // A prefix name of symbols is found where an operand may start.
    for (const auto& [name, callback] : Defined.Prefix)
      if (OnlyOf(name, SymbolChars) && name[0] != '_') ExpectValue(name + "3", callback(3.0));
  }

  // Parsers share their default vocabulary's origin but nothing mutable: a
  // new parser knows the defaults and none of the names defined here.
  void ExpectFreshParserUntouched() const {
    FuzzOracle::Probe fresh;
    const auto evaluate = [&](const std::string& formula) {
      fresh.AssignFormula(formula);
      return FuzzOracle::EvaluateThrice(fresh, formula);
    };
    const std::pair<const char*, double> defaults[] = {{"sin(30)", 0.49999999999999994},
                                                       {"2m", 0.002},
                                                       {"-(_pi)", -3.141592653589793},
                                                       {"sum(1,2)+max(_e,1)", 3 + 2.718281828459045}};
    for (const auto& [formula, value] : defaults) {
      const Outcome outcome = evaluate(formula);
      if (outcome.Failed || !FuzzOracle::SameValue(outcome.Value, value))
        Fail("a new parser lost part of the default vocabulary", formula);
    }
    for (const auto& [name, function] : Defined.Functions)
      if (!ReadsAsLogicalOperator(name) && !IsDefaultFunction(name) && !evaluate(name + "(3)").Failed)
        Fail("a new parser knows a function defined on another", Printable(name));
    for (const auto& [name, value] : Defined.Constants)
      if (!ReadsAsLogicalOperator(name) && !IsDefaultFunction(name) && name != "_pi" && name != "_e" &&
          !evaluate(name).Failed)
        Fail("a new parser knows a constant defined on another", Printable(name));
  }

  FuzzedDataProvider& Input;
  FuzzOracle::Probe Folded;
  FuzzOracle::Probe Unfolded;
  Model Defined;
  double VariableStore[2] = {0.25, -8.0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Session session(input);
  for (int steps = 0; steps < 64 && input.remaining_bytes() > 0; ++steps) session.Step();
  session.Finish();
  return 0;
}
