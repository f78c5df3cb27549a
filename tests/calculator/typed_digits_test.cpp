// The digits of a command line's value: ten, unless they would round away
// a decimal place that a number of the line was typed with.
#include "calculator/typed_digits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "calculator/calculator_driver.h"

namespace {

TEST(TypedDigits, FindsTheFinestDecimalPlaceTyped) {
  const std::pair<const char*, int> cases[] = {
      {"2600000.1234+1", 4},
      {"1+2", 0},
      {"12.30", 2},
      {".5*2", 1},
      {"1.5e-3", 4},
      {"1.25e1", 1},
      {"1e3", 0},
      {"log10(100.5)", 1},
      {"x2*3", 0},
      {"2*sin(30.25)+5mm", 2},
      {"1.5.3", 1},
      {"1e", 0},
      {"2.5e+2", 0},
      {"", 0},
      {"5mm?", 0},
      {"0.000012345678901", 15},
  };
  for (const auto& [line, places] : cases) EXPECT_EQ(TypedDecimalPlaces(line), places) << line;
}

TEST(TypedDigits, PrintsTenDigitsUnlessATypedPlaceWouldBeLost) {
  const struct {
    double Value;
    const char* Line;
    const char* Shown;
  } cases[] = {
      {2600001.1234, "2600000.1234+1", "2600001.1234"},
      {2600000128.4, "2600000123.4 + 5mm", "2600000128.4"},
      {1.0 / 3, "1/3", "0.3333333333"},                                     // no place typed
      {0.30000000000000004, "0.1+0.2", "0.3"},                              // ten digits reach the tenths
      {2600001.5, "2600000.5+1", "2600001.5"},                              // so do they here
      {123456789012345.67, "123456789012345.678+0", "123456789012345.67"},  // seventeen at most
      {1.2345678901e-5, "0.000012345678901*1", "1.2345678901e-05"},
      {0, "0.0001234567891234*0", "0"},
      {-2600001.1234, "-2600000.1234-1", "-2600001.1234"},
      {99999999.995, "99999999.99+0.005", "99999999.995"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatValue(c.Value, DigitsKeepingTypedPlaces(c.Value, c.Line)), c.Shown) << c.Line;
}

// Every value that ten digits show to the typed place prints as "%.10g"
// prints it: more digits only ever add the places that were typed.
TEST(TypedDigits, AddsDigitsOnlyWhereTenStopShortOfATypedPlace) {
  for (const char* line : {"1/3", "2*sin(30)+5mm", "10/4", "1.5*2", "0.25^0.5", "1e10/3", "12.5*1e6"}) {
    const double value = CommandLineValue(line, 4);
    EXPECT_EQ(DigitsKeepingTypedPlaces(value, line), CommandLineDigits) << line;
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
