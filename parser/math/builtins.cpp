#include "parser/math/builtins.h"

#include <cmath>
#include <string>

#include "parser/core/commands.h"
#include "parser/core/errors.h"
#include "parser/core/types.h"

namespace MathUtils {

namespace {

constexpr double K = 0.017453292519943295;    // degrees to radians, the double nearest pi/180
constexpr double R = 57.29577951308232;       // radians to degrees, the double nearest 180/pi
constexpr double K2 = 0.0003046174197867086;  // the double nearest (pi/180)^2, not K * K

double Sqrt(double x) { return std::sqrt(x); }
double Rint(double x) { return std::floor(x + 0.5); }
double Abs(double x) { return std::fabs(x); }

// -1 for negative numbers and NaN, 0 for either zero, 1 otherwise.
double Sign(double x) {
  if (!(x >= 0)) return -1;
  if (!(x > 0)) return 0;
  return 1;
}

void RequireArguments(std::span<const double> arguments, std::string_view name) {
  if (arguments.empty())
    detail::ThrowParserException(std::string(Messages::NoArgumentsFor).append(name) + ".", NoFormulaText);
}

double Total(std::span<const double> arguments) {
  double total = 0;
  for (double argument : arguments) total = AddInOrder(total, argument);
  return total;
}

double Sum(std::span<const double> arguments) {
  RequireArguments(arguments, "sum");
  return Total(arguments);
}

double Avg(std::span<const double> arguments) {
  RequireArguments(arguments, "avg");
  return Total(arguments) / static_cast<double>(arguments.size());
}

// The pick moves to each later argument that keeps(argument, pick) does
// not hold for. Equal values keep the earlier argument; a NaN on either
// side of a comparison moves the pick to the later one.
template <typename Keeps>
double Pick(std::span<const double> arguments, std::string_view name, Keeps keeps) {
  RequireArguments(arguments, name);
  double pick = arguments[0];
  for (double argument : arguments.subspan(1))
    if (!keeps(argument, pick)) pick = argument;
  return pick;
}

double Min(std::span<const double> arguments) {
  return Pick(arguments, "min", [](double argument, double pick) { return argument >= pick; });
}

double Max(std::span<const double> arguments) {
  return Pick(arguments, "max", [](double argument, double pick) { return pick >= argument; });
}

// The condition itself where it is NaN, else the second argument where the
// condition is not 0, else the third.
double Where(std::span<const double> arguments) {
  const double condition = arguments[0];
  if (condition != condition) return condition;
  return condition != 0 ? arguments[1] : arguments[2];
}

double ToDegrees(double x) { return x * R; }
double ToRadians(double x) { return x * K; }

double Negate(double x) { return -x; }
double Milli(double x) { return x * 0.001; }
double Micro(double x) { return x * 1e-6; }
double Nano(double x) { return x * 1e-9; }

using LibraryFunction = double (*)(double);

// The machine forms of the rows below.
constexpr detail::MachineForm Called{detail::CallForm::Builtin};
constexpr detail::MachineForm Inline(detail::CallForm form) { return {form}; }
constexpr detail::MachineForm Library(LibraryFunction function, double before = 0, double after = 0,
                                      detail::VectorFunction lanes = detail::VectorFunction::None) {
  return {detail::CallForm::Library, function, before, after, lanes};
}

// The math libraries' functions as the built-ins below call them (the rows
// of parser/math/math_library.h), and whether code in lanes calls their vector
// forms.
struct CLibrary {
#define MATHUTILS_C_FORM(name, arity, c, ...) \
  static double name MATHUTILS_MATH_PARAMETERS_##arity { return c; }
  MATHUTILS_MATH_FUNCTIONS(MATHUTILS_C_FORM)
#undef MATHUTILS_C_FORM
  static constexpr bool Lanes = false;
};

#if VORNCALC_SLEEF
struct DeterministicLibrary {
#define MATHUTILS_DETERMINISTIC_FORM(name, ...) static constexpr auto name = detail::Deterministic::name;
  MATHUTILS_MATH_FUNCTIONS(MATHUTILS_DETERMINISTIC_FORM)
#undef MATHUTILS_DETERMINISTIC_FORM
  static constexpr bool Lanes = true;
};
#else
using DeterministicLibrary = CLibrary;  // never chosen: the build lacks the library
#endif

// The library's own function, scaled before or after, as machine code
// calls it: in lanes by its vector form where the library has one.
template <typename Math>
constexpr detail::MachineForm Calls(LibraryFunction function, detail::VectorFunction lanes, double before = 0,
                                    double after = 0) {
  return Library(function, before, after, Math::Lanes ? lanes : detail::VectorFunction::None);
}

// A function of two arguments of the library, scaled after.
template <typename Math>
constexpr detail::MachineForm Pairs(double (*function)(double, double), detail::VectorFunction lanes,
                                    double after = 0) {
  detail::MachineForm form{detail::CallForm::Library, nullptr, 0, after,
                           Math::Lanes ? lanes : detail::VectorFunction::None};
  form.Pair = function;
  return form;
}

// The built-in functions of one argument on a library: the same names and
// formulas on either, so that only the library decides the bits. The
// degree forms scale by K before and R after; those computed from others
// (asinh .. atanh, log2) keep their formulas on the library's log, and
// sqrt is correctly rounded in both.
template <typename Math>
struct OnLibrary {
  static double Sin(double x) { return Math::Sin(x * K); }
  static double Cos(double x) { return Math::Cos(x * K); }
  static double Tan(double x) { return Math::Tan(x * K); }
  static double ASin(double x) { return Math::ASin(x) * R; }
  static double ACos(double x) { return Math::ACos(x) * R; }
  static double ATan(double x) { return Math::ATan(x) * R; }
  static double SinH(double x) { return Math::SinH(x * K); }
  static double CosH(double x) { return Math::CosH(x * K); }
  static double TanH(double x) { return Math::TanH(x * K); }
  static double ASinH(double x) { return Math::Log(std::sqrt(x * x * K2 + 1) + x * K); }
  static double ACosH(double x) { return Math::Log(std::sqrt(x * x * K2 - 1) + x * K); }
  static double ATanH(double x) {
    const double y = x * K;
    return 0.5 * Math::Log((y + 1) / (1 - y));
  }
  static double ASinHR(double x) { return Math::Log(std::sqrt(x * x + 1) + x); }
  static double ACosHR(double x) { return Math::Log(std::sqrt(x * x - 1) + x); }
  static double ATanHR(double x) { return 0.5 * Math::Log((x + 1) / (1 - x)); }
  static double Log2(double x) { return Math::Log(x) / Math::Log(2.0); }
  // The compiler gives the functions of two arguments exactly two.
  static double ATan2(std::span<const double> a) { return Math::ATan2(a[0], a[1]) * R; }
  static double ATan2R(std::span<const double> a) { return Math::ATan2(a[0], a[1]); }
  static double Hypot(std::span<const double> a) { return Math::Hypot(a[0], a[1]); }
  static double Mod(std::span<const double> a) { return Math::FMod(a[0], a[1]); }
  static double Pow(std::span<const double> a) { return Math::Pow(a[0], a[1]); }

