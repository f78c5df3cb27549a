// The decimal places that a unit suffix adds to the number it follows: the
// places of its conversion factor, so that "0.5mm" in a metres document
// counts the four places of 0.0005, not the one typed.
#pragma once

#include <optional>
#include <string_view>

// The places of the suffix's factor in the unit system (an ON::unit_system
// value), added to the places typed:
//
//   suffix          factor                  places
//   --------------  ----------------------  -----------------------------
//   "mm" in metres  0.001                   3
//   "in" in metres  0.0254                  4
//   "ft" in mm      304.8                   1
//   "m" in mm       1000                    -3 (1.2345m is 1234.5 mm)
//   "mi" "mc" "n"   1000, 1e6, 1e9          -3, -6, -9
//   "mi?" ... "n?"  0.001, 1e-6, 1e-9       3, 6, 9
//   "mm" in inches  1/25.4 = 0.03937...,    the place of its second
//                   no finite decimal       significant digit: 3
//   the own unit,   1                       0
//   or a unit
//   system the
//   suffixes leave
//
// A reverse length suffix ("mm?") has the inverse factor. A factor that is
// no finite decimal has no last place; its count shows one unit in the
// typed number's last place, converted, to two significant digits: read
// back in the suffix's unit the printed value is then off by less than a
// twentieth of that place, so the typed place survives, and no digit is
// added that only the rounding of the factor would fill.
// Nothing for a name that is no suffix.
std::optional<int> SuffixDecimalPlaces(std::string_view suffix, int unitSystem);
