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

double Negate(double x) { return -x; }
double Milli(double x) { return x * 0.001; }
double Micro(double x) { return x * 1e-6; }
double Nano(double x) { return x * 1e-9; }

using LibraryFunction = double (*)(double);

// The machine forms of the rows below.
constexpr detail::MachineForm Called{detail::CallForm::Builtin};
constexpr detail::MachineForm Inline(detail::CallForm form) { return {form}; }
constexpr detail::MachineForm Library(LibraryFunction function, double before = 0, double after = 0) {
  return {detail::CallForm::Library, function, before, after};
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

std::span<const detail::BuiltinFunction<UnaryCallback>> detail::BuiltinUnaryFunctions() {
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
  for (const auto& row : ListFunctions)
    if (is(row.Function)) return row.Machine;
  for (const auto& row : Operators)
    if (is(row.Function)) return row.Machine;
  return {};
}

}  // namespace MathUtils