  // "sin" alone is not optimisable: the compiler leaves every call of it
  // in the bytecode. A Library row must compute what its callback computes.
  static constexpr detail::BuiltinFunction<UnaryCallback> Rows[] = {
      {"sin", Sin, false, Calls<Math>(Math::Sin, detail::VectorFunction::Sin, K)},
      {"cos", Cos, true, Calls<Math>(Math::Cos, detail::VectorFunction::Cos, K)},
      {"tan", Tan, true, Calls<Math>(Math::Tan, detail::VectorFunction::Tan, K)},
      {"sinr", Math::Sin, true, Calls<Math>(Math::Sin, detail::VectorFunction::Sin)},
      {"cosr", Math::Cos, true, Calls<Math>(Math::Cos, detail::VectorFunction::Cos)},
      {"tanr", Math::Tan, true, Calls<Math>(Math::Tan, detail::VectorFunction::Tan)},
      {"asin", ASin, true, Calls<Math>(Math::ASin, detail::VectorFunction::ASin, 0, R)},
      {"acos", ACos, true, Calls<Math>(Math::ACos, detail::VectorFunction::ACos, 0, R)},
      {"atan", ATan, true, Calls<Math>(Math::ATan, detail::VectorFunction::ATan, 0, R)},
      {"sinh", SinH, true, Calls<Math>(Math::SinH, detail::VectorFunction::SinH, K)},
      {"cosh", CosH, true, Calls<Math>(Math::CosH, detail::VectorFunction::CosH, K)},
      {"tanh", TanH, true, Calls<Math>(Math::TanH, detail::VectorFunction::TanH, K)},
      {"asinh", ASinH, true, Called},
      {"acosh", ACosH, true, Called},
      {"atanh", ATanH, true, Called},
      {"asinr", Math::ASin, true, Calls<Math>(Math::ASin, detail::VectorFunction::ASin)},
      {"acosr", Math::ACos, true, Calls<Math>(Math::ACos, detail::VectorFunction::ACos)},
      {"atanr", Math::ATan, true, Calls<Math>(Math::ATan, detail::VectorFunction::ATan)},
      {"sinhr", Math::SinH, true, Calls<Math>(Math::SinH, detail::VectorFunction::SinH)},
      {"coshr", Math::CosH, true, Calls<Math>(Math::CosH, detail::VectorFunction::CosH)},
      {"tanhr", Math::TanH, true, Calls<Math>(Math::TanH, detail::VectorFunction::TanH)},
      {"asinhr", ASinHR, true, Called},
      {"acoshr", ACosHR, true, Called},
      {"atanhr", ATanHR, true, Called},
      {"log2", Log2, true, Called},
      {"log10", Math::Log10, true, Calls<Math>(Math::Log10, detail::VectorFunction::Log10)},
      {"log", Math::Log10, true, Calls<Math>(Math::Log10, detail::VectorFunction::Log10)},
      {"ln", Math::Log, true, Calls<Math>(Math::Log, detail::VectorFunction::Log)},
      {"exp", Math::Exp, true, Calls<Math>(Math::Exp, detail::VectorFunction::Exp)},
      {"sqrt", Sqrt, true, Inline(detail::CallForm::Sqrt)},
      {"sign", Sign, true, Called},
      {"rint", Rint, true, Called},
      {"abs", Abs, true, Inline(detail::CallForm::Abs)},
  };

