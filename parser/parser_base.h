// The parser object: registries, definitions, settings, the current
// compiled formula, and the entry points of the reader, compiler and
// interpreters (each implemented in its own file).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "parser/callables.h"
#include "parser/errors.h"
#include "parser/types.h"

namespace MathUtils {

// Types of the reader and the compiler that only the library's own files
// define and use.
enum CmdCode : std::int32_t;
struct Token;
template <typename T>
class Stack;

namespace detail {

class ArrayPoint;
class CharClass;
class CellBuffer;
class CompilationScope;
class ArrayCode;
class Compiler;
struct CompiledFormula;
struct FunctionDef;
struct OperatorDef;
struct Registries;
template <typename T>
class NameMap;
enum class Tier : std::uint8_t;

}  // namespace detail

class ParserBase {
 public:
  ParserBase();
  virtual ~ParserBase();
  ParserBase(const ParserBase&) = delete;
  ParserBase& operator=(const ParserBase&) = delete;

  virtual void InitVocabulary();
  virtual void InitFunctions() {}
  virtual void InitConstants() {}
  virtual void InitOperators() {}

  // A callback that assigns a formula or changes a definition while its
  // parser compiles or runs lets that compilation or run finish on what it
  // began with; the next evaluation compiles anew.
  void AssignFormula(std::string_view formula);
  const std::string& GetFormula() const { return Formula; }

  void AddFunction(std::string_view name, UnaryCallback callback, bool optimizable = true);
  void AddFunction(std::string_view name, ListCallback callback, bool optimizable = true);
  // A null callback of either form: refused like one.
  void AddFunction(std::string_view name, std::nullptr_t, bool optimizable = true) {
    AddFunction(name, UnaryCallback{nullptr}, optimizable);
  }
  void AddPostfixOperator(std::string_view name, UnaryCallback callback);
  void AddPrefixOperator(std::string_view name, UnaryCallback callback);

  // Callbacks with state: each call passes the context first, unchanged
  // (null is a context like any other). The context is the caller's, like
  // a plain callback: it must outlive every evaluation that may use it.
  void AddFunction(std::string_view name, UnaryContextCallback callback, void* context,
                   bool optimizable = true);
  void AddFunction(std::string_view name, ListContextCallback callback, void* context,
                   bool optimizable = true);
  void AddPostfixOperator(std::string_view name, UnaryContextCallback callback, void* context);
  void AddPrefixOperator(std::string_view name, UnaryContextCallback callback, void* context);

  // Callable objects (a lambda that captures, a function object, a
  // std::function): invocable as double(double), or as
  // double(std::span<const double>) for a function of any number of
  // arguments. The parser calls a copy of its own, kept while any compiled
  // formula may call it: until the parser is destroyed, or, once the name
  // is defined anew, until the next compilation that begins while no
  // callback runs. A lambda without captures is a plain callback.
  // An empty one (a std::function that holds nothing) is refused like a
  // null callback.
  template <detail::FunctionObject F>
  void AddFunction(std::string_view name, F&& callable, bool optimizable = true) {
    if (detail::HoldsNothing(callable)) RaiseError(Messages::NullFunction, -1);
    using Copy = detail::CallableCopy<std::decay_t<F>>;
    DefineKept(std::make_unique<Copy>(std::forward<F>(callable)), [&](void* context) {
      if constexpr (detail::UnaryCallable<F>)
        AddFunction(name, &Copy::CallUnary, context, optimizable);
      else
        AddFunction(name, &Copy::CallList, context, optimizable);
    });
  }
  template <detail::OperatorObject F>
  void AddPostfixOperator(std::string_view name, F&& callable) {
    if (detail::HoldsNothing(callable)) RaiseError(Messages::NullOperator, -1);
    using Copy = detail::CallableCopy<std::decay_t<F>>;
    DefineKept(std::make_unique<Copy>(std::forward<F>(callable)),
               [&](void* context) { AddPostfixOperator(name, &Copy::CallUnary, context); });
  }
  template <detail::OperatorObject F>
  void AddPrefixOperator(std::string_view name, F&& callable) {
    if (detail::HoldsNothing(callable)) RaiseError(Messages::NullOperator, -1);
    using Copy = detail::CallableCopy<std::decay_t<F>>;
    DefineKept(std::make_unique<Copy>(std::forward<F>(callable)),
               [&](void* context) { AddPrefixOperator(name, &Copy::CallUnary, context); });
  }

