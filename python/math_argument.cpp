#include "python/math_argument.h"

#include <Python.h>

#include <string>
#include <string_view>

#include "parser/parser.h"

namespace py = pybind11;

namespace PythonModule {

namespace {

struct LibraryName {
  std::string_view Name;
  MathUtils::MathLibrary Library;
};

constexpr LibraryName Libraries[] = {
    {"c", MathUtils::MathLibrary::C},
    {"deterministic", MathUtils::MathLibrary::Deterministic},
};

}  // namespace

MathUtils::MathLibrary ReadMathLibrary(const py::handle math) {
  if (!PyUnicode_Check(math.ptr()))
    throw py::type_error("math takes \"c\" or \"deterministic\", not " +
                         std::string(py::str(py::type::handle_of(math).attr("__name__"))));
  const std::string name = py::str(math);
  for (const LibraryName& library : Libraries) {
    if (library.Name != name) continue;
    if (!MathUtils::ParserBase::MathLibraryAvailable(library.Library))
      throw py::value_error("math=\"" + name + "\" is not available in this build");
    return library.Library;
  }
  throw py::value_error("unknown math library '" + name + "': \"c\" or \"deterministic\"");
}

const char* MathLibraryName(MathUtils::MathLibrary library) {
  for (const LibraryName& known : Libraries)
    if (known.Library == library) return known.Name.data();
  return "c";
}

}  // namespace PythonModule
