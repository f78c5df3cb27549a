#include "python/thread_setting.h"

#include <Python.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <thread>

namespace py = pybind11;

namespace PythonModule {

namespace {

int Cores() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 1024u)); }

std::atomic<int> Default{Cores()};
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

int DefaultThreads() { return Default.load(std::memory_order_relaxed); }

int SetDefaultThreads(int threads) { return Default.exchange(threads, std::memory_order_relaxed); }

ArrayCallUnderWay::ArrayCallUnderWay(std::optional<int> threads) : Given(threads) {
  CallsUnderWay.fetch_add(1, std::memory_order_relaxed);
}

ArrayCallUnderWay::~ArrayCallUnderWay() { CallsUnderWay.fetch_sub(1, std::memory_order_relaxed); }

int ArrayCallUnderWay::Threads() const {
  if (Given) return *Given;
  return std::max(1, DefaultThreads() / std::max(1, CallsUnderWay.load(std::memory_order_relaxed)));
}

}  // namespace PythonModule
