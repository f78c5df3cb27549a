#include "python/formula_text.h"

#include <Python.h>

#include "parser/core/errors.h"
#include "python/formula_error.h"

namespace py = pybind11;

namespace PythonModule {

std::string FormulaText(py::handle text, const char* what) {
  if (!PyUnicode_Check(text.ptr()))
    throw py::type_error(std::string(what) + " must be a str, not " +
                         std::string(py::str(py::type::handle_of(text).attr("__name__"))));
  const Py_ssize_t length = PyUnicode_GetLength(text.ptr());
  const int kind = PyUnicode_KIND(text.ptr());
  const void* data = PyUnicode_DATA(text.ptr());
  for (Py_ssize_t i = 0; i < length; ++i) {
    const Py_UCS4 character = PyUnicode_READ(kind, data, i);
    if (character != 0 && character < 128) continue;
    const py::str read = py::reinterpret_steal<py::str>(PyUnicode_Substring(text.ptr(), 0, i + 1));
    RaiseFormulaError(std::string(MathUtils::Messages::UnknownToken) + " " + std::string(read) + " <- here",
                      static_cast<std::size_t>(i + 1), py::reinterpret_borrow<py::str>(text));
  }
  return py::cast<std::string>(text);
}

}  // namespace PythonModule
