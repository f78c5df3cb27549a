// The seed= argument: None, or the seed of the draws of rnd, an int from 0
// to 2**32 - 1.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

namespace PythonModule {

// None for None; ValueError for an int out of range, TypeError for anything
// but an int.
std::optional<std::uint32_t> ReadSeed(const pybind11::handle seed);

}  // namespace PythonModule
