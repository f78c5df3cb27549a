#include "parser/parser_base.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "parser/bytecode.h"
#include "parser/commands.h"
#include "parser/compilation_scope.h"
#include "parser/compiled_formula.h"
#include "parser/machine_code.h"
#include "parser/parser_parts.h"
#include "parser/program.h"
#include "parser/token_reader.h"
#include "parser/tokens.h"

namespace MathUtils {

namespace {

// The command table's priorities, packed for the compiler's unwinding.
constexpr std::array<std::int32_t, CommandCount> Priorities = [] {
  std::array<std::int32_t, CommandCount> priorities{};
  for (std::size_t i = 0; i < CommandCount; ++i) priorities[i] = Commands[i].Priority;
  return priorities;
}();

bool AllIn(std::string_view name, const detail::CharClass& members) {
  for (char c : name)
    if (!members.Has(c)) return false;
  return true;
}

// The prepared table of one of the three shared sets, or null.
const detail::CharClass* PreparedClass(const char* charSet) {
  if (charSet == IdentChars) return &IdentClass;
  if (charSet == OperatorChars) return &OperatorClass;
  if (charSet == SymbolChars) return &SymbolClass;
  return nullptr;
}

// Later evaluations interpreted before a formula is turned into machine
// code. Making the code takes about 10 us (mostly the system calls that map
// and protect its page); an evaluation of machine code saves from nothing
// (a sum of two variables) to 25 ns (four calls of sin and cos) against the
// interpreted program, so the code repays itself after 400 to 700
// evaluations where it helps at all.
constexpr std::int32_t LaterRunsBeforeMachineCode = 1000;

struct MachineCodeDefault {
  bool On = true;
  std::int32_t After = LaterRunsBeforeMachineCode;
};

// VORNCALC_MACHINE_CODE: "0" off, "1" from the first later evaluation on.
MachineCodeDefault ReadMachineCodeDefault() {
  MachineCodeDefault setting;
  const char* text = std::getenv("VORNCALC_MACHINE_CODE");
  if (text && std::strcmp(text, "0") == 0) setting.On = false;
  if (text && std::strcmp(text, "1") == 0) setting.After = 0;
  return setting;
}

const MachineCodeDefault& DefaultMachineCode() {
  static const MachineCodeDefault Setting = ReadMachineCodeDefault();
  return Setting;
}

}  // namespace

ParserBase::ParserBase()
    : EvalEntry(&ParserBase::EnterCompile),
      State(detail::Tier::Compile),
      MachineCodeOn(DefaultMachineCode().On),
      MachineCodeAfter(DefaultMachineCode().After) {
  static_assert(sizeof(detail::Registries) == RegistryBytes);
  static_assert(alignof(detail::Registries) <= alignof(std::size_t));
  static_assert(sizeof(detail::CompiledFormula) == FormulaBytes);
  static_assert(alignof(detail::CompiledFormula) <= alignof(void*));
  // Default-initialised: value-initialising would first zero the cells.
  new (RegistryStorage) detail::Registries;
  new (FormulaStorage) detail::CompiledFormula;
}

ParserBase::~ParserBase() {
  for (detail::CompiledFormula* retired : Retired)
    if (retired != &OwnFormula()) delete retired;
  if (Current != &OwnFormula()) delete Current;
  OwnFormula().~CompiledFormula();
  Names().~Registries();
}

void ParserBase::Release(detail::CompiledFormula* compiled) {
  if (compiled != &OwnFormula()) {
    delete compiled;
    return;
  }
  compiled->Reset();
  OwnFormulaFree = true;
}

const detail::Registries& ParserBase::Registry() const { return Names(); }

// The names are gathered first: a visitor may define names, which may
// move the registries' storage.
void ParserBase::VisitNames(void (*visit)(void*, NameKind, std::string_view), void* context) const {
  std::vector<std::pair<NameKind, std::string>> names;
  const auto gather = [&names](NameKind kind) {
    return [&names, kind](std::string_view name, const auto&) { names.emplace_back(kind, name); };
  };
  Names().Functions.ForEach(gather(NameKind::Function));
  Names().Constants.ForEach(gather(NameKind::Constant));
  Names().Variables.ForEach(gather(NameKind::Variable));
  Names().PostfixOps.ForEach(gather(NameKind::PostfixOperator));
  Names().PrefixOps.ForEach(gather(NameKind::PrefixOperator));
  for (const auto& [kind, name] : names) visit(context, kind, name);
}

void ParserBase::ReserveNames(std::size_t functions, std::size_t constants, std::size_t postfixOps,
                              std::size_t prefixOps) {
  Names().Functions.Reserve(functions);
  Names().Constants.Reserve(constants);
  Names().PostfixOps.Reserve(postfixOps);
  Names().PrefixOps.Reserve(prefixOps);
}

void ParserBase::Enter(detail::Tier tier, EvalRoutine routine) {
  State.store(tier, std::memory_order_release);
  EvalEntry.store(routine, std::memory_order_release);
}

void ParserBase::RequireCompilation() {
  ++Changes;
  UsedVariablesSettled = false;
  Enter(detail::Tier::Compile, &ParserBase::EnterCompile);
}

detail::CompiledFormula* ParserBase::TakeCompiledFormulaAside() {
  if (!detail::CallbackScope::Any()) {
    for (detail::CompiledFormula* retired : Retired) Release(retired);
    Retired.clear();
    if (!InnermostCompilation) RetiredKept.clear();
    if (Current) {
      detail::CompiledFormula* compiled = Current;
      Current = nullptr;
      compiled->Reset();
      return compiled;
    }
  } else if (Current) {
    Retired.push_back(Current);
    Current = nullptr;
  }
  if (OwnFormulaFree) {
    OwnFormulaFree = false;
    return &OwnFormula();
  }
  return new detail::CompiledFormula;
}

// The one it replaces may still run further up this thread's stack, under
// a callback: then it is kept until no callback runs.
void ParserBase::Install(detail::CompiledFormula* compiled) {
  if (Current) {
    if (detail::CallbackScope::Any())
      Retired.push_back(Current);
    else
      Release(Current);
  }
  Current = compiled;
}

void ParserBase::AssignBytecode(std::span<const Cell> cells) {
  detail::CompiledFormula* compiled = TakeCompiledFormula();
  compiled->Cells = cells;
  Install(compiled);
  ++Changes;
  Enter(detail::Tier::Derive, &ParserBase::DeriveAndRun);
}

std::span<const Cell> ParserBase::GetBytecode() const {
  if (!Current) return {};
  return Current->Cells;
}

void ParserBase::InitVocabulary() {
  InitFunctions();
  InitConstants();
  InitOperators();
}

void ParserBase::AssignFormula(std::string_view formula) {
  // Cleared and appended, which costs less than an assignment, unless the
  // text is part of the formula itself: only the assignment allows for that.
  const std::less<const char*> before;
  const bool inFormula =
      !before(formula.data(), Formula.data()) && before(formula.data(), Formula.data() + Formula.size());
  if (InnermostCompilation) HoldTextsInUse();
  if (inFormula) {
    Formula = formula;
  } else {
    Formula.clear();
    Formula.append(formula);
  }
  RequireCompilation();
  if (InnermostCompilation) return;  // the compilations under way keep their position
  ReadText = Formula;
  Pos = 0;
}

// A callback assigns a formula while compilations read the current one:
// they go on reading a copy of it.
void ParserBase::HoldTextsInUse() {
  const auto readsFormula = [this](std::string_view text) { return text.data() == Formula.data(); };
  bool inUse = readsFormula(ReadText);
  for (detail::CompilationScope* scope = InnermostCompilation; scope; scope = scope->Outer())
    inUse = inUse || readsFormula(scope->SavedText());
  if (!inUse) return;
  const std::string& held = *HeldTexts.emplace_back(std::make_unique<std::string>(Formula));
  if (readsFormula(ReadText)) ReadText = held;
  for (detail::CompilationScope* scope = InnermostCompilation; scope; scope = scope->Outer())
    if (readsFormula(scope->SavedText())) scope->SavedText() = held;
}

void ParserBase::AddFunction(std::string_view name, UnaryCallback callback, bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  SetFunction(name, {reinterpret_cast<void*>(callback), nullptr, 1, optimizable, false});
}

void ParserBase::AddFunction(std::string_view name, ListCallback callback, bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  SetFunction(name, {reinterpret_cast<void*>(callback), nullptr, -1, optimizable, false});
}

void ParserBase::AddFunction(std::string_view name, UnaryContextCallback callback, void* context,
                             bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  SetFunction(name, {reinterpret_cast<void*>(callback), context, 1, optimizable, true});
}

void ParserBase::AddFunction(std::string_view name, ListContextCallback callback, void* context,
                             bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  SetFunction(name, {reinterpret_cast<void*>(callback), context, -1, optimizable, true});
}

void ParserBase::AddPostfixOperator(std::string_view name, UnaryCallback callback) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  SetOperator(Names().PostfixOps, name, {reinterpret_cast<void*>(callback), nullptr, false});
}

