// The parser's operations: the checks that a definition or a formula
// passes, then the engine's work.
#include "parser/parser_base.h"

#include <string>
#include <utility>
#include <vector>

#include "parser/arrays/default_threads.h"
#include "parser/core/commands.h"
#include "parser/engine/compiled_formula.h"
#include "parser/engine/engine.h"
#include "parser/front/bytecode.h"
#include "parser/front/syntax_flags.h"
#include "parser/front/token_reader.h"
#include "parser/front/tokens.h"
#include "parser/math/math_library.h"

namespace MathUtils {

ParserBase::ParserBase()
    : EvalEntry(&detail::Engine::EnterCompile), Core(std::make_unique<detail::Engine>(EvalEntry)) {}

ParserBase::~ParserBase() = default;

void ParserBase::InitVocabulary() {
  InitFunctions();
  InitConstants();
  InitOperators();
}

void ParserBase::AssignFormula(std::string_view formula) { Core->AssignFormula(formula); }

const std::string& ParserBase::GetFormula() const { return Core->Formula(); }

void ParserBase::AddFunction(std::string_view name, UnaryCallback callback, bool optimizable) {
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), nullptr, 1, optimizable, false});
}

void ParserBase::AddFunction(std::string_view name, ListCallback callback, bool optimizable) {
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), nullptr, -1, optimizable, false});
}

void ParserBase::AddFunction(std::string_view name, UnaryContextCallback callback, void* context,
                             bool optimizable) {
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), context, 1, optimizable, true});
}

void ParserBase::AddFunction(std::string_view name, ListContextCallback callback, void* context,
                             bool optimizable) {
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), context, -1, optimizable, true});
}

void ParserBase::AddPostfixOperator(std::string_view name, UnaryCallback callback) {
  Core->SetOperator(false, name, {reinterpret_cast<void*>(callback), nullptr, false});
}

void ParserBase::AddPrefixOperator(std::string_view name, UnaryCallback callback) {
  Core->SetOperator(true, name, {reinterpret_cast<void*>(callback), nullptr, false});
}

void ParserBase::AddPostfixOperator(std::string_view name, UnaryContextCallback callback, void* context) {
  Core->SetOperator(false, name, {reinterpret_cast<void*>(callback), context, true});
}

void ParserBase::AddPrefixOperator(std::string_view name, UnaryContextCallback callback, void* context) {
  Core->SetOperator(true, name, {reinterpret_cast<void*>(callback), context, true});
}

void ParserBase::ReserveKept() { Core->ReserveKept(); }
void ParserBase::Keep(std::unique_ptr<detail::KeptCallable> copy) { Core->Keep(std::move(copy)); }

void ParserBase::AddConstant(std::string_view name, double value) { Core->SetConstant(name, value); }

void ParserBase::AddVariable(std::string_view name, double* address) { Core->SetVariable(name, address); }

void ParserBase::AdoptFunctions(const ParserBase& from) { Core->Adopt(*from.Core, true, false, false); }
void ParserBase::AdoptConstants(const ParserBase& from) { Core->Adopt(*from.Core, false, true, false); }
void ParserBase::AdoptOperators(const ParserBase& from) { Core->Adopt(*from.Core, false, false, true); }

void ParserBase::ReserveNames(std::size_t functions, std::size_t constants, std::size_t postfixOps,
                              std::size_t prefixOps) {
  Core->ReserveNames(functions, constants, postfixOps, prefixOps);
}

const detail::Vocabulary& ParserBase::Registry() const { return Core->Names(); }

// The names are gathered first: a visitor may define names, which may
// move the registries' storage.
void ParserBase::VisitNames(void (*visit)(void*, NameKind, std::string_view), void* context) const {
  std::vector<std::pair<NameKind, std::string>> names;
  const auto gather = [&names](NameKind kind) {
    return [&names, kind](std::string_view name, const auto&) { names.emplace_back(kind, name); };
  };
  const detail::Vocabulary& vocabulary = Core->Names();
  vocabulary.Functions.ForEach(gather(NameKind::Function));
  vocabulary.Constants.ForEach(gather(NameKind::Constant));
  vocabulary.Variables.ForEach(gather(NameKind::Variable));
  vocabulary.PostfixOps.ForEach(gather(NameKind::PostfixOperator));
  vocabulary.PrefixOps.ForEach(gather(NameKind::PrefixOperator));
  for (const auto& [kind, name] : names) visit(context, kind, name);
}

