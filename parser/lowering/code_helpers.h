// What the generated code (parser/x86/machine_code.cpp) calls where it cannot
// take a step itself, and the facts of numbers its lowering relies on.
// Exceptions pass through these functions as through the code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parser/core/types.h"

namespace MathUtils::detail {

// A list callback takes a span, which the code cannot build: these do.
double CallList(ListCallback callback, const double* arguments, std::size_t count);
double CallListWithContext(ListContextCallback callback, void* context, const double* arguments,
                           std::size_t count);

// "^" with an exponent known only when the code runs.
double RaiseToPower(double base, double exponent);
// "^" with a number exponent other than 1 and 2: the C library's pow.
extern double (*const LibraryPow)(double, double);

// Whether dividing by the number is multiplying by its reciprocal: for a
// power of two whose reciprocal is a normal number both are the same exact
// quotient rounded once, for every dividend.
bool ExactReciprocal(double divisor, double& reciprocal);

// The bits that abs clears and negation flips.
inline constexpr std::uint64_t AbsMask = 0x7fffffffffffffff;
inline constexpr std::uint64_t SignMask = 0x8000000000000000;

}  // namespace MathUtils::detail