  void AddConstant(std::string_view name, double value);
  // Binds a name to a double owned by the caller; every evaluation reads
  // its current value.
  void AddVariable(std::string_view name, double* address);

  void SetOptimizer(bool on);

  // Whether later evaluations may run as machine code generated at run
  // time (where this build and the system allow it), once a formula has
  // been evaluated often enough to repay the generation. On by default;
  // VORNCALC_MACHINE_CODE=0 in the environment makes the default off, =1
  // makes the code at the first later evaluation. Changing it compiles the
  // formula anew at the next evaluation.
  void SetMachineCode(bool on);
  // Bytes of machine code (instructions and their constants) that the
  // current formula runs as; 0 while it is interpreted.
  std::size_t MachineCodeSize() const;
  // A copy of the instructions of that machine code, for a disassembler;
  // empty while the formula is interpreted.
  std::vector<std::uint8_t> MachineCodeBytes() const;

  // The kinds of name a parser defines.
  enum class NameKind { Function, Constant, Variable, PostfixOperator, PrefixOperator };
  // Calls visit(kind, name) for every name defined when the call begins,
  // in no particular order. The visitor may define or redefine names; the
  // visit goes on over the names as they were.
  template <typename Visit>
  void ForEachName(Visit&& visit) const {
    using Visitor = std::remove_reference_t<Visit>;
    VisitNames([](void* context, NameKind kind,
                  std::string_view name) { (*static_cast<Visitor*>(context))(kind, name); },
               const_cast<void*>(static_cast<const void*>(&visit)));
  }

  // Compiles on the first call after any change, then runs the bytecode,
  // or the machine code made from it, called directly. Each call runs on
  // slots of its own: calls may nest (a callback that evaluates its own
  // parser), and several threads may evaluate one parser at once once it
  // has compiled, as long as none changes it (see the README).
  double Evaluate() { return EvalEntry.load(std::memory_order_acquire)(*this); }

  // Evaluates the formula at results.size() points: at point i each listed
  // variable has the value Values[i], every other variable its current
  // value, and results[i] is bit for bit what Evaluate gives there. The
  // variables themselves are not written: the formula reads the arrays,
  // so that several threads may evaluate over arrays at once as they may
  // evaluate. A formula not yet compiled is compiled at the first point,
  // as Evaluate compiles it. Once the formula has been evaluated at a few
  // hundred points this way, machine code runs the loop over the points,
  // several points at once where the processor has vector registers.
  // *written, where given, counts the leading results written; it is right
  // also when an error or a callback's exception ends the call. results
  // may be one of the arrays of values itself (not another part of one).
  void EvaluateArrays(std::span<const VariableArray> variables, std::span<double> results,
                      std::size_t* written = nullptr);

  // The compiled formula (empty before the first compilation).
  std::span<const Cell> GetBytecode() const;
  // The compiled formula as text, one entry a line (see Disassemble).
  std::string Listing() const;
  // The program that later evaluations run, one instruction a line (see
  // DisassembleProgram); derived here when no later evaluation has run yet.
  // Empty before a compilation, for a formula that compiled to one number,
  // and for cells that the interpreter runs as they are.
  std::string ProgramListing();

  // The compiler's own steps, public so that the reader, a name check or
  // an error can be driven one at a time; parser/parser.h declares the
  // tokens, the syntax flags and the character sets they take.