void ParserBase::SetOptimizer(bool on) { Core->Change(Core->Settings.FoldingOn, on); }

void ParserBase::SetMathLibrary(MathLibrary library) { Core->SetLibrary(library); }

MathLibrary ParserBase::GetMathLibrary() const { return Core->Settings.Library; }

void ParserBase::AddMathFunctions() { Core->DefineMathFunctions(); }

bool ParserBase::MathLibraryAvailable(MathLibrary library) {
  return library == MathLibrary::C || detail::DeterministicMathAvailable();
}

void ParserBase::SetMachineCode(bool on) { Core->Change(Core->Settings.MachineCodeOn, on); }

void ParserBase::SetMachineCodeAfter(std::int32_t laterRuns) {
  Core->Change(Core->Settings.MachineCodeAfter, laterRuns);
}

void ParserBase::SetArrayLanes(int lanes) { Core->Change(Core->Settings.ArrayLanes, lanes); }

detail::Tier ParserBase::CurrentTier() const { return Core->CurrentTier(); }

std::size_t ParserBase::MachineCodeSize() const {
  return CurrentTier() == detail::Tier::MachineCode ? Core->Compiled()->Machine->Size() : 0;
}

// A copy: the code goes with the compiled formula, which the next change
// of the parser releases.
std::vector<std::uint8_t> ParserBase::MachineCodeBytes() const {
  if (CurrentTier() != detail::Tier::MachineCode) return {};
  const std::span<const std::uint8_t> code = Core->Compiled()->Machine->Code();
  return {code.begin(), code.end()};
}

void ParserBase::EvaluateArrays(std::span<const VariableArray> variables, std::span<double> results,
                                std::size_t* written) {
  Core->EvaluateArrays(variables, results, written, GetArrayThreads());
}

void ParserBase::EvaluateArrays(std::span<const VariableArray> variables, std::span<double> results,
                                int threads, std::size_t* written) {
  Core->EvaluateArrays(variables, results, written, threads);
}

void ParserBase::SetArrayThreads(int threads) {
  if (threads < 0) detail::RaiseArgumentError(Messages::NegativeThreadCount);
  Core->Settings.ArrayThreads.store(threads, std::memory_order_relaxed);
}

void ParserBase::SetArrayPointsPerThread(std::size_t points) { Core->Settings.PointsPerThread = points; }

int ParserBase::GetArrayThreads() const {
  return Core->Settings.ArrayThreads.load(std::memory_order_relaxed);
}

int ParserBase::DefaultArrayThreads() { return detail::DefaultThreadCount(); }

int ParserBase::ArrayCodeLanes() const { return Core->ArrayCodeLanes(); }

double ParserBase::CompileFormula() { return Core->Compile(); }
double ParserBase::ParseCmdCode() { return Core->RunCurrentCells(); }
double ParserBase::ReturnConstant() { return Core->ReturnConstant(); }
void ParserBase::AssignBytecode(std::span<const Cell> cells) { Core->AssignBytecode(cells); }

std::span<const Cell> ParserBase::GetBytecode() const {
  const detail::CompiledFormula* compiled = Core->Compiled();
  if (!compiled) return {};
  return compiled->Cells;
}

std::string ParserBase::Listing() const {
  return Disassemble(GetBytecode(), [this](const void* address, const void* context) {
    return Core->NameOf(address, context);
  });
}

std::string ParserBase::ProgramListing() const { return Core->ProgramListing(); }

Token ParserBase::ScanToken(SyntaxFlags& flags) {
  detail::TokenReader reader(Core->Names(), Core->Formula());
  reader.SetPosition(Core->Pos);
  try {
    const Token token = reader.Scan(flags);
    Core->Pos = reader.Position();
    return token;
  } catch (...) {
    Core->Pos = reader.Position();
    Core->RequireCompilation();
    throw;
  }
}

std::int32_t ParserBase::Position() const { return Core->Pos; }
void ParserBase::SetPosition(std::int32_t position) { Core->Pos = position; }

void ParserBase::CheckName(std::string_view name, const char* charSet) { Core->CheckName(name, charSet); }

void ParserBase::RaiseError(std::string_view message, int position) { Core->RaiseError(message, position); }

std::int32_t ParserBase::Priority(std::int32_t code) {
  const Command* command = FindCommand(code);
  if (!command || command->Priority == NoPriority) RaiseError(Messages::PriorityOfNonOperator, -1);
  return command->Priority;
}

}  // namespace MathUtils