  // The math functions beyond the default vocabulary: round is half away
  // from zero, mod is C's fmod, atan2(y, x) gives degrees as atan does.
  static constexpr detail::BuiltinFunction<UnaryCallback> MathRows[] = {
      {"round", Math::Round, true, Calls<Math>(Math::Round, detail::VectorFunction::Round)},
      {"trunc", Math::Trunc, true, Calls<Math>(Math::Trunc, detail::VectorFunction::Trunc)},
      {"floor", Math::Floor, true, Calls<Math>(Math::Floor, detail::VectorFunction::Floor)},
      {"ceil", Math::Ceil, true, Calls<Math>(Math::Ceil, detail::VectorFunction::Ceil)},
      {"r2d", ToDegrees, true, Called},
      {"d2r", ToRadians, true, Called},
      {"cbrt", Math::Cbrt, true, Calls<Math>(Math::Cbrt, detail::VectorFunction::Cbrt)},
      {"log1p", Math::Log1p, true, Calls<Math>(Math::Log1p, detail::VectorFunction::Log1p)},
      {"expm1", Math::Expm1, true, Calls<Math>(Math::Expm1, detail::VectorFunction::Expm1)},
  };

  static constexpr detail::BuiltinFixedFunction FixedRows[] = {
      {"mod", Mod, 2, true, Pairs<Math>(Math::FMod, detail::VectorFunction::FMod)},
      {"atan2", ATan2, 2, true, Pairs<Math>(Math::ATan2, detail::VectorFunction::ATan2, R)},
      {"atan2r", ATan2R, 2, true, Pairs<Math>(Math::ATan2, detail::VectorFunction::ATan2)},
      {"hypot", Hypot, 2, true, Pairs<Math>(Math::Hypot, detail::VectorFunction::Hypot)},
      {"pow", Pow, 2, true, Pairs<Math>(Math::Pow, detail::VectorFunction::Pow)},
      {"where", Where, 3, true, Inline(detail::CallForm::Where)},
  };
};

constexpr auto& UnaryFunctions = OnLibrary<CLibrary>::Rows;
constexpr auto& DeterministicUnaryFunctions = OnLibrary<DeterministicLibrary>::Rows;
constexpr auto& MathFunctions = OnLibrary<CLibrary>::MathRows;
constexpr auto& DeterministicMathFunctions = OnLibrary<DeterministicLibrary>::MathRows;
constexpr auto& FixedFunctions = OnLibrary<CLibrary>::FixedRows;
constexpr auto& DeterministicFixedFunctions = OnLibrary<DeterministicLibrary>::FixedRows;

constexpr detail::BuiltinFunction<ListCallback> ListFunctions[] = {
    {"sum", Sum, true, Inline(detail::CallForm::Sum)},
    {"avg", Avg, true, Inline(detail::CallForm::Avg)},
    {"min", Min, true, Inline(detail::CallForm::Min)},
    {"max", Max, true, Inline(detail::CallForm::Max)},
};

constexpr detail::BuiltinOperator Operators[] = {
    {"m", Milli, detail::BuiltinOperator::Postfix, Called},
    {"n", Micro, detail::BuiltinOperator::Postfix, Called},
    {"mc", Nano, detail::BuiltinOperator::Postfix, Called},
    {"-", Negate, detail::BuiltinOperator::Prefix, Inline(detail::CallForm::Negate)},
};

}  // namespace

std::span<const detail::BuiltinFunction<UnaryCallback>> detail::BuiltinUnaryFunctions(MathLibrary library) {
  if (library == MathLibrary::Deterministic) return DeterministicUnaryFunctions;
  return UnaryFunctions;
}
std::span<const detail::BuiltinFunction<ListCallback>> detail::BuiltinListFunctions() {
  return ListFunctions;
}
std::span<const detail::BuiltinOperator> detail::BuiltinOperators() { return Operators; }

std::span<const detail::BuiltinFunction<UnaryCallback>> detail::MathUnaryFunctions(MathLibrary library) {
  if (library == MathLibrary::Deterministic) return DeterministicMathFunctions;
  return MathFunctions;
}
std::span<const detail::BuiltinFixedFunction> detail::MathFixedFunctions(MathLibrary library) {
  if (library == MathLibrary::Deterministic) return DeterministicFixedFunctions;
  return FixedFunctions;
}

detail::MachineForm detail::MachineFormOf(const void* callback) {
  const auto is = [callback](auto function) { return callback == reinterpret_cast<const void*>(function); };
  for (const auto& row : UnaryFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& row : DeterministicUnaryFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& rows : {std::span(MathFunctions), std::span(DeterministicMathFunctions)})
    for (const auto& row : rows)
      if (is(row.Function)) return row.Machine;
  for (const auto& rows : {std::span(FixedFunctions), std::span(DeterministicFixedFunctions)})
    for (const auto& row : rows)
      if (is(row.Function)) return row.Machine;
  for (const auto& row : ListFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& row : Operators)
    if (is(row.Function)) return row.Machine;
  return {};
}

}  // namespace MathUtils
