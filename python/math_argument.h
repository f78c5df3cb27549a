// The math= argument: which math library the functions and powers of a
// Formula compute with, by name.
#pragma once

#include <pybind11/pybind11.h>

#include "parser/core/types.h"

namespace PythonModule {

// "c" (the C library) or "deterministic" (the same bits on every processor
// and vector width); TypeError for anything but a str, ValueError for
// another name or a library this build lacks.
MathUtils::MathLibrary ReadMathLibrary(const pybind11::handle math);

// The name ReadMathLibrary takes for the library.
const char* MathLibraryName(MathUtils::MathLibrary library);

}  // namespace PythonModule