  // Reads the next token of the formula at Pos (0 after AssignFormula) and
  // replaces flags with the set that fits it.
  Token ScanToken(SyntaxFlags& flags);
  // Refuses an empty name, a name with a character outside charSet (one of
  // IdentChars, OperatorChars, SymbolChars, or any other set), and one
  // that starts with a digit.
  void CheckName(std::string_view name, const char* charSet);
  // The door for every error about a formula or a definition: composes the
  // text from the message and the formula up to position (none for a
  // negative one, the whole formula for 0), and sends the parser back to
  // compiling.
  [[noreturn]] void RaiseError(std::string_view message, int position);
  // The operator priority of a code: binary operators, brackets, the comma
  // and the end have one; any other code is an internal error.
  std::int32_t Priority(std::int32_t code);

 protected:
  // What Evaluate calls: an interpreter of the current tier, or the machine
  // code itself, which ignores its argument.
  using EvalRoutine = double (*)(ParserBase&);

  // Defines here every function, constant or operator that another parser
  // holds, as the definition operations would; the names are known valid.
  // The other parser must never change and outlive this one (the default
  // vocabulary): a parser without names of its own reads them there until
  // it defines one.
  void AdoptFunctions(const ParserBase& from);
  void AdoptConstants(const ParserBase& from);
  void AdoptOperators(const ParserBase& from);
  // Makes room for this many functions, constants, postfix and prefix
  // operators without growing; only before the first definition.
  void ReserveNames(std::size_t functions, std::size_t constants, std::size_t postfixOps,
                    std::size_t prefixOps);

  // compiler.cpp: compiles the formula and returns its value.
  double CompileFormula();

  // bytecode.cpp: the apply steps compute a result and write its entry.
  Token ApplyOperator(const Token& left, std::int32_t code, const Token& right, int& index, int& stackPos);
  void ApplyUnaryOprt(Stack<Token>& operators, Stack<Token>& values, int& index, int& stackPos);
  Token ApplyPostfix(const Token& op, const Token& operand, int& index, int& stackPos);
  void CallFunction(int argCount, Stack<Token>& operators, Stack<Token>& values, int& index, int& stackPos);

  // evaluation.cpp: the cell interpreter, which runs cells the program
  // cannot express, and the value of a formula that folded to one number.
  double ParseCmdCode();
  double ReturnConstant();

  // Replaces the compiled formula with cells of a subclass's own, as if a
  // compilation had made them: later evaluations derive and run them.
  void AssignBytecode(std::span<const Cell> cells);
  // Later evaluations interpreted before the machine code is made (1000,
  // or 0 where VORNCALC_MACHINE_CODE=1); takes effect at the next
  // compilation.
  void SetMachineCodeAfter(std::int32_t laterRuns) {
    MachineCodeAfter = laterRuns;
    RequireCompilation();
  }
  // At most this many points run at once in the machine code over arrays
  // (1, 2, 4 or 8; 8 by default, as many as the processor has); takes
  // effect at the next compilation.
  void SetArrayLanes(int lanes) {
    ArrayLanes = lanes;
    RequireCompilation();
  }
  // How many points the machine code over arrays of the current formula
  // runs at once; 0 where it has none (yet).
  int ArrayCodeLanes() const;
  // How the next evaluation computes the value.
  detail::Tier CurrentTier() const { return State.load(std::memory_order_acquire); }

  // The reader's position in the formula (0 after AssignFormula).
  std::int32_t Position() const { return Pos; }
  void SetPosition(std::int32_t position) { Pos = position; }
  // The registries, for a subclass that inspects them.
  const detail::Registries& Registry() const;

 private:
  friend class detail::Compiler;
  friend class detail::CompilationScope;

  void VisitNames(void (*visit)(void*, NameKind, std::string_view), void* context) const;

  // Defines the name with the copy's address as context, then keeps the
  // copy; a definition that fails frees it.
  template <typename Define>
  void DefineKept(std::unique_ptr<detail::KeptCallable> copy, Define&& define) {
    Kept.reserve(Kept.size() + 1);  // keeping it below cannot fail once it is defined
    define(copy->Context());
    Kept.push_back(std::move(copy));
  }
  // Every definition of a function or operator goes through these: the
  // copy of a callable object that the name called before is retired.
  void SetFunction(std::string_view name, const detail::FunctionDef& definition);
  void SetOperator(detail::NameMap<detail::OperatorDef>& registry, std::string_view name,
                   const detail::OperatorDef& definition);
  void RetireKept(const void* context);
  // Inline, in parser/parser_parts.h: the reader reaches the registries for
  // every name.
  detail::Registries& Names();
  const detail::Registries& Names() const;

