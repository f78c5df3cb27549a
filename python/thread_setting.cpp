#include "python/thread_setting.h"

#include <Python.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>

#include "parser/parser.h"

namespace py = pybind11;

namespace PythonModule {

namespace {

// 0 until set: the parser's default, read on first use (and again in a
// child after fork), so that the environment a worker process gets counts.
std::atomic<int> Default{0};
std::atomic<int> CallsUnderWay{0};

}  // namespace

std::optional<int> ReadThreads(const py::handle threads) {
  if (threads.is_none()) return std::nullopt;
  if (!PyLong_Check(threads.ptr()) || PyBool_Check(threads.ptr()))
    throw py::type_error("threads takes an int, not " +
                         std::string(py::str(py::type::handle_of(threads).attr("__name__"))));
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(threads.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && value < 1))
    throw py::value_error("threads takes an int of at least 1, not " + std::string(py::str(threads)));
  return overflow > 0 || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int DefaultThreads() {
  const int set = Default.load(std::memory_order_relaxed);
  return set != 0 ? set : MathUtils::ParserBase::DefaultArrayThreads();
}

int SetDefaultThreads(int threads) {
  const int replaced = Default.exchange(threads, std::memory_order_relaxed);
  return replaced != 0 ? replaced : MathUtils::ParserBase::DefaultArrayThreads();
}

ArrayCallUnderWay::ArrayCallUnderWay(std::optional<int> threads) : Given(threads) {
  CallsUnderWay.fetch_add(1, std::memory_order_relaxed);
}

ArrayCallUnderWay::~ArrayCallUnderWay() { CallsUnderWay.fetch_sub(1, std::memory_order_relaxed); }

int ArrayCallUnderWay::Threads() const {
  if (Given) return *Given;
  return std::max(1, DefaultThreads() / std::max(1, CallsUnderWay.load(std::memory_order_relaxed)));
}

}  // namespace PythonModule
