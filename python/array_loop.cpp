#include "python/array_loop.h"

// NumPy's C API is used in this file alone: its function table is this
// file's own.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/formula_error.h"
#include "python/thread_setting.h"

namespace py = pybind11;

namespace PythonModule {

namespace {

using Clock = std::chrono::steady_clock;

// Points per buffer where the iterator copies (casts, broadcasts, strides):
// the buffers of a few operands stay in the second-level cache.
constexpr npy_intp BufferPoints = 8192;

PyArrayObject* AsArray(const py::object& array) { return reinterpret_cast<PyArrayObject*>(array.ptr()); }

// As Python writes a shape: (3,) or (2, 2).
std::string ShapeText(const py::object& array) { return py::str(array.attr("shape")); }

// NumPy's broadcasting rule, checked here so that the error names the
// variables: extents are equal or 1, compared from the last axis.
// NumPy's iterator holds at most NPY_MAXARGS operands, the results among
// them; beyond, NumPy's own message would name its iterator, not the call.
void CheckArrayCount(const CallArguments& arguments) {
  constexpr std::size_t MostArrays = NPY_MAXARGS - 1;
  std::size_t arrays = 0;
  for (const CallArgument& argument : arguments.Values) arrays += argument.Number ? 0 : 1;
  if (arrays > MostArrays)
    throw py::value_error("a call takes at most " + std::to_string(MostArrays) +
                          " arrays (NumPy's iterator holds " + std::to_string(NPY_MAXARGS) +
                          ", the results among them), but " + std::to_string(arrays) + " were given");
}

void CheckBroadcast(std::span<const std::string> names, const CallArguments& arguments) {
  std::vector<npy_intp> shape;
  std::size_t first = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (arguments.Values[i].Number) continue;
    PyArrayObject* array = AsArray(arguments.Values[i].Array);
    const auto ndim = static_cast<std::size_t>(PyArray_NDIM(array));
    if (shape.empty()) first = i;
    if (ndim > shape.size()) shape.insert(shape.begin(), ndim - shape.size(), 1);
    for (std::size_t d = 0; d < ndim; ++d) {
      npy_intp& extent = shape[shape.size() - ndim + d];
      const npy_intp given = PyArray_DIM(array, static_cast<int>(d));
      if (given == extent || given == 1) continue;
      if (extent != 1)
        throw py::value_error("the arrays cannot be broadcast together: '" + names[first] + "' is " +
                              ShapeText(arguments.Values[first].Array) + ", '" + names[i] + "' is " +
                              ShapeText(arguments.Values[i].Array));
      extent = given;
    }
  }
}

// Float16 or float32 where NumPy's result type of the arrays is one of
// them, else float64.
py::object ResultType(const std::vector<PyArrayObject*>& arrays) {
  auto* type = PyArray_ResultType(static_cast<npy_intp>(arrays.size()),
                                  const_cast<PyArrayObject**>(arrays.data()), 0, nullptr);
  if (!type) throw py::error_already_set();
  auto result = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(type));
  if (type->kind == 'f' && type->elsize < 8) return result;
  return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
}

// Owns an iterator; deallocating it writes back what its buffers still hold.
class Iterator {
 public:
  explicit Iterator(NpyIter* iterator) : It(iterator) {
    if (!It) throw py::error_already_set();
  }
  ~Iterator() {
    if (It) NpyIter_Deallocate(It);
  }
  Iterator(const Iterator&) = delete;
  Iterator& operator=(const Iterator&) = delete;
  NpyIter* Get() const { return It; }
  // Writes back and frees, raising what writing back raised.
  void Finish() {
    NpyIter* it = std::exchange(It, nullptr);
    if (NpyIter_Deallocate(it) != NPY_SUCCEED) throw py::error_already_set();
  }

 private:
  NpyIter* It;
};

// A new array of the broadcast shape of the arrays, in the order of their
// memory (K), of the given type.
py::object AllocateResults(std::vector<PyArrayObject*> operands, const py::object& type) {
  std::vector<npy_uint32> flags(operands.size(), NPY_ITER_READONLY);
  std::vector<PyArray_Descr*> types(operands.size(), nullptr);
  operands.push_back(nullptr);
  flags.push_back(NPY_ITER_WRITEONLY | NPY_ITER_ALLOCATE);
  types.push_back(reinterpret_cast<PyArray_Descr*>(type.ptr()));
  Iterator iterator(NpyIter_MultiNew(static_cast<int>(operands.size()), operands.data(),
                                     NPY_ITER_ZEROSIZE_OK | NPY_ITER_REFS_OK, NPY_KEEPORDER, NPY_NO_CASTING,
                                     flags.data(), types.data()));
  auto results = py::reinterpret_borrow<py::object>(
      reinterpret_cast<PyObject*>(NpyIter_GetOperandArray(iterator.Get())[operands.size() - 1]));
  iterator.Finish();
  return results;
}

// Whether this is the main thread, the only one that handles signals.
bool OnMainThread() {
  const py::object ident = py::module_::import("threading").attr("main_thread")().attr("ident");
  return py::cast<unsigned long>(ident) == PyThread_get_thread_ident();
}

// Splits the iterator's inner loops into pieces: long enough that a call of
// EvaluateArrays per piece costs nothing, short enough that the main thread
// looks for signals (Ctrl-C) every few hundredths of a second.
class Pacer {
 public:
  // gilReleased: the GIL is taken for each look; only on the main thread.
  Pacer(bool gilReleased, bool mainThread)
      : GilReleased(gilReleased), MainThread(mainThread), PieceStart(Clock::now()), LastCheck(PieceStart) {}

