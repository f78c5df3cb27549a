// The digits of a command line's value: ten, unless they would round away
// a decimal place that a number of the line was typed with.
#include "calculator/typed_digits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "calculator/calculator_driver.h"
#include "calculator/suffix_places.h"

namespace {

constexpr int Millimetres = 2;
constexpr int Metres = 4;
constexpr int Inches = 8;
constexpr int NoLengthUnit = 0;

TEST(TypedDigits, FindsTheFinestDecimalPlaceTyped) {
  const struct {
    const char* Line;
    int Units;
    int Places;
  } cases[] = {
      {"2600000.1234+1", Millimetres, 4},
      {"1+2", Millimetres, 0},
      {"12.30", Millimetres, 2},
      {".5*2", Millimetres, 1},
      {"1.5e-3", Millimetres, 4},
      {"1.25e1", Millimetres, 1},
      {"1e3", Millimetres, 0},
      {"log10(100.5)", Millimetres, 1},
      {"x2*3", Millimetres, 0},
      {"2*sin(30.25)+5mm", Millimetres, 2},
      {"1.5.3", Millimetres, 1},
      {"1e", Millimetres, 0},
      {"2.5e+2", Millimetres, 0},
      {"", Millimetres, 0},
      {"5mm?", Millimetres, 0},
      {"0.000012345678901", Millimetres, 15},
      // A unit suffix adds the places of its conversion.
      {"0.5mm", Metres, 4},
      {"1in", Metres, 4},
      {"1ft", Millimetres, 1},
      {"2 FT", Millimetres, 1},
      {"5m?", Millimetres, 3},
      {"5mm?", Metres, 0},
      {"1.2345m", Millimetres, 1},
      {"1.2345mi", Metres, 1},
      {"1.5n?", Metres, 10},
      {"1mm", Inches, 3},  // 0.03937..., no finite decimal
      {"1.25in?", Millimetres, 5},
      {"0.5mm", NoLengthUnit, 1},
      {"(2.5)mm", Metres, 4},
      {"((1.5)mm + 1)cm", Metres, 6},
      {"sum(0.5mm, 1)", Metres, 4},
      {"1 + (0.5", Metres, 1},
      {"5mmx", Metres, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TypedDecimalPlaces(c.Line, c.Units), c.Places) << c.Line;
  // A caller's variable counts its own places, and a suffix's after it.
  const NamedPlaces variables[] = {{"x", 1}, {"y2", 5}};
  EXPECT_EQ(TypedDecimalPlaces("(X)m? + 1", Millimetres, variables), 4);
  EXPECT_EQ(TypedDecimalPlaces("y2*x2", Millimetres, variables), 5);
  EXPECT_EQ(TypedDecimalPlaces("(y2)mi", Millimetres, variables), 2);
  EXPECT_EQ(TypedDecimalPlaces("(x)m?", Millimetres), 3);  // without the variable's places
  // Brackets nested deeper than the scan keeps levels for.
  const std::string deep = std::string(40, '(') + "0.5)mm" + std::string(39, ')');
  EXPECT_EQ(TypedDecimalPlaces(deep, Metres), 4);
  EXPECT_EQ(TypedDecimalPlaces(deep + "*(2.5)mi", Metres), 4);
}

// Each suffix's places against its factor in every unit system: rounded to
// its places a finite decimal factor stays itself and to one place fewer it
// does not; any other factor shows its second significant digit there.
TEST(TypedDigits, ASuffixCountsThePlacesOfItsFactor) {
  for (const char* suffix :
       {"mm", "cm", "m", "in", "ft", "mm?", "cm?", "m?", "in?", "ft?", "mi", "mc", "n", "mi?", "mc?", "n?"}) {
    for (int units = 1; units <= 11; ++units) {
      const double factor = CommandLineValue(std::string("1") + suffix, units);
      const int places = SuffixDecimalPlaces(suffix, units).value();
      const auto keptTo = [factor](int shown) {
        const double scale = std::pow(10.0, shown);
        return std::abs(std::round(factor * scale) / scale - factor) <= 1e-9 * factor;
      };
      SCOPED_TRACE(std::string(suffix) + " in unit system " + std::to_string(units));
      if (keptTo(places)) {
        EXPECT_FALSE(keptTo(places - 1));
      } else {
        EXPECT_GE(factor * std::pow(10.0, places), 10);
        EXPECT_LT(factor * std::pow(10.0, places), 100);
      }
    }
  }
  EXPECT_EQ(SuffixDecimalPlaces("x", Metres), std::nullopt);
  // A unit system the calculator does not know leaves lengths as they are.
  for (int units : {INT_MIN, -1, 0, 12, INT_MAX}) EXPECT_EQ(SuffixDecimalPlaces("mm?", units), 0) << units;
}

TEST(TypedDigits, PrintsTenDigitsUnlessATypedPlaceWouldBeLost) {
  const struct {
    const char* Line;
    int Units;
    const char* Shown;
  } cases[] = {
      {"2600000.1234+1", Millimetres, "2600001.1234"},
      {"2600000123.4 + 5mm", Millimetres, "2600000128.4"},
      {"1/3", Millimetres, "0.3333333333"},                          // no place typed
      {"0.1+0.2", Millimetres, "0.3"},                               // ten digits reach the tenths
      {"2600000.5+1", Millimetres, "2600001.5"},                     // so do they here
      {"123456789012345.678+0", Millimetres, "123456789012345.67"},  // seventeen at most
      {"0.000012345678901*1", Millimetres, "1.2345678901e-05"},
      {"0.0001234567891234*0", Millimetres, "0"},
      {"-2600000.1234-1", Millimetres, "-2600001.1234"},
      {"99999999.99+0.005", Millimetres, "99999999.995"},
      // The places a unit suffix gives its number in document units.
      {"1000000 + 0.5mm", Metres, "1000000.0005"},
      {"1234567.125 + 0.5mm", Metres, "1234567.1255"},
      {"2600000 + 1in", Metres, "2600000.0254"},
      {"2600000000 + 1ft", Millimetres, "2600000304.8"},
      {"(2600000000 + 0.5)mm", Metres, "2600000.0005"},
      {"1000000000 + 5m?", Millimetres, "1000000000.005"},
      {"1000000000 + 1mm", Inches, "1000000000.039"},
      {"123456789.123456mi", Metres, "123456789123.456"},  // no digit past the places
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateCommandLine(c.Line, c.Units), c.Shown) << c.Line;
}

// Every value that ten digits show to the typed place prints as "%.10g"
// prints it: more digits only ever add the places that were typed.
TEST(TypedDigits, AddsDigitsOnlyWhereTenStopShortOfATypedPlace) {
  for (const char* line : {"1/3", "2*sin(30)+5mm", "10/4", "1.5*2", "0.25^0.5", "1e10/3", "12.5*1e6"}) {
    const double value = CommandLineValue(line, Metres);
    EXPECT_EQ(DigitsKeepingTypedPlaces(value, line, Metres), CommandLineDigits) << line;
  }
}

// The digits against the rule computed the slow way, from the decimal
// exponent that seventeen printed digits show, over values of every size.
TEST(TypedDigits, TheShortcutForSmallValuesGivesWhatTheRuleGives) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> mantissa(1, 10);
  std::uniform_int_distribution<int> exponent(-300, 300), places(1, 30);
  for (int i = 0; i < 200000; ++i) {
    const double value = (i % 2 ? -1 : 1) * std::ldexp(mantissa(random), exponent(random));
    const int typed = places(random);
    char shown[40];
    std::snprintf(shown, sizeof shown, "%.16e", value);
    const long decimal = std::strtol(std::strchr(shown, 'e') + 1, nullptr, 10);
    const long expected = std::clamp<long>(decimal + 1 + typed, CommandLineDigits, MostSignificantDigits);
    ASSERT_EQ(DigitsKeepingPlaces(value, typed), expected) << shown << " with " << typed << " places";
  }
}

}  // namespace
