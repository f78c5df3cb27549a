// The parser object: registries, definitions, and the entry points of the
// reader, compiler and interpreter (each implemented in its own file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parser/detail/name_map.h"
#include "parser/errors.h"

namespace MathUtils {

// Callback forms. A ListCallback sees the arguments of one call, first
// argument first, as a view of the evaluation stack: no copy is made.
using UnaryCallback = double (*)(double);
using ListCallback = double (*)(std::span<const double>);

// One cell of the compiled formula; the entry layout is documented with
// the bytecode.
using Cell = std::int32_t;

// The token reader's syntax flags, a set of bits.
using SyntaxFlags = std::uint32_t;

// Types of the reader and the compiler that only the library's own files
// define and use.
enum CmdCode : std::int32_t;
struct Token;
template <typename T>
class Stack;

namespace detail {

class CharClass;
class Compiler;
class MachineCode;
struct Instruction;
struct Program;

// A plain record, so that registries copy as blocks of bytes.
struct FunctionDef {
  void* Callback;  // UnaryCallback, or ListCallback when ArgCount is -1
  std::int32_t ArgCount;
  bool Optimizable;
};

// The compiled formula's cells. Short formulas keep them inside the parser,
// so that compiling one allocates nothing.
class CellBuffer {
 public:
  static constexpr std::size_t InlineCells = 96;

  CellBuffer() = default;
  CellBuffer(const CellBuffer&) = delete;
  CellBuffer& operator=(const CellBuffer&) = delete;

  // Makes the buffer count cells long, all 0.
  void AssignZeros(std::size_t count);
  CellBuffer& operator=(std::span<const Cell> cells);

  Cell* Data() { return Begin; }
  const Cell* Data() const { return Begin; }
  std::size_t Size() const { return Count; }
  Cell& operator[](std::size_t i) { return Begin[i]; }
  const Cell& operator[](std::size_t i) const { return Begin[i]; }
  operator std::span<const Cell>() const { return {Begin, Count}; }

 private:
  Cell Inline[InlineCells];
  std::vector<Cell> Heap;
  Cell* Begin = Inline;
  std::size_t Count = 0;
};

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
  // The instructions of that machine code, for a disassembler.
  std::span<const std::uint8_t> MachineCodeBytes() const;

  // The kinds of name a parser defines.
  enum class NameKind { Function, Constant, Variable, PostfixOperator, PrefixOperator };
  // Calls visit(kind, name) for every defined name, in no particular order.
  template <typename Visit>
  void ForEachName(Visit&& visit) const {
    const auto visitAs = [&visit](NameKind kind) {
      return [&visit, kind](std::string_view name, const auto&) { visit(kind, name); };
    };
    Functions.ForEach(visitAs(NameKind::Function));
    Constants.ForEach(visitAs(NameKind::Constant));
    Variables.ForEach(visitAs(NameKind::Variable));
    PostfixOps.ForEach(visitAs(NameKind::PostfixOperator));
    PrefixOps.ForEach(visitAs(NameKind::PrefixOperator));
  }

  // Compiles on the first call after any change, then runs the bytecode,
  // or the machine code made from it, called directly.
  double Evaluate() { return MachineEntry ? MachineEntry() : (this->*EvalEntry)(); }

  // The compiled formula (empty before the first compilation).
  std::span<const Cell> GetBytecode() const { return Bytecode; }
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
  using EvalRoutine = double (ParserBase::*)();

  // Defines here every function, constant or operator that another parser
  // holds, as the definition operations would; the names are known valid.
  // The other parser must never change and outlive this one (the default
  // vocabulary): a parser without names of its own reads them there until
  // it defines one.
  void AdoptFunctions(const ParserBase& from);
  void AdoptConstants(const ParserBase& from);
  void AdoptOperators(const ParserBase& from);

  // compiler.cpp
  double CompileFormula();