void ParserBase::AddPrefixOperator(std::string_view name, UnaryCallback callback) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  SetOperator(Names().PrefixOps, name, {reinterpret_cast<void*>(callback), nullptr, false});
}

void ParserBase::AddPostfixOperator(std::string_view name, UnaryContextCallback callback, void* context) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  SetOperator(Names().PostfixOps, name, {reinterpret_cast<void*>(callback), context, true});
}

void ParserBase::AddPrefixOperator(std::string_view name, UnaryContextCallback callback, void* context) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  SetOperator(Names().PrefixOps, name, {reinterpret_cast<void*>(callback), context, true});
}

// A parser that keeps no callable object looks nothing up.
void ParserBase::SetFunction(std::string_view name, const detail::FunctionDef& definition) {
  if (const detail::FunctionDef* before = Kept.empty() ? nullptr : Names().Functions.Find(name);
      before && before->WithContext)
    RetireKept(before->Context);
  Names().Functions.Set(name, definition);
  RequireCompilation();
}

void ParserBase::SetOperator(detail::NameMap<detail::OperatorDef>& registry, std::string_view name,
                             const detail::OperatorDef& definition) {
  if (const detail::OperatorDef* before = Kept.empty() ? nullptr : registry.Find(name);
      before && before->WithContext)
    RetireKept(before->Context);
  registry.Set(name, definition);
  RequireCompilation();
}

