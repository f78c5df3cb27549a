#include "python/formula_error.h"

#include <pybind11/eval.h>

#include <algorithm>

namespace py = pybind11;

namespace PythonModule {

namespace {

constexpr std::string_view Marker = " <- here";

// Defined in Python, so that it is an ordinary exception class: its
// instances take attributes, pickle and print as any ValueError.
constexpr const char* FormulaErrorSource = R"python(
class FormulaError(ValueError):
    """A formula that the parser refuses.

    str(error) is the parser's message, followed by the formula up to where
    reading stopped and " <- here" where the parser names a place.

    Attributes:
        position: the number of characters of the formula read before the
            error was noticed, or None when the message names no place.
        formula: the formula text, or None.
    """

    def __init__(self, message, position=None, formula=None):
        super().__init__(message)
        self.position = position
        self.formula = formula

    def __reduce__(self):
        return (type(self), (str(self), self.position, self.formula))
)python";

py::object& FormulaErrorClass() {
  // Never released: no Python object may be after the interpreter ends.
  static auto* Class = new py::object();
  return *Class;
}

}  // namespace

void AddFormulaError(py::module_& module) {
  py::dict scope;
  scope["__builtins__"] = py::module_::import("builtins");
  scope["__name__"] = module.attr("__name__");
  py::exec(FormulaErrorSource, scope);
  FormulaErrorClass() = scope["FormulaError"];
  module.attr("FormulaError") = FormulaErrorClass();
  py::register_exception_translator([](std::exception_ptr pending) {
    try {
      if (pending) std::rethrow_exception(pending);
    } catch (const MathUtils::ParserException& error) {
      try {
        RaiseFormulaError(error, error.GetFormula());
      } catch (py::error_already_set& raised) {
        raised.restore();  // the Python error stays set, as a translator leaves it
      }
    }
  });
}

std::optional<std::size_t> MarkedPosition(const std::string& text, const std::string& readText) {
  if (!text.ends_with(Marker)) return std::nullopt;
  const std::string_view withoutMarker = std::string_view(text).substr(0, text.size() - Marker.size());
  for (const std::string_view message : MathUtils::Messages::All) {
    if (!withoutMarker.starts_with(message) || withoutMarker.size() <= message.size() ||
        withoutMarker[message.size()] != ' ')
      continue;
    const std::string_view read = withoutMarker.substr(message.size() + 1);
    if (std::string_view(readText).starts_with(read)) return read.size();
  }
  return std::nullopt;
}

namespace {

// Messages about the end of the formula, where the end is the place.
bool AboutTheEnd(const std::string& text) {
  return text.starts_with(MathUtils::Messages::UnexpectedEnd) ||
         text.starts_with(MathUtils::Messages::MissingClosingBracket);
}

// A message at the very start shows the whole formula without a marker
// ("+a", ")"), as does one about the end: the start is its place.
bool AtTheStart(const std::string& text, const std::string& readText) {
  if (readText.empty() || AboutTheEnd(text)) return false;
  return std::any_of(std::begin(MathUtils::Messages::All), std::end(MathUtils::Messages::All),
                     [&](std::string_view message) {
                       return text.size() == message.size() + 1 + readText.size() &&
                              text.starts_with(message) && text[message.size()] == ' ' &&
                              text.ends_with(readText);
                     });
}

// Python's power operator is the first a NumPy user types; here it is "^".
std::string WithPowerHint(std::string text, std::string_view formula, std::optional<std::size_t> position) {
  if (position && *position > 0 && formula.substr(*position - 1).starts_with("**"))
    text += "\nA power is written x^y here: ** is no operator";
  return text;
}

}  // namespace

void RaiseFormulaError(const MathUtils::ParserException& error, std::string_view formula) {
  const bool hasFormula = error.GetFormula() != MathUtils::NoFormulaText;
  std::string text = error.what();
  std::optional<std::size_t> position = MarkedPosition(text, error.GetFormula());
  if (!position && hasFormula && AboutTheEnd(text)) position = formula.size();
  if (!position && hasFormula && AtTheStart(text, error.GetFormula())) position = 0;
  text = WithPowerHint(std::move(text), error.GetFormula(), position);
  const py::object formulaValue =
      hasFormula ? py::object(py::str(formula.data(), formula.size())) : py::object(py::none());
  RaiseFormulaError(text, position, formulaValue);
}

void RaiseFormulaError(const std::string& text, std::optional<std::size_t> position,
                       const py::object& formula) {
  // The parser reads ASCII only (FormulaText), but a name it quotes may
  // hold any byte: never a UnicodeDecodeError instead of the error. A lone
  // surrogate of a name (NameText) reads back as itself.
  const auto size = static_cast<Py_ssize_t>(text.size());
  auto message = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(text.data(), size, "surrogatepass"));
  if (!message) {
    PyErr_Clear();
    message = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(text.data(), size, "backslashreplace"));
  }
  if (!message) throw py::error_already_set();
  RaiseFormulaError(message, position, formula);
}

void RaiseFormulaError(const py::object& message, std::optional<std::size_t> position,
                       const py::object& formula) {
  const py::object positionValue = position ? py::cast(*position) : py::none();
  const py::object instance = FormulaErrorClass()(message, positionValue, formula);
  PyErr_SetObject(FormulaErrorClass().ptr(), instance.ptr());
  throw py::error_already_set();
}

}  // namespace PythonModule