  // bytecode.cpp: the apply steps compute a result and write its entry.
  Token ApplyOperator(const Token& left, std::int32_t code, const Token& right, int& index, int& stackPos);
  void ApplyUnaryOprt(Stack<Token>& operators, Stack<Token>& values, int& index, int& stackPos);
  Token ApplyPostfix(const Token& op, const Token& operand, int& index, int& stackPos);
  void CallFunction(int argCount, Stack<Token>& operators, Stack<Token>& values, int& index, int& stackPos);

  // evaluation.cpp: the entries that Evaluate runs once a compilation
  // succeeded. The first later evaluation derives the program.
  double ParseCmdCode();
  double ReturnConstant();
  double DeriveAndRun();
  double RunProgram();
  double RunArithmetic();
  // Counts later evaluations down to the machine code, then makes it.
  double CountLaterRuns();
  double RunMachineCode();
  void SwitchToMachineCode();
  // The next evaluation compiles the formula afresh.
  void RequireCompilation() {
    EvalEntry = &ParserBase::CompileFormula;
    MachineEntry = nullptr;
    UsedVariablesSettled = false;
  }

  EvalRoutine EvalEntry;
  std::int32_t Pos = 0;
  detail::CellBuffer Bytecode;
  std::string Formula;
  detail::NameMap<detail::FunctionDef> Functions;
  detail::NameMap<double> Constants;
  detail::NameMap<double*> Variables;
  detail::NameMap<double*> UsedVariables;
  // Whether the names in UsedVariables are known to be variables: set when
  // a compilation begins, cleared by any change of the definitions (every
  // one requires a compilation), also one made by a callback during it.
  bool UsedVariablesSettled = false;
  detail::NameMap<UnaryCallback> PostfixOps;
  detail::NameMap<UnaryCallback> PrefixOps;
  bool OptimizerOn = true;
  // Made by the first later evaluation and kept for the parser's life: a
  // parser that evaluates once never needs it.
  std::unique_ptr<detail::Program> DerivedProgram;
  // Its instructions and result, where RunProgram and RunArithmetic read them.
  const detail::Instruction* ProgramBegin = nullptr;
  const detail::Instruction* ProgramEnd = nullptr;
  const double* ProgramResult = nullptr;
  // The machine code of the current formula, made from the program, and
  // its entry while EvalEntry is RunMachineCode (else null).
  std::unique_ptr<detail::MachineCode> Machine;
  double (*MachineEntry)() = nullptr;
  bool MachineCodeOn;
  // Later evaluations interpreted before the machine code is made, and
  // those still to come.
  std::int32_t MachineCodeAfter;
  std::int32_t LaterRunsLeft = 0;

 private:
  friend class detail::Compiler;

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
  inline bool MatchShortNumber(std::string_view rest, Token& token);
  bool MatchNumber(std::string_view rest, Token& token);
  void Accept(SyntaxFlags& flags, SyntaxFlags forbiddenBy, std::string_view message, SyntaxFlags next);
  bool MatchPrefixOp(Token& token);
  bool MatchPostfixOp(Token& token);
  bool MatchOperator(const detail::CharClass& members, const detail::NameMap<UnaryCallback>& registry,
                     CmdCode code, Token& token);
  std::size_t RunLength(const detail::CharClass& members) const;
  [[noreturn]] void RaiseUnknownToken();

  Token UnaryResult(const Token& op, const Token& operand, int& index, int stackPos);
  void Fold(int& index, int operands, int slot, double value, std::string_view negativeIndex);
  inline void AppendValue(int& index, int slot, double value);
  inline void AppendAddressed(int& index, int slot, CmdCode code, void* address);
  inline void AppendFunction(int& index, int slot, Cell argCount, void* callback);
  inline void AppendBinary(int& index, int slot, std::int32_t code);
  inline void AppendEnd(int& index);

  void PrepareLaterRuns();
  std::string NameOf(const void* address) const;
};

}  // namespace MathUtils
