#include "parser/builtins.h"

#include <cmath>
#include <string>

#include "parser/commands.h"
#include "parser/errors.h"
#include "parser/types.h"

namespace MathUtils {

namespace {

constexpr double K = 0.017453292519943295;    // degrees to radians, the double nearest pi/180
constexpr double R = 57.29577951308232;       // radians to degrees, the double nearest 180/pi
constexpr double K2 = 0.0003046174197867086;  // the double nearest (pi/180)^2, not K * K

double Sin(double x) { return std::sin(x * K); }
double Cos(double x) { return std::cos(x * K); }
double Tan(double x) { return std::tan(x * K); }
double SinR(double x) { return std::sin(x); }
double CosR(double x) { return std::cos(x); }
double TanR(double x) { return std::tan(x); }
double ASin(double x) { return std::asin(x) * R; }
double ACos(double x) { return std::acos(x) * R; }
double ATan(double x) { return std::atan2(x, 1.0) * R; }
double SinH(double x) { return std::sinh(x * K); }
double CosH(double x) { return std::cosh(x * K); }
double TanH(double x) { return std::tanh(x * K); }
double ASinH(double x) { return std::log(std::sqrt(x * x * K2 + 1) + x * K); }
double ACosH(double x) { return std::log(std::sqrt(x * x * K2 - 1) + x * K); }
double ATanH(double x) {
  const double y = x * K;
  return 0.5 * std::log((y + 1) / (1 - y));
}
double ASinR(double x) { return std::asin(x); }
double ACosR(double x) { return std::acos(x); }
double ATanR(double x) { return std::atan2(x, 1.0); }
double SinHR(double x) { return std::sinh(x); }
double CosHR(double x) { return std::cosh(x); }
double TanHR(double x) { return std::tanh(x); }
double ASinHR(double x) { return std::log(std::sqrt(x * x + 1) + x); }
double ACosHR(double x) { return std::log(std::sqrt(x * x - 1) + x); }
double ATanHR(double x) { return 0.5 * std::log((x + 1) / (1 - x)); }
double Log2(double x) { return std::log(x) / std::log(2.0); }
double Log10(double x) { return std::log10(x); }
double Ln(double x) { return std::log(x); }
double Exp(double x) { return std::exp(x); }
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

// Equal values keep the earlier argument; a NaN on either side of a
// comparison moves the pick to the later one.
double Min(std::span<const double> arguments) {
  RequireArguments(arguments, "min");
  double pick = arguments[0];
  for (double argument : arguments.subspan(1))
    if (!(argument >= pick)) pick = argument;
  return pick;
}

double Max(std::span<const double> arguments) {
  RequireArguments(arguments, "max");
  double pick = arguments[0];
  for (double argument : arguments.subspan(1))
    if (!(pick >= argument)) pick = argument;
  return pick;
}

#if VORNCALC_SLEEF
namespace D = detail::Deterministic;

// The same functions in the deterministic library (Repeatable: the same
// bits everywhere). Those computed from
// others keep their formulas, on its log; sqrt is correctly rounded in both.
namespace Repeatable {
double SinD(double x) { return D::Sin(x * K); }
double CosD(double x) { return D::Cos(x * K); }
double TanD(double x) { return D::Tan(x * K); }
double SinR(double x) { return D::Sin(x); }
double CosR(double x) { return D::Cos(x); }
double TanR(double x) { return D::Tan(x); }
double ASinD(double x) { return D::ASin(x) * R; }
double ACosD(double x) { return D::ACos(x) * R; }
double ATanD(double x) { return D::ATan(x) * R; }
double SinHD(double x) { return D::SinH(x * K); }
double CosHD(double x) { return D::CosH(x * K); }
double TanHD(double x) { return D::TanH(x * K); }
double ASinHD(double x) { return D::Log(std::sqrt(x * x * K2 + 1) + x * K); }
double ACosHD(double x) { return D::Log(std::sqrt(x * x * K2 - 1) + x * K); }
double ATanHD(double x) {
  const double y = x * K;
  return 0.5 * D::Log((y + 1) / (1 - y));
}
double ASinR(double x) { return D::ASin(x); }
double ACosR(double x) { return D::ACos(x); }
double ATanR(double x) { return D::ATan(x); }
double SinHR(double x) { return D::SinH(x); }
double CosHR(double x) { return D::CosH(x); }
double TanHR(double x) { return D::TanH(x); }
double ASinHR(double x) { return D::Log(std::sqrt(x * x + 1) + x); }
double ACosHR(double x) { return D::Log(std::sqrt(x * x - 1) + x); }
double ATanHR(double x) { return 0.5 * D::Log((x + 1) / (1 - x)); }
double Log2(double x) { return D::Log(x) / D::Log(2.0); }
double Log10D(double x) { return D::Log10(x); }
double Ln(double x) { return D::Log(x); }
double ExpD(double x) { return D::Exp(x); }
}  // namespace Repeatable
#endif

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

// "sin" alone is not optimisable: the compiler leaves every call of it in
// the bytecode. A Library row must compute what its callback computes.
constexpr detail::BuiltinFunction<UnaryCallback> UnaryFunctions[] = {
    {"sin", Sin, false, Library(std::sin, K)},
    {"cos", Cos, true, Library(std::cos, K)},
    {"tan", Tan, true, Library(std::tan, K)},
    {"sinr", SinR, true, Library(std::sin)},
    {"cosr", CosR, true, Library(std::cos)},
    {"tanr", TanR, true, Library(std::tan)},
    {"asin", ASin, true, Library(std::asin, 0, R)},
    {"acos", ACos, true, Library(std::acos, 0, R)},
    {"atan", ATan, true, Called},
    {"sinh", SinH, true, Library(std::sinh, K)},
    {"cosh", CosH, true, Library(std::cosh, K)},
    {"tanh", TanH, true, Library(std::tanh, K)},
    {"asinh", ASinH, true, Called},
    {"acosh", ACosH, true, Called},
    {"atanh", ATanH, true, Called},
    {"asinr", ASinR, true, Library(std::asin)},
    {"acosr", ACosR, true, Library(std::acos)},
    {"atanr", ATanR, true, Called},
    {"sinhr", SinHR, true, Library(std::sinh)},
    {"coshr", CosHR, true, Library(std::cosh)},
    {"tanhr", TanHR, true, Library(std::tanh)},
    {"asinhr", ASinHR, true, Called},
    {"acoshr", ACosHR, true, Called},
    {"atanhr", ATanHR, true, Called},
    {"log2", Log2, true, Called},
    {"log10", Log10, true, Library(std::log10)},
    {"log", Log10, true, Library(std::log10)},
    {"ln", Ln, true, Library(std::log)},
    {"exp", Exp, true, Library(std::exp)},
    {"sqrt", Sqrt, true, Inline(detail::CallForm::Sqrt)},
    {"sign", Sign, true, Called},
    {"rint", Rint, true, Called},
    {"abs", Abs, true, Inline(detail::CallForm::Abs)},
};

#if VORNCALC_SLEEF
namespace Repeatable {
constexpr detail::BuiltinFunction<UnaryCallback> UnaryFunctions[] = {
    {"sin", SinD, false, Library(D::Sin, K, 0, detail::VectorFunction::Sin)},
    {"cos", CosD, true, Library(D::Cos, K, 0, detail::VectorFunction::Cos)},
    {"tan", TanD, true, Library(D::Tan, K, 0, detail::VectorFunction::Tan)},
    {"sinr", SinR, true, Library(D::Sin, 0, 0, detail::VectorFunction::Sin)},
    {"cosr", CosR, true, Library(D::Cos, 0, 0, detail::VectorFunction::Cos)},
    {"tanr", TanR, true, Library(D::Tan, 0, 0, detail::VectorFunction::Tan)},
    {"asin", ASinD, true, Library(D::ASin, 0, R, detail::VectorFunction::ASin)},
    {"acos", ACosD, true, Library(D::ACos, 0, R, detail::VectorFunction::ACos)},
    {"atan", ATanD, true, Library(D::ATan, 0, R, detail::VectorFunction::ATan)},
    {"sinh", SinHD, true, Library(D::SinH, K, 0, detail::VectorFunction::SinH)},
    {"cosh", CosHD, true, Library(D::CosH, K, 0, detail::VectorFunction::CosH)},
    {"tanh", TanHD, true, Library(D::TanH, K, 0, detail::VectorFunction::TanH)},
    {"asinh", ASinHD, true, Called},
    {"acosh", ACosHD, true, Called},
    {"atanh", ATanHD, true, Called},
    {"asinr", ASinR, true, Library(D::ASin, 0, 0, detail::VectorFunction::ASin)},
    {"acosr", ACosR, true, Library(D::ACos, 0, 0, detail::VectorFunction::ACos)},
    {"atanr", ATanR, true, Library(D::ATan, 0, 0, detail::VectorFunction::ATan)},
    {"sinhr", SinHR, true, Library(D::SinH, 0, 0, detail::VectorFunction::SinH)},
    {"coshr", CosHR, true, Library(D::CosH, 0, 0, detail::VectorFunction::CosH)},
    {"tanhr", TanHR, true, Library(D::TanH, 0, 0, detail::VectorFunction::TanH)},
    {"asinhr", ASinHR, true, Called},
    {"acoshr", ACosHR, true, Called},
    {"atanhr", ATanHR, true, Called},
    {"log2", Log2, true, Called},
    {"log10", Log10D, true, Library(D::Log10, 0, 0, detail::VectorFunction::Log10)},
    {"log", Log10D, true, Library(D::Log10, 0, 0, detail::VectorFunction::Log10)},
    {"ln", Ln, true, Library(D::Log, 0, 0, detail::VectorFunction::Log)},
    {"exp", ExpD, true, Library(D::Exp, 0, 0, detail::VectorFunction::Exp)},
    {"sqrt", MathUtils::Sqrt, true, Inline(detail::CallForm::Sqrt)},
    {"sign", MathUtils::Sign, true, Called},
    {"rint", MathUtils::Rint, true, Called},
    {"abs", MathUtils::Abs, true, Inline(detail::CallForm::Abs)},
};
}  // namespace Repeatable
#else
namespace Repeatable {
constexpr auto& UnaryFunctions = MathUtils::UnaryFunctions;  // never chosen: the library is unavailable
}  // namespace Repeatable
#endif

constexpr bool SameNamesInOrder() {
  if (std::size(UnaryFunctions) != std::size(Repeatable::UnaryFunctions)) return false;
  for (std::size_t i = 0; i < std::size(UnaryFunctions); ++i)
    if (UnaryFunctions[i].Name != Repeatable::UnaryFunctions[i].Name) return false;
  return true;
}
static_assert(SameNamesInOrder(), "both libraries define the same functions in the same order");

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
  if (library == MathLibrary::Deterministic) return Repeatable::UnaryFunctions;
  return UnaryFunctions;
}
std::span<const detail::BuiltinFunction<ListCallback>> detail::BuiltinListFunctions() {
  return ListFunctions;
}
std::span<const detail::BuiltinOperator> detail::BuiltinOperators() { return Operators; }

detail::MachineForm detail::MachineFormOf(const void* callback) {
  const auto is = [callback](auto function) { return callback == reinterpret_cast<const void*>(function); };
  for (const auto& row : UnaryFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& row : Repeatable::UnaryFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& row : ListFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& row : Operators)
    if (is(row.Function)) return row.Machine;
  return {};
}

}  // namespace MathUtils
