// A Formula over arrays: NumPy's broadcasting, any strides and memory
// order, read block by block through NumPy's iterator (never a whole copy),
// the numbers held in the evaluator's cells, the results in the order
// NumPy's K order gives (or in out=).
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

#include "python/call_arguments.h"
#include "python/evaluator.h"

namespace PythonModule {

// Loads NumPy's C API; once, when the module is imported.
void ImportNumPy();

// Evaluates at every point of the broadcast arrays and returns out, or a
// new array of the broadcast shape: float16 or float32 where NumPy's result
// type of the arrays is one of them (each value the double rounded once),
// else float64. The evaluation runs in blocks, without the GIL unless the
// formula calls Python; between blocks the main thread sees Ctrl-C
// (KeyboardInterrupt) within a few hundredths of a second. Long blocks
// spread over threads (see thread_setting.h; threads: the Formula's own
// count, if it has one). Broadcasting
// failures and an out= of the wrong shape raise ValueError, an out= that
// cannot take floats TypeError.
pybind11::object EvaluateOverArrays(Evaluator& evaluator, std::span<const std::string> names,
                                    const CallArguments& arguments, std::optional<int> threads);

}  // namespace PythonModule
