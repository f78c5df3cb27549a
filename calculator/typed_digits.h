// How many significant digits show a command line's value without losing a
// decimal place that the user typed. The plug-in prints ten, as "%.10g"
// does; a georeferenced coordinate such as 2600000.1234 needs more, and a
// value shown with fewer places than its own numbers were typed with would
// be a wrong number that nothing warns of.
#pragma once

#include <span>
#include <string_view>

// The plug-in's digits: what "%.10g" shows.
inline constexpr int CommandLineDigits = 10;
// Seventeen significant digits read back as the very same double.
inline constexpr int MostSignificantDigits = 17;

// The finest decimal place of the line's numbers, counted after the point
// in document units of the unit system (an ON::unit_system value): the
// places typed ("2600000.1234" 4, "1.5e-3" 4, "12.30" 2, "1e3" 0), plus
// those of the conversion of a unit suffix that follows a number or a
// bracket (calculator/suffix_places.h: "0.5mm" in metres 4, "1ft" in
// millimetres 1, "(2.5)mm" in metres 4); 0 when no number has one. Digits
// inside names ("log10", "x2") are no numbers; a caller's variable counts
// the places of its value, a suffix after it too ("(x)m?").
struct NamedPlaces {
  std::string_view Name;  // in lower case
  int Places;
};
int TypedDecimalPlaces(std::string_view line, int unitSystem, std::span<const NamedPlaces> variables = {});

// Ten, unless ten significant digits of the value stop short of the
// finest place typed; then as many as reach it, at most seventeen.
// Every value that ten digits already show to that place keeps ten.
int DigitsKeepingTypedPlaces(double value, std::string_view line, int unitSystem);

// The same for a given number of decimal places, for a value computed from
// values typed earlier (the terminal's variables).
int DigitsKeepingPlaces(double value, int places);
