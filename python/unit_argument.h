// The units= argument: a unit system's name as `vorncalc -u` takes it
// ("mm", "M", ...), or its number, as a str or an int.
#pragma once

#include <pybind11/pybind11.h>

namespace PythonModule {

// The unit system's number; ValueError for an unknown name or a number
// beyond 32 bits, TypeError for anything but a str or an int.
int ReadUnitSystem(const pybind11::handle units);

}  // namespace PythonModule
