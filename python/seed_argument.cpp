#include "python/seed_argument.h"

#include <Python.h>

#include <string>

namespace py = pybind11;

namespace PythonModule {

std::optional<std::uint32_t> ReadSeed(const py::handle seed) {
  if (seed.is_none()) return std::nullopt;
  if (!PyLong_Check(seed.ptr()) || PyBool_Check(seed.ptr()))
    throw py::type_error("seed takes an int, not " +
                         std::string(py::str(py::type::handle_of(seed).attr("__name__"))));
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(seed.ptr(), &overflow);
  if (overflow != 0 || value < 0 || value > 0xFFFFFFFFLL)
    throw py::value_error("seed takes an int from 0 to 2**32 - 1, not " + std::string(py::str(seed)));
  return static_cast<std::uint32_t>(value);
}

}  // namespace PythonModule
