// The parser's operations: the checks that a definition or a formula
// passes, then the engine's work.
#include "parser/parser_base.h"

#include <string>
#include <utility>
#include <vector>

#include "parser/bytecode.h"
#include "parser/commands.h"
#include "parser/compiled_formula.h"
#include "parser/engine.h"
#include "parser/syntax_flags.h"
#include "parser/token_reader.h"
#include "parser/tokens.h"

namespace MathUtils {

namespace {

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

}  // namespace

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
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), nullptr, 1, optimizable, false});
}

void ParserBase::AddFunction(std::string_view name, ListCallback callback, bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), nullptr, -1, optimizable, false});
}

void ParserBase::AddFunction(std::string_view name, UnaryContextCallback callback, void* context,
                             bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), context, 1, optimizable, true});
}

void ParserBase::AddFunction(std::string_view name, ListContextCallback callback, void* context,
                             bool optimizable) {
  if (!callback) RaiseError(Messages::NullFunction, -1);
  CheckName(name, IdentChars);
  Core->SetFunction(name, {reinterpret_cast<void*>(callback), context, -1, optimizable, true});
}

void ParserBase::AddPostfixOperator(std::string_view name, UnaryCallback callback) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  Core->SetOperator(false, name, {reinterpret_cast<void*>(callback), nullptr, false});
}

void ParserBase::AddPrefixOperator(std::string_view name, UnaryCallback callback) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  Core->SetOperator(true, name, {reinterpret_cast<void*>(callback), nullptr, false});
}

void ParserBase::AddPostfixOperator(std::string_view name, UnaryContextCallback callback, void* context) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  Core->SetOperator(false, name, {reinterpret_cast<void*>(callback), context, true});
}

void ParserBase::AddPrefixOperator(std::string_view name, UnaryContextCallback callback, void* context) {
  if (!callback) RaiseError(Messages::NullOperator, -1);
  CheckName(name, OperatorChars);
  Core->SetOperator(true, name, {reinterpret_cast<void*>(callback), context, true});
}

void ParserBase::ReserveKept() { Core->ReserveKept(); }
void ParserBase::Keep(std::unique_ptr<detail::KeptCallable> copy) { Core->Keep(std::move(copy)); }

void ParserBase::AddConstant(std::string_view name, double value) {
  CheckName(name, IdentChars);
  Core->SetConstant(name, value);
}

void ParserBase::AddVariable(std::string_view name, double* address) {
  if (!address) RaiseError(Messages::NullVariable, -1);
  CheckName(name, IdentChars);
  Core->SetVariable(name, address);
}

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

void ParserBase::SetOptimizer(bool on) {
  Core->FoldingOn = on;
  Core->RequireCompilation();
}

void ParserBase::SetMachineCode(bool on) {
  Core->MachineCodeOn = on;
  Core->RequireCompilation();
}

void ParserBase::SetMachineCodeAfter(std::int32_t laterRuns) {
  Core->MachineCodeAfter = laterRuns;
  Core->RequireCompilation();
}

void ParserBase::SetArrayLanes(int lanes) {
  Core->ArrayLanes = lanes;
  Core->RequireCompilation();
}

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
  Core->EvaluateArrays(variables, results, written);
}

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

void ParserBase::CheckName(std::string_view name, const char* charSet) {
  if (name.empty()) RaiseError(Messages::EmptyName, -1);
  const detail::CharClass* prepared = PreparedClass(charSet);
  if (!(prepared ? AllIn(name, *prepared) : AllIn(name, detail::CharClass{charSet})))
    RaiseError(Messages::InvalidNameCharacter, -1);
  if (name[0] >= '0' && name[0] <= '9') RaiseError(Messages::NameStartsWithDigit, -1);
}

void ParserBase::RaiseError(std::string_view message, int position) { Core->RaiseError(message, position); }

std::int32_t ParserBase::Priority(std::int32_t code) {
  const Command* command = FindCommand(code);
  if (!command || command->Priority == NoPriority) RaiseError(Messages::PriorityOfNonOperator, -1);
  return command->Priority;
}

}  // namespace MathUtils
