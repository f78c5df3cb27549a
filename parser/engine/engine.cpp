#include "parser/engine/engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "parser/front/compilation.h"
#include "parser/front/syntax_flags.h"
#include "parser/math/builtins.h"
#include "parser/math/math_library.h"

namespace MathUtils::detail {

namespace {

// The program keeps the library's pow and whether code in lanes may call
// its vector forms.
void UseLibrary(Program& program, MathLibrary library) {
  program.Raise = PowerFunctionOf(library);
  program.Deterministic = library == MathLibrary::Deterministic;
}

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

// Cleared and appended, which costs less than an assignment, unless the
// text is part of the string itself: only the assignment allows for that.
void WriteInPlace(std::string& text, std::string_view formula) {
  const std::less<const char*> before;
  if (!before(formula.data(), text.data()) && before(formula.data(), text.data() + text.size())) {
    text.assign(formula.data(), formula.size());
    return;
  }
  text.clear();
  text.append(formula);
}

// The memory of the last engine this thread destroyed. Plain values, valid
// for as long as the thread runs, destructors of statics included; the
// release frees the memory when the thread ends, and from then on engines
// go back to the heap at once.
thread_local void* SpareMemory = nullptr;
thread_local bool SpareReleased = false;

struct SpareRelease {
  ~SpareRelease() {
    ::operator delete(SpareMemory);
    SpareMemory = nullptr;
    SpareReleased = true;
  }
};

thread_local SpareRelease ReleaseWithThread;

}  // namespace

void* Engine::operator new(std::size_t size) {
  if (size != sizeof(Engine) || !SpareMemory) return ::operator new(size);
  return std::exchange(SpareMemory, nullptr);
}

void Engine::operator delete(void* memory, std::size_t size) {
  if (size != sizeof(Engine) || SpareMemory || SpareReleased) {
    ::operator delete(memory);
    return;
  }
  static_cast<void>(&ReleaseWithThread);  // built at its first use, so that it runs when the thread ends
  SpareMemory = memory;
}

Engine::Engine(std::atomic<EvalRoutine>& entry) : Running{entry} {
  Settings.MachineCodeOn = DefaultMachineCode().On;
  Settings.MachineCodeAfter = DefaultMachineCode().After;
  Enter(Tier::Compile, &Engine::EnterCompile);
}

Engine::~Engine() {
  for (CompiledFormula* retired : Held.Retired)
    if (retired != &Held.Own) delete retired;
  if (Current != &Held.Own) delete Current;
}

// --- the vocabulary ---

void Engine::CheckName(std::string_view name, const char* charSet) {
  if (name.empty()) RaiseError(Messages::EmptyName, -1);
  const detail::CharClass* prepared = PreparedClass(charSet);
  if (!(prepared ? AllIn(name, *prepared) : AllIn(name, detail::CharClass{charSet})))
    RaiseError(Messages::InvalidNameCharacter, -1);
  if (name[0] >= '0' && name[0] <= '9') RaiseError(Messages::NameStartsWithDigit, -1);
}

// A parser that keeps no callable object looks nothing up.
void Engine::SetFunction(std::string_view name, const FunctionDef& definition) {
  if (!definition.Callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  if (const FunctionDef* before = Kept.Live.empty() ? nullptr : Words.Functions.Find(name);
      before && before->WithContext)
    RetireKept(before->Context);
  Words.Functions.Set(name, definition);
  RequireCompilation();
}

void Engine::SetOperator(bool prefix, std::string_view name, const OperatorDef& definition) {
  if (!definition.Callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  NameMap<OperatorDef>& registry = prefix ? Words.PrefixOps : Words.PostfixOps;
  if (const OperatorDef* before = Kept.Live.empty() ? nullptr : registry.Find(name);
      before && before->WithContext)
    RetireKept(before->Context);
  registry.Set(name, definition);
  RequireCompilation();
}

void Engine::SetConstant(std::string_view name, double value) {
  CheckName(name, IdentChars);
  Words.Constants.Set(name, value);
  RequireCompilation();
}

void Engine::SetVariable(std::string_view name, double* address) {
  if (!address) RaiseError(Messages::NullVariable, -1);
  CheckName(name, IdentChars);
  Words.Variables.Set(name, address);
  RequireCompilation();
}

// The other engine never changes and outlives this one: its registries are
// shared until this one defines a name of its own.
void Engine::Adopt(const Engine& from, bool functions, bool constants, bool operators) {
  if (functions) {
    Words.Functions.Share(from.Words.Functions);
    if (from.Settings.Library != Settings.Library) BindBuiltins(Settings.Library);
  }
  if (constants) Words.Constants.Share(from.Words.Constants);
  if (operators) {
    Words.PostfixOps.Share(from.Words.PostfixOps);
    Words.PrefixOps.Share(from.Words.PrefixOps);
  }
  RequireCompilation();
}

void Engine::SetLibrary(MathLibrary library) {
  if (library == MathLibrary::Deterministic && !DeterministicMathAvailable())
    RaiseError(Messages::MathLibraryUnavailable, -1);
  BindBuiltins(library);
  Change(Settings.Library, library);
}

// A name whose definition is another library's built-in row of the same
// name is rebound; any other definition is the user's and stays. Set gives
// this parser registries of its own before it writes, so that a vocabulary
// it shares is never changed.
void Engine::BindBuiltins(MathLibrary library) {
  const MathLibrary other = library == MathLibrary::C ? MathLibrary::Deterministic : MathLibrary::C;
  BindRows(BuiltinUnaryFunctions(library), BuiltinUnaryFunctions(other));
  BindRows(MathUnaryFunctions(library), MathUnaryFunctions(other));
  BindRows(MathFixedFunctions(library), MathFixedFunctions(other));
}

template <typename Rows>
void Engine::BindRows(Rows rows, Rows otherRows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto callback = reinterpret_cast<void*>(rows[i].Function);
    const auto otherCallback = reinterpret_cast<void*>(otherRows[i].Function);
    if (callback == otherCallback) continue;
    const FunctionDef* before = Words.Functions.Find(rows[i].Name);
    if (!before || before->WithContext || before->Callback != otherCallback) continue;
    FunctionDef rebound = *before;
    rebound.Callback = callback;
    Words.Functions.Set(rows[i].Name, rebound);
  }
}

void Engine::DefineMathFunctions() {
  for (const auto& row : MathUnaryFunctions(Settings.Library))
    SetFunction(row.Name, {reinterpret_cast<void*>(row.Function), nullptr, 1, row.Optimizable, false});
  for (const auto& row : MathFixedFunctions(Settings.Library))
    SetFunction(row.Name,
                {reinterpret_cast<void*>(row.Function), nullptr, row.ArgCount, row.Optimizable, false});
}

void Engine::ReserveNames(std::size_t functions, std::size_t constants, std::size_t postfixOps,
                          std::size_t prefixOps) {
  Words.Functions.Reserve(functions);
  Words.Constants.Reserve(constants);
  Words.PostfixOps.Reserve(postfixOps);
  Words.PrefixOps.Reserve(prefixOps);
}

// A context that is no copy of this parser's (one of the caller's, or of
// a parser whose names this one adopted) is left alone.
void Engine::RetireKept(const void* context) {
  const auto kept = std::find_if(Kept.Live.begin(), Kept.Live.end(),
                                 [context](const auto& copy) { return copy->Context() == context; });
  if (kept == Kept.Live.end()) return;
  Kept.Retired.push_back(std::move(*kept));
  Kept.Live.erase(kept);
}

std::string Engine::NameOf(const void* address, const void* context) const {
  std::string found;
  auto match = [&](std::string_view name, const void* candidate, const void* candidateContext) {
    if (candidate == address && candidateContext == context && (found.empty() || name < found)) found = name;
  };
  const auto matchOperator = [&](std::string_view n, const OperatorDef& op) {
    match(n, op.Callback, op.Context);
  };
  Words.Variables.ForEach([&](std::string_view n, double* v) { match(n, v, nullptr); });
  Words.Functions.ForEach([&](std::string_view n, const FunctionDef& f) { match(n, f.Callback, f.Context); });
  Words.PostfixOps.ForEach(matchOperator);
  Words.PrefixOps.ForEach(matchOperator);
  return found.empty() ? std::string("?") : found;
}

// --- the formula ---

// read: a compilation under way reads the text, which must stay put.
void Engine::FormulaText::Assign(std::string_view formula, bool read) {
  if (read)
    Assigned.push_back(std::make_unique<std::string>(formula));
  else
    WriteInPlace(Text, formula);
}

// When the last compilation under way ends, the newest text becomes Text.
void Engine::FormulaText::Settle() {
  if (Assigned.empty()) return;
  Text = std::move(*Assigned.back());
  Assigned.clear();
}

void Engine::AssignFormula(std::string_view formula) {
  Source.Assign(formula, Compilations.UnderWay > 0);
  RequireCompilation();
  Pos = 0;
}

void Engine::Enter(Tier tier, EvalRoutine routine) {
  Running.State.store(tier, std::memory_order_release);
  Running.Entry.store(routine, std::memory_order_release);
}

void Engine::RequireCompilation() {
  ++Compilations.Changes;
  ++Words.Generation;
  Enter(Tier::Compile, &Engine::EnterCompile);
}

void Engine::RaiseError(std::string_view message, int position) {
  RequireCompilation();
  RaiseFormulaError(message, Formula(), position);
}

// --- compiling ---

double Engine::EnterCompile(Engine& engine) { return engine.Compile(); }

// Counts the compilations under way while one runs: a callback run during
// it may assign a formula (which must leave the text read alone) or be one
// whose copy a definition retired (which must live on).
class CompilationUnderWay {
 public:
  explicit CompilationUnderWay(Engine& engine) : Owner(engine) { ++Owner.Compilations.UnderWay; }
  ~CompilationUnderWay() {
    if (--Owner.Compilations.UnderWay == 0) Owner.Source.Settle();
  }
  CompilationUnderWay(const CompilationUnderWay&) = delete;
  CompilationUnderWay& operator=(const CompilationUnderWay&) = delete;

 private:
  Engine& Owner;
};

double Engine::Compile(const ArrayPoint* point, std::vector<Cell>* notInstalled) {
  if (Formula().empty()) RaiseError(Messages::EmptyFormula, -1);
  CompiledFormula* compiled = TakeCompiledFormula();
  const std::uint32_t changesAtStart = Compilations.Changes;
  const auto variablesOwnAddresses = [point](void* address) {
    const double* variable = point->VariableHeldAt(address);
    return variable ? const_cast<double*>(variable) : address;
  };
  try {
    const CompilationUnderWay underWay(*this);
    Compilation compilation(Words, Formula(), compiled->Cells, Settings.FoldingOn, point,
                            PowerFunctionOf(Settings.Library));
    UseLibrary(compiled->Derived, Settings.Library);
    const double value = compilation.Run();
    const bool changed = Compilations.Changes != changesAtStart;
    if (point) {
      const std::span<Cell> cells(compiled->Cells.Data(),
                                  static_cast<std::size_t>(compilation.EndOfBytecode()));
      if (changed && notInstalled) notInstalled->assign(cells.begin(), cells.end());
      MoveVariableAddresses(cells, variablesOwnAddresses);
    }
    if (changed) {
      KeepOrRelease(compiled);
      return value;
    }
    InstallCompiled(compiled, compilation.EndOfBytecode());
    return value;
  } catch (...) {
    if (point)
      MoveVariableAddresses(std::span<Cell>(compiled->Cells.Data(), compiled->Cells.Size()),
                            variablesOwnAddresses);
    KeepOrRelease(compiled);
    // The next evaluation compiles again: the compiled formula taken may
    // have been the current one.
    RequireCompilation();
    throw;
  }
}

void Engine::InstallCompiled(CompiledFormula* compiled, int cellsWritten) {
  const bool oneNumber = cellsWritten == ValueEntryCells + EndEntryCells && compiled->Cells[1] == cdValue;
  if (Current)
    Install(compiled);
  else
    Current = compiled;
  if (oneNumber)
    Enter(Tier::Constant, &Engine::EnterConstant);
  else
    Enter(Tier::Derive, &Engine::DeriveAndRun);
}

// A compilation that installs nothing leaves its cells readable as the
// current ones, unless another compilation installed its own meanwhile.
void Engine::KeepOrRelease(CompiledFormula* compiled) {
  if (!Current)
    Current = compiled;
  else
    Release(compiled);
}

// Inline where a compilation follows another, as it mostly does.
CompiledFormula* Engine::TakeCompiledFormula() {
  if (!Held.Retired.empty() || !Kept.Retired.empty() || CallbackScope::Any())
    return TakeCompiledFormulaAside();
  if (CompiledFormula* compiled = Current) {
    Current = nullptr;
    compiled->Reset();
    return compiled;
  }
  if (!Held.OwnFree) return TakeCompiledFormulaAside();
  Held.OwnFree = false;
  return &Held.Own;
}

CompiledFormula* Engine::TakeCompiledFormulaAside() {
  if (!CallbackScope::Any()) {
    for (CompiledFormula* retired : Held.Retired) Release(retired);
    Held.Retired.clear();
    if (Compilations.UnderWay == 0) Kept.Retired.clear();
    if (Current) {
      CompiledFormula* compiled = Current;
      Current = nullptr;
      compiled->Reset();
      return compiled;
    }
  } else if (Current) {
    Held.Retired.push_back(Current);
    Current = nullptr;
  }
  if (Held.OwnFree) {
    Held.OwnFree = false;
    return &Held.Own;
  }
  return new CompiledFormula;
}

// The one it replaces may still run further up this thread's stack, under
// a callback: then it is kept until no callback runs.
void Engine::Install(CompiledFormula* compiled) {
  if (Current) {
    if (CallbackScope::Any())
      Held.Retired.push_back(Current);
    else
      Release(Current);
  }
  Current = compiled;
}

void Engine::Release(CompiledFormula* compiled) {
  if (compiled != &Held.Own) {
    delete compiled;
    return;
  }
  compiled->Reset();
  Held.OwnFree = true;
}

void Engine::AssignBytecode(std::span<const Cell> cells) {
  CompiledFormula* compiled = TakeCompiledFormula();
  compiled->Cells = cells;
  UseLibrary(compiled->Derived, Settings.Library);
  Install(compiled);
  ++Compilations.Changes;
  Enter(Tier::Derive, &Engine::DeriveAndRun);
}

}  // namespace MathUtils::detail
