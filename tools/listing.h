// vorncalc --listing FORMULA: what the calculator compiles a command line
// to, instead of its value.
#pragma once

#include <CLI/CLI.hpp>

// Adds the option. Its formulas are compiled as Enter would compile them in
// a document of the given unit system (read once all options are parsed);
// the program then prints their listings and ends, with status 0 when every
// formula compiled and 1 otherwise.
void AddListingOption(CLI::App& app, const int& unitSystem);
