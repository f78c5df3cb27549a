#include "parser/parser_base.h"

#include <array>

namespace MathUtils {

namespace {

// Initial table sizes that hold the default and calculator vocabularies
// without growing.
constexpr std::size_t FunctionSlots = 64;
constexpr std::size_t ConstantSlots = 8;
constexpr std::size_t PostfixSlots = 32;
constexpr std::size_t PrefixSlots = 8;

constexpr std::int32_t NoPriority = -1000;

// ORDER CmdCode: priorities of codes 0 to 21.
constexpr std::array<std::int32_t, cdEnd + 1> Priorities = {
    2, 2, 2, 2, 2, 2,  // <= >= != == < >
    3, 3,              // + -
    4, 4,              // * /
    5,                 // ^
    1, 1,              // and or
    0, 0, -1,          // ( ) ,
    NoPriority, NoPriority, NoPriority, NoPriority, NoPriority,  // operands and user operators
    -2,                // end
};

const CharClass& ClassOf(const char* charSet, CharClass& scratch) {
  if (charSet == IdentChars) return IdentClass;
  if (charSet == OperatorChars) return OperatorClass;
  if (charSet == SymbolChars) return SymbolClass;
  scratch = CharClass(charSet);
  return scratch;
}

}  // namespace

ParserBase::ParserBase()
    : EvalEntry(&ParserBase::CompileFormula),
      Functions(FunctionSlots),
      Constants(ConstantSlots),
      PostfixOps(PostfixSlots),
      PrefixOps(PrefixSlots) {}

ParserBase::~ParserBase() = default;

void ParserBase::InitVocabulary() {
  InitFunctions();
  InitConstants();
  InitOperators();
}

void ParserBase::AssignFormula(const std::string& formula) {
  Formula = formula;
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::AddFunction(const std::string& name, UnaryCallback callback, bool optimizable) {
  if (!callback) RaiseError("User defined function is null!", -1);
  CheckName(name, IdentChars);
  Functions.Set(name, {reinterpret_cast<void*>(callback), 1, optimizable});
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::AddFunction(const std::string& name, ListCallback callback, bool optimizable) {
  if (!callback) RaiseError("User defined function is null!", -1);
  CheckName(name, IdentChars);
  Functions.Set(name, {reinterpret_cast<void*>(callback), -1, optimizable});
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::AddPostfixOperator(const std::string& name, UnaryCallback callback) {
  if (!callback) RaiseError("User defined operator callback function is null!", -1);
  CheckName(name, OperatorChars);
  PostfixOps.Set(name, callback);
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::AddPrefixOperator(const std::string& name, UnaryCallback callback) {
  if (!callback) RaiseError("User defined operator callback function is null!", -1);
  CheckName(name, OperatorChars);
  PrefixOps.Set(name, callback);
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::AddConstant(const std::string& name, double value) {
  CheckName(name, IdentChars);
  Constants.Set(name, value);
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::AddVariable(const std::string& name, double* address) {
  if (!address) RaiseError("Variable address is null!", -1);
  CheckName(name, IdentChars);
  Variables.Set(name, address);
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::SetOptimizer(bool on) {
  OptimizerOn = on;
  EvalEntry = &ParserBase::CompileFormula;
}

void ParserBase::CheckName(const std::string& name, const char* charSet) {
  if (name.empty()) RaiseError("Identifier has zero length.", -1);
  CharClass scratch{""};
  const CharClass& members = ClassOf(charSet, scratch);
  for (char c : name)
    if (!members.Has(c))
      RaiseError("Variable names may only contain the following charakters: a-z, A-Z, 0-9, _", -1);
  if (name[0] >= '0' && name[0] <= '9') RaiseError("Name identifiers may not start with numbers.", -1);
}

void ParserBase::RaiseError(const std::string& message, int position) {
  std::string text = message;
  if (position >= 0 && !Formula.empty()) {
    text += ' ';
    if (position == 0) {
      text += Formula;
    } else {
      text.append(Formula, 0, static_cast<std::size_t>(position));
      text += " <- here";
    }
  }
  EvalEntry = &ParserBase::CompileFormula;
  throw ParserException(text, Formula);
}

std::int32_t ParserBase::Priority(std::int32_t code) {
  if (code < 0 || code > cdEnd || Priorities[code] == NoPriority)
    RaiseError("internal error in ParserBase::Priority(int):  unknown operator!", -1);
  return Priorities[code];
}

std::string ParserBase::Listing() const {
  auto nameOf = [this](const void* address) {
    std::string found;
    auto match = [&](std::string_view name, const void* candidate) {
      if (candidate == address && (found.empty() || name < found)) found = name;
    };
    Variables.ForEach([&](std::string_view n, double* v) { match(n, v); });
    Functions.ForEach([&](std::string_view n, const FunctionDef& f) { match(n, f.Callback); });
    PostfixOps.ForEach([&](std::string_view n, UnaryCallback f) { match(n, reinterpret_cast<void*>(f)); });
    PrefixOps.ForEach([&](std::string_view n, UnaryCallback f) { match(n, reinterpret_cast<void*>(f)); });
    return found.empty() ? std::string("?") : found;
  };
  return Disassemble(Bytecode, nameOf);
}

}  // namespace MathUtils