// A context that is no copy of this parser's (one of the caller's, or of
// a parser whose names this one adopted) is left alone.
void ParserBase::RetireKept(const void* context) {
  const auto kept = std::find_if(Kept.begin(), Kept.end(),
                                 [context](const auto& copy) { return copy->Context() == context; });
  if (kept == Kept.end()) return;
  RetiredKept.push_back(std::move(*kept));
  Kept.erase(kept);
}

void ParserBase::AddConstant(std::string_view name, double value) {
  CheckName(name, IdentChars);
  Names().Constants.Set(name, value);
  RequireCompilation();
}

void ParserBase::AddVariable(std::string_view name, double* address) {
  if (!address) RaiseError(Messages::NullVariable, -1);
  CheckName(name, IdentChars);
  Names().Variables.Set(name, address);
  RequireCompilation();
}

void ParserBase::AdoptFunctions(const ParserBase& from) {
  Names().Functions.Share(from.Names().Functions);
  RequireCompilation();
}

void ParserBase::AdoptConstants(const ParserBase& from) {
  Names().Constants.Share(from.Names().Constants);
  RequireCompilation();
}

void ParserBase::AdoptOperators(const ParserBase& from) {
  Names().PostfixOps.Share(from.Names().PostfixOps);
  Names().PrefixOps.Share(from.Names().PrefixOps);
  RequireCompilation();
}

void ParserBase::SetOptimizer(bool on) {
  OptimizerOn = on;
  RequireCompilation();
}

void ParserBase::SetMachineCode(bool on) {
  MachineCodeOn = on;
  RequireCompilation();
}

std::size_t ParserBase::MachineCodeSize() const {
  return CurrentTier() == detail::Tier::MachineCode ? Current->Machine->Size() : 0;
}

// A copy: the code goes with the compiled formula, which the next change
// of the parser releases.
std::vector<std::uint8_t> ParserBase::MachineCodeBytes() const {
  if (CurrentTier() != detail::Tier::MachineCode) return {};
  const std::span<const std::uint8_t> code = Current->Machine->Code();
  return {code.begin(), code.end()};
}

void ParserBase::CheckName(std::string_view name, const char* charSet) {
  if (name.empty()) RaiseError(Messages::EmptyName, -1);
  const detail::CharClass* prepared = PreparedClass(charSet);
  if (!(prepared ? AllIn(name, *prepared) : AllIn(name, detail::CharClass{charSet})))
    RaiseError(Messages::InvalidNameCharacter, -1);
  if (name[0] >= '0' && name[0] <= '9') RaiseError(Messages::NameStartsWithDigit, -1);
}

// Composed from the text being read: the formula, or the one that a
// compilation under way began with.
void ParserBase::RaiseError(std::string_view message, int position) {
  std::string text(message);
  if (position >= 0 && !ReadText.empty()) {
    text += ' ';
    if (position == 0) {
      text += ReadText;
    } else {
      text.append(ReadText.substr(0, static_cast<std::size_t>(position)));
      text += " <- here";
    }
  }
  std::string formula(ReadText);
  RequireCompilation();
  detail::ThrowParserException(text, formula);
}

std::int32_t ParserBase::Priority(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(CommandCount) || Priorities[code] == NoPriority)
    RaiseError(Messages::PriorityOfNonOperator, -1);
  return Priorities[code];
}

// The name under which the address (with the context, for a callback
// called with one) is defined (the least, when several are), or "?".
std::string ParserBase::NameOf(const void* address, const void* context) const {
  std::string found;
  auto match = [&](std::string_view name, const void* candidate, const void* candidateContext) {
    if (candidate == address && candidateContext == context && (found.empty() || name < found)) found = name;
  };
  const auto matchOperator = [&](std::string_view n, const detail::OperatorDef& op) {
    match(n, op.Callback, op.Context);
  };
  Names().Variables.ForEach([&](std::string_view n, double* v) { match(n, v, nullptr); });
  Names().Functions.ForEach(
      [&](std::string_view n, const detail::FunctionDef& f) { match(n, f.Callback, f.Context); });
  Names().PostfixOps.ForEach(matchOperator);
  Names().PrefixOps.ForEach(matchOperator);
  return found.empty() ? std::string("?") : found;
}

std::string ParserBase::Listing() const {
  return Disassemble(GetBytecode(),
                     [this](const void* address, const void* context) { return NameOf(address, context); });
}

std::string ParserBase::ProgramListing() {
  if (CurrentTier() == detail::Tier::Derive) PrepareLaterRuns();
  switch (CurrentTier()) {
    case detail::Tier::Program:
    case detail::Tier::Arithmetic:
    case detail::Tier::Counting:
    case detail::Tier::MachineCode:
      return detail::DisassembleProgram(Current->Derived, [this](const void* address, const void* context) {
        return NameOf(address, context);
      });
    default: return "";
  }
}

}  // namespace MathUtils