  npy_intp Piece() const { return PieceSize; }

  void After() {
    const auto now = Clock::now();
    const auto took = now - PieceStart;
    if (took < std::chrono::milliseconds(2) && PieceSize < MostPoints) PieceSize = Grown(took);
    if (took > std::chrono::milliseconds(20) && PieceSize > LeastPoints) PieceSize /= 2;
    if (MainThread && now - LastCheck > std::chrono::milliseconds(20)) {
      CheckSignals();
      LastCheck = now;
    }
    PieceStart = Clock::now();
  }

 private:
  static constexpr npy_intp LeastPoints = 64;
  static constexpr npy_intp MostPoints = npy_intp{1} << 22;

  // Toward pieces of a few milliseconds at the pace of the last one, at
  // most 16 times as long at once: a long array soon runs in long calls,
  // which spread over threads and write around the caches as a call over
  // all of it would.
  npy_intp Grown(Clock::duration took) const {
    constexpr double Target = std::chrono::duration<double>(std::chrono::milliseconds(5)).count();
    const double seconds = std::max(std::chrono::duration<double>(took).count(), 1e-9);
    const double factor = std::clamp(Target / seconds, 2.0, 16.0);
    return std::min(MostPoints, static_cast<npy_intp>(static_cast<double>(PieceSize) * factor));
  }

  void CheckSignals() const {
    std::optional<py::gil_scoped_acquire> held;
    if (GilReleased) held.emplace();
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  }

  bool GilReleased;
  bool MainThread;
  npy_intp PieceSize = npy_intp{1} << 14;
  Clock::time_point PieceStart;
  Clock::time_point LastCheck;
};

void RunBlocks(Evaluator& evaluator, NpyIter* iterator, std::vector<MathUtils::VariableArray>& listed,
               Pacer& pacer, const ArrayCallUnderWay& call) {
  NpyIter_IterNextFunc* next = NpyIter_GetIterNext(iterator, nullptr);
  if (!next) throw py::error_already_set();
  char** data = NpyIter_GetDataPtrArray(iterator);
  const npy_intp* size = NpyIter_GetInnerLoopSizePtr(iterator);
  do {
    for (npy_intp done = 0; done < *size;) {
      const npy_intp count = std::min(pacer.Piece(), *size - done);
      for (std::size_t j = 0; j < listed.size(); ++j)
        listed[j].Values = reinterpret_cast<const double*>(data[j]) + done;
      double* results = reinterpret_cast<double*>(data[listed.size()]) + done;
      evaluator.GetParser().EvaluateArrays(
          listed, std::span<double>(results, static_cast<std::size_t>(count)), call.Threads());
      done += count;
      pacer.After();
    }
  } while (next(iterator));
}

}  // namespace

void ImportNumPy() {
  if (_import_array() < 0) throw py::error_already_set();
}

py::object EvaluateOverArrays(Evaluator& evaluator, std::span<const std::string> names,
                              const CallArguments& arguments, std::optional<int> threads) {
  CheckArrayCount(arguments);
  CheckBroadcast(names, arguments);
  std::vector<PyArrayObject*> operands;
  std::vector<MathUtils::VariableArray> listed;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const CallArgument& argument = arguments.Values[i];
    if (argument.Number) {
      evaluator.Cell(i) = *argument.Number;  // held: the parser reads it from its cell
    } else {
      operands.push_back(AsArray(argument.Array));
      listed.push_back({evaluator.CellAddress(i), nullptr});
    }
  }
  const py::object results =
      arguments.Out.is_none() ? AllocateResults(operands, ResultType(operands)) : arguments.Out;
  operands.push_back(AsArray(results));

  std::vector<npy_uint32> flags(operands.size(),
                                NPY_ITER_READONLY | NPY_ITER_CONTIG | NPY_ITER_ALIGNED | NPY_ITER_NBO);
  flags.back() =
      NPY_ITER_WRITEONLY | NPY_ITER_CONTIG | NPY_ITER_ALIGNED | NPY_ITER_NBO | NPY_ITER_NO_BROADCAST;
  const auto float64 =
      py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
  std::vector<PyArray_Descr*> types(operands.size(), reinterpret_cast<PyArray_Descr*>(float64.ptr()));
  Iterator iterator(NpyIter_AdvancedNew(static_cast<int>(operands.size()), operands.data(),
                                        NPY_ITER_EXTERNAL_LOOP | NPY_ITER_BUFFERED | NPY_ITER_GROWINNER |
                                            NPY_ITER_ZEROSIZE_OK | NPY_ITER_COPY_IF_OVERLAP,
                                        NPY_KEEPORDER, NPY_SAME_KIND_CASTING, flags.data(), types.data(), -1,
                                        nullptr, nullptr, BufferPoints));

  if (NpyIter_GetIterSize(iterator.Get()) > 0) {
    const bool keepGil = evaluator.CallsPython() || NpyIter_IterationNeedsAPI(iterator.Get());
    Pacer pacer(!keepGil, OnMainThread());
    const ArrayCallUnderWay call(threads);
    try {
      std::optional<py::gil_scoped_release> released;
      if (!keepGil) released.emplace();
      RunBlocks(evaluator, iterator.Get(), listed, pacer, call);
    } catch (const MathUtils::ParserException& error) {
      RaiseFormulaError(error, evaluator.GetParser().GetFormula());
    }
  }
  iterator.Finish();
  return results;
}

}  // namespace PythonModule
