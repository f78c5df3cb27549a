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
    // Composed in Python: the text read may hold a lone surrogate, which
    // UTF-8 cannot.
    const std::string message(MathUtils::Messages::UnknownToken);
    const auto read = py::reinterpret_steal<py::object>(PyUnicode_Substring(text.ptr(), 0, i + 1));
    const auto composed =
        py::reinterpret_steal<py::object>(PyUnicode_FromFormat("%s %U <- here", message.c_str(), read.ptr()));
    if (!composed) throw py::error_already_set();
    RaiseFormulaError(composed, static_cast<std::size_t>(i + 1), py::reinterpret_borrow<py::str>(text));
  }
  return py::cast<std::string>(text);
}

std::string NameText(py::handle name) {
  const auto bytes =
      py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(name.ptr(), "utf-8", "surrogatepass"));
  if (!bytes) throw py::error_already_set();
  return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

}  // namespace PythonModule