  // The next evaluation compiles the formula afresh; a compilation under
  // way when this happens keeps its result from the parser.
  void RequireCompilation();
  void Enter(detail::Tier tier, EvalRoutine routine);
  void EnterRun(detail::Tier tier);
  // The compiled formula that a compilation fills, which it owns until it
  // installs or releases it: the current one where nothing can be running
  // it, else the parser's own where free, else a new one.
  detail::CompiledFormula* TakeCompiledFormula();
  detail::CompiledFormula* TakeCompiledFormulaAside();
  // Makes it current; the one it replaces is released, or kept while a
  // callback may still run it.
  void Install(detail::CompiledFormula* compiled);
  // Deletes one of the heap, frees the parser's own for the next compilation.
  void Release(detail::CompiledFormula* compiled);
  void KeepOrRelease(detail::CompiledFormula* compiled);
  detail::CompiledFormula& OwnFormula();
  // Keeps texts that compilations under way still read when a callback
  // assigns a new formula.
  void HoldTextsInUse();

  // evaluation.cpp: the routines behind Evaluate.
  static double EnterCompile(ParserBase& parser);
  static double EnterConstant(ParserBase& parser);
  static double EnterCells(ParserBase& parser);
  static double DeriveAndRun(ParserBase& parser);
  static double RunProgram(ParserBase& parser);
  static double RunArithmetic(ParserBase& parser);
  static double CountLaterRuns(ParserBase& parser);
  static double RunMachineCodeCallingBack(ParserBase& parser);
  double CompileFormula(const detail::ArrayPoint* point, std::vector<Cell>* notInstalled);
  // array_evaluation.cpp: the loops over the points of EvaluateArrays.
  void CheckVariableArrays(std::span<const VariableArray> variables) const;
  void ArraysFrom(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                  std::size_t& written);
  void ArraysCompiling(std::span<const VariableArray> variables, std::span<double> results,
                       std::size_t& written);
  void ArraysByCells(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                     std::size_t& written);
  void ArraysOverCells(const Cell* cells, detail::ArrayPoint& point, std::size_t first,
                       std::span<double> results, std::size_t& written);
  void ArraysByProgram(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                       std::size_t& written);
  bool ArraysByMachineCode(std::size_t first, std::span<const VariableArray> variables,
                           std::span<double> results, std::size_t& written);
  const detail::ArrayCode* ArrayCodeFor(std::size_t points);
  double RunCells(const Cell* cells);
  // Under Preparing: derives the program / makes the machine code, once.
  void PrepareLaterRuns();
  void SwitchToMachineCode();

  // The token reader's steps. Those marked inline are defined in the
  // reader alone and called there once per token: inlined, they save a
  // call for every name and operator.
  inline void SkipBlanks();
  inline void ScanBuiltInOperator(int index, SyntaxFlags& flags, Token& token);
  void ScanName(std::string_view rest, SyntaxFlags& flags, Token& token);
  void ScanNonName(std::string_view rest, SyntaxFlags& flags, Token& token);
  void ScanUnaryOperator(SyntaxFlags& flags, Token& token);
  inline bool MatchFunction(std::string_view name, std::uint32_t hash, Token& token);
  inline bool MatchConstant(std::string_view name, std::uint32_t hash, Token& token);
  inline bool MatchVariable(std::string_view name, std::uint32_t hash, Token& token);
  inline bool MatchUsedVariable(std::string_view name, std::uint32_t hash, Token& token);
  inline double* AddressToRead(double* variable) const;
  inline bool MatchShortNumber(std::string_view rest, Token& token);
  bool MatchNumber(std::string_view rest, Token& token);
  void Accept(SyntaxFlags& flags, SyntaxFlags forbiddenBy, std::string_view message, SyntaxFlags next);
  bool MatchPrefixOp(Token& token);
  bool MatchPostfixOp(Token& token);
  bool MatchOperator(const detail::CharClass& members, const detail::NameMap<detail::OperatorDef>& registry,
                     CmdCode code, Token& token);
  std::size_t RunLength(const detail::CharClass& members) const;
  [[noreturn]] void RaiseUnknownToken();

