// The calculator's vocabulary. The length factors are data: one table per
// direction, a row per document unit system, a column per named unit.
#include "calculator/unit_operators.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <optional>
#include <utility>

#include "calculator/random_draws.h"

int ActiveUnitSystem = 0;

namespace {

using MathUtils::UnaryCallback;

// ORDER LengthUnit: the columns of both factor tables.
enum LengthUnit { Millimetres, Centimetres, Metres, Inches, Feet };

constexpr int FirstUnitSystem = 2;  // millimetres
constexpr int LastUnitSystem = 10;  // miles
constexpr int UnitSystemCount = LastUnitSystem - FirstUnitSystem + 1;
constexpr int LengthUnitCount = 5;

// The operator's own unit: the operand is returned as it is.
constexpr std::optional<double> Unchanged;

using FactorTable = std::optional<double>[UnitSystemCount][LengthUnitCount];

// Document units to the named unit ("mm?", "cm?", "m?", "in?", "ft?"). The
// literals are the exact doubles to multiply by; several are one unit in the
// last place off the nearest double to the ratio, and must stay so.
// clang-format off
constexpr FactorTable ToNamedUnit = {
    /*  2 mm   */ {Unchanged, 0.1, 0.001, 0.03937007874015748, 0.0032808398950131237},
    /*  3 cm   */ {10, Unchanged, 0.01, 0.39370078740157477, 0.03280839895013123},
    /*  4 m    */ {1000, 100, Unchanged, 39.37007874015748, 3.280839895013124},
    /*  5 km   */ {1000000, 100000, 1000, 39370.07874015748, 3280.839895013123},
    /*  6 uin  */ {0.000025399999999999997, 2.54e-6, 2.54e-8, 1e-6, 8.333333333333333e-8},
    /*  7 mil  */ {0.0254, 0.00254, 0.0000254, 0.001, 0.00008333333333333333},
    /*  8 in   */ {25.4, 2.54, 0.0254, Unchanged, 0.08333333333333333},
    /*  9 ft   */ {304.79999999999995, 30.48, 0.30479999999999996, 12, Unchanged},
    /* 10 mi   */ {1609344, 160934.4, 1609.3439999999998, 63360, 5280},
};

// The named unit to document units ("mm", "cm", "m", "in", "ft").
constexpr FactorTable FromNamedUnit = {
    /*  2 mm   */ {Unchanged, 10, 1000, 25.4, 304.79999999999995},
    /*  3 cm   */ {0.1, Unchanged, 100, 2.54, 30.48},
    /*  4 m    */ {0.001, 0.01, Unchanged, 0.0254, 0.30479999999999996},
    /*  5 km   */ {1e-6, 0.00001, 0.001, 0.0000254, 0.00030480000000000004},
    /*  6 uin  */ {39370.078740157485, 393700.78740157484, 39370078.740157485, 1000000,
                   12000000.000000002},
    /*  7 mil  */ {39.37007874015748, 393.70078740157476, 39370.07874015748, 1000, 12000},
    /*  8 in   */ {0.03937007874015748, 0.39370078740157477, 39.37007874015748, Unchanged, 12},
    /*  9 ft   */ {0.0032808398950131237, 0.03280839895013123, 3.280839895013124,
                   0.08333333333333333, Unchanged},
    /* 10 mi   */ {6.21371192237334e-7, 6.21371192237334e-6, 0.000621371192237334,
                   0.000015782828282828283, 0.0001893939393939394},
};
// clang-format on

// Reads the unit system at every call: constant operands are folded while
// compiling, others converted while the bytecode runs.
template <const FactorTable& Table, LengthUnit Unit>
double ConvertLength(double x) {
  const int system = ActiveUnitSystem;
  if (system < FirstUnitSystem || system > LastUnitSystem) return x;
  const std::optional<double>& factor = Table[system - FirstUnitSystem][Unit];
  return factor ? x * *factor : x;
}

// The same conversion in a unit system fixed when the vocabulary is
// defined: the factor is a constant of the function, no global is read.
template <const FactorTable& Table, LengthUnit Unit, int System>
double ConvertLengthIn(double x) {
  constexpr std::optional<double> Factor = Table[System - FirstUnitSystem][Unit];
  if constexpr (Factor.has_value()) return x * *Factor;
  return x;
}

double SameLength(double x) { return x; }

template <const FactorTable& Table, LengthUnit Unit, std::size_t... Index>
constexpr std::array<UnaryCallback, UnitSystemCount> ConvertersIn(std::index_sequence<Index...>) {
  return {ConvertLengthIn<Table, Unit, FirstUnitSystem + static_cast<int>(Index)>...};
}

// The converter for one unit system; outside 2 to 10 lengths stay as they are.
template <const FactorTable& Table, LengthUnit Unit>
UnaryCallback ConverterIn(int system) {
  static constexpr std::array<UnaryCallback, UnitSystemCount> Converters =
      ConvertersIn<Table, Unit>(std::make_index_sequence<UnitSystemCount>{});
  if (system < FirstUnitSystem || system > LastUnitSystem) return SameLength;
  return Converters[static_cast<std::size_t>(system - FirstUnitSystem)];
}

// The fixed factors, one function each: the factor is a literal of its own.
double ThousandthOf(double x) { return x * 0.001; }
double MillionthOf(double x) { return x * 1e-6; }
double BillionthOf(double x) { return x * 1e-9; }
double ThousandTimes(double x) { return x * 1000.0; }
double MillionTimes(double x) { return x * 1e6; }
double BillionTimes(double x) { return x * 1e9; }

double ChangeSign(double x) { return -x; }

struct PostfixOperator {
  const char* Name;
  UnaryCallback Callback;              // in the unit system of ActiveUnitSystem
  UnaryCallback (*InUnitSystem)(int);  // in a given one; null for the fixed factors
};

template <const FactorTable& Table, LengthUnit Unit>
constexpr PostfixOperator Length(const char* name) {
  return {name, ConvertLength<Table, Unit>, ConverterIn<Table, Unit>};
}

// In the order of definition; a later name replaces a default of that name.
constexpr PostfixOperator PostfixOperators[] = {
    {"mi?", ThousandthOf, nullptr},
    {"mc?", MillionthOf, nullptr},
    {"n?", BillionthOf, nullptr},
    Length<ToNamedUnit, Inches>("in?"),
    Length<ToNamedUnit, Millimetres>("mm?"),
    Length<ToNamedUnit, Feet>("ft?"),
    Length<ToNamedUnit, Centimetres>("cm?"),
    Length<ToNamedUnit, Metres>("m?"),
    {"mi", ThousandTimes, nullptr},
    {"mc", MillionTimes, nullptr},
    {"n", BillionTimes, nullptr},
    Length<FromNamedUnit, Inches>("in"),
    Length<FromNamedUnit, Millimetres>("mm"),
    Length<FromNamedUnit, Feet>("ft"),
    Length<FromNamedUnit, Centimetres>("cm"),
    Length<FromNamedUnit, Metres>("m"),
};

void AddVocabulary(MathUtils::Parser& parser, std::optional<int> unitSystem) {
  parser.AddMathFunctions();
  parser.AddConstant("pi", 3.141592653589793);
  parser.AddConstant("e", 2.718281828459045);
  for (const PostfixOperator& op : PostfixOperators)
    parser.AddPostfixOperator(op.Name,
                              unitSystem && op.InUnitSystem ? op.InUnitSystem(*unitSystem) : op.Callback);
  parser.AddPrefixOperator("-", ChangeSign);
  parser.AddFunction("rnd", UnaryCallback{DrawRandom}, /*optimizable=*/false);
}

// The vocabulary in one unit system, defined once through the definition
// operations.
class BuiltVocabulary : public MathUtils::Parser {
 public:
  explicit BuiltVocabulary(int unitSystem) { AddVocabulary(*this, unitSystem); }
};

template <int System>
const MathUtils::ParserBase& VocabularyIn() {
  static const BuiltVocabulary Vocabulary(System);
  return Vocabulary;
}

template <std::size_t... Index>
constexpr std::array<const MathUtils::ParserBase& (*)(), UnitSystemCount> VocabulariesIn(
    std::index_sequence<Index...>) {
  return {VocabularyIn<FirstUnitSystem + static_cast<int>(Index)>...};
}

// Any unit system outside 2 to 10 leaves lengths as they are: one
// vocabulary serves them all.
constexpr int UnconvertedLengths = 0;

}  // namespace

void AddCalculatorVocabulary(MathUtils::Parser& parser) { AddVocabulary(parser, std::nullopt); }

void AddCalculatorVocabulary(MathUtils::Parser& parser, int unitSystem) { AddVocabulary(parser, unitSystem); }

const MathUtils::ParserBase& CalculatorVocabulary(int unitSystem) {
  static constexpr std::array<const MathUtils::ParserBase& (*)(), UnitSystemCount> Vocabularies =
      VocabulariesIn(std::make_index_sequence<UnitSystemCount>{});
  if (unitSystem < FirstUnitSystem || unitSystem > LastUnitSystem) return VocabularyIn<UnconvertedLengths>();
  return Vocabularies[static_cast<std::size_t>(unitSystem - FirstUnitSystem)]();
}

bool IsLengthSuffix(std::string_view name) {
  return std::any_of(std::begin(PostfixOperators), std::end(PostfixOperators),
                     [name](const PostfixOperator& op) { return op.InUnitSystem && name == op.Name; });
}
