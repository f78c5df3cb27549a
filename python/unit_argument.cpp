#include "python/unit_argument.h"

#include <Python.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "calculator/unit_systems.h"

namespace py = pybind11;

namespace PythonModule {

namespace {

std::string KnownNames() {
  std::string names;
  for (const UnitSystemName& system : KnownUnitSystems()) names += std::string(system.Abbreviation) + ", ";
  return names + "or a unit system's number";
}

}  // namespace

int ReadUnitSystem(const py::handle units) {
  if (PyLong_Check(units.ptr()) && !PyBool_Check(units.ptr())) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(units.ptr(), &overflow);
    if (overflow != 0 || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
      throw py::value_error("unit system number out of range: " + std::string(py::str(units)));
    return static_cast<int>(number);
  }
  if (!PyUnicode_Check(units.ptr()))
    throw py::type_error("units takes a unit name such as \"mm\" or a unit system's number, not " +
                         std::string(py::str(py::type::handle_of(units).attr("__name__"))));
  const std::string name = py::str(units);
  const std::optional<int> number = ParseUnitSystem(name);
  if (!number) throw py::value_error("unknown unit '" + name + "': " + KnownNames());
  return *number;
}

}  // namespace PythonModule