  Token UnaryResult(const Token& op, const Token& operand, int& index, int stackPos);
  void Fold(int& index, int operands, int slot, double value, std::string_view negativeIndex);
  inline void AppendValue(int& index, int slot, double value);
  inline void AppendAddressed(int& index, int slot, CmdCode code, void* address);
  inline void AppendFunction(int& index, int slot, Cell argCount, void* callback);
  inline void AppendContextFunction(int& index, int slot, Cell argCount, void* callback, void* context);
  inline void AppendContextOp(int& index, int slot, void* callback, void* context);
  inline void AppendBinary(int& index, int slot, std::int32_t code);
  inline void AppendEnd(int& index);

  // context: of a callback called with one, else null.
  std::string NameOf(const void* address, const void* context) const;

  std::atomic<EvalRoutine> EvalEntry;
  std::atomic<detail::Tier> State;
  // The reader's position in the text it reads.
  std::int32_t Pos = 0;
  // The registries live here, built in place: the header then needs none
  // of their types, and reaching them costs no more than a member.
  static constexpr std::size_t RegistryBytes = 6 * (6 * sizeof(void*) + sizeof(std::string));
  alignas(std::size_t) unsigned char RegistryStorage[RegistryBytes];
  std::string Formula;
  // The text the reader reads: the formula, or a copy of the text that a
  // compilation under way began with, kept in HeldTexts while a callback
  // has assigned another.
  std::string_view ReadText;
  std::vector<std::unique_ptr<std::string>> HeldTexts;
  detail::CompilationScope* InnermostCompilation = nullptr;
  // Where the compilation under way reads listed variables: the first
  // point of an evaluation over arrays, else null.
  const detail::ArrayPoint* VariablesAt = nullptr;
  // The compiled formula that the compilation under way writes.
  detail::CellBuffer* Writing = nullptr;
  // Counts changes: a compilation during which it moves keeps its result
  // from the parser.
  std::uint32_t Changes = 0;
  // The parser's own compiled formula, built in place like the registries,
  // so that a parser that compiles one formula at a time allocates none.
  static constexpr std::size_t FormulaBytes =
      (396 + 11 * sizeof(void*) + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*) + sizeof(void*) + 8;
  alignas(void*) unsigned char FormulaStorage[FormulaBytes];
  bool OwnFormulaFree = true;
  // Owned: released by the parser (Release), null while a compilation has
  // taken it.
  detail::CompiledFormula* Current = nullptr;
  // Compiled formulas pulled away while a callback ran: released at the next
  // compilation that begins when none runs.
  std::vector<detail::CompiledFormula*> Retired;
  // The copies of callable objects that definitions call, and those whose
  // names were defined anew since: retired ones are freed with the retired
  // compiled formulas, when no callback runs and no compilation is under
  // way (a callback run while a formula compiles may be one of them).
  std::vector<std::unique_ptr<detail::KeptCallable>> Kept;
  std::vector<std::unique_ptr<detail::KeptCallable>> RetiredKept;
  // Serialises the preparation of later runs between threads.
  std::mutex Preparing;

  // Whether the names in UsedVariables are known to be variables: set when
  // a compilation begins, cleared by any change of the definitions (every
  // one requires a compilation), also one made by a callback during it.
  bool UsedVariablesSettled = false;
  bool OptimizerOn = true;
  bool MachineCodeOn;
  // Later evaluations interpreted before the machine code is made.
  std::int32_t MachineCodeAfter;
  int ArrayLanes = 8;
};

}  // namespace MathUtils
