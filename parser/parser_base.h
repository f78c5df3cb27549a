// The parser object: registries, definitions, and the entry points of the
// reader, compiler and interpreter (each implemented in its own file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parser/bytecode.h"
#include "parser/token_reader.h"
#include "parser/tokens.h"

namespace MathUtils {

// A dictionary with exact string keys, cheap to fill: open addressing over
// one array of plain slots, with the names kept side by side in one string.
template <typename T>
class NameMap {
 public:
  // Makes room for entries names without growing; only on an empty map.
  void Reserve(std::size_t entries) {
    if (!Empty()) return;
    Slots.assign(RoundUpToPowerOfTwo(entries * 4 / 3 + 1), Slot{});
    Names.reserve(8 * entries);
  }

  const T* Find(std::string_view name) const {
    if (Slots.empty()) return nullptr;
    const std::uint32_t hash = Hash(name);
    for (std::size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = Slots[i];
      if (!slot.Used) return nullptr;
      if (slot.Hash == hash && NameOf(slot) == name) return &slot.Value;
    }
  }

  // Inserts the name or replaces its value.
  void Set(std::string_view name, const T& value) {
    if ((Count + 1) * 4 > Slots.size() * 3) Grow();
    const std::uint32_t hash = Hash(name);
    for (std::size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      Slot& slot = Slots[i];
      if (!slot.Used) {
        slot = Slot{hash, static_cast<std::uint32_t>(Names.size()), static_cast<std::uint32_t>(name.size()),
                    true, value};
        Names.append(name);
        ++Count;
        return;
      }
      if (slot.Hash == hash && NameOf(slot) == name) {
        slot.Value = value;
        return;
      }
    }
  }

  // Sets every entry of the other map here; a copy when this one is empty.
  void Merge(const NameMap& other) {
    if (Empty()) {
      Slots = other.Slots;
      Names.reserve(other.Names.capacity());  // keep the room reserved for more names
      Names.assign(other.Names);
      Count = other.Count;
      return;
    }
    other.ForEach([this](std::string_view name, const T& value) { Set(name, value); });
  }

  // Calls visit(name, value) for every entry, in no particular order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const Slot& slot : Slots)
      if (slot.Used) visit(NameOf(slot), slot.Value);
  }

  void Clear() {
    for (Slot& slot : Slots) slot.Used = false;
    Names.clear();
    Count = 0;
  }
  bool Empty() const { return Count == 0; }
  std::size_t Size() const { return Count; }

 private:
  struct Slot {
    std::uint32_t Hash;
    std::uint32_t Offset;  // of the name in Names
    std::uint32_t Length;
    bool Used;
    T Value;
  };

  static std::size_t RoundUpToPowerOfTwo(std::size_t n) {
    std::size_t capacity = 8;
    while (capacity < n) capacity *= 2;
    return capacity;
  }
  static std::uint32_t Hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    return hash;
  }
  std::size_t Mask() const { return Slots.size() - 1; }
  std::string_view NameOf(const Slot& slot) const {
    return std::string_view(Names).substr(slot.Offset, slot.Length);
  }

  void Grow() {
    std::vector<Slot> old = std::move(Slots);
    Slots.assign(old.empty() ? 8 : old.size() * 2, Slot{});
    for (const Slot& slot : old) {
      if (!slot.Used) continue;
      std::size_t i = slot.Hash & Mask();
      while (Slots[i].Used) i = (i + 1) & Mask();
      Slots[i] = slot;
    }
  }

  std::vector<Slot> Slots;
  std::string Names;
  std::size_t Count = 0;
};

// A plain record, so that registries copy as blocks of bytes.
struct FunctionDef {
  void* Callback;  // UnaryCallback, or ListCallback when ArgCount is -1
  std::int32_t ArgCount;
  bool Optimizable;
};

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

  // Compiles on the first call after any change, then runs the bytecode.
  double Evaluate() { return (this->*EvalEntry)(); }

  // The compiled formula (empty before the first compilation).
  std::span<const Cell> GetBytecode() const { return Bytecode; }
  // The compiled formula as text, one entry a line (see Disassemble).
  std::string Listing() const;

  // Reads the next token of the formula at the reader's position (0 after
  // AssignFormula) and replaces flags with the set that fits it.
  Token ScanToken(SyntaxFlags& flags);

  void CheckName(std::string_view name, const char* charSet);
  [[noreturn]] void RaiseError(std::string_view message, int position);
  std::int32_t Priority(std::int32_t code);

 protected:
  using EvalRoutine = double (ParserBase::*)();

  // Defines here every function, constant or operator that another parser
  // holds, as the definition operations would; the names are known valid.
  void AdoptFunctions(const ParserBase& from);
  void AdoptConstants(const ParserBase& from);
  void AdoptOperators(const ParserBase& from);

  // compiler.cpp
  double CompileFormula();

  // bytecode.cpp: the apply steps compute a result and write its entry.
  Token ApplyOperator(const Token& left, std::int32_t code, const Token& right, int& index,
                      int& stackPos);
  void ApplyUnaryOprt(Stack<Token>& operators, Stack<Token>& values, int& index, int& stackPos);
  Token ApplyPostfix(const Token& op, const Token& operand, int& index, int& stackPos);
  void CallFunction(int argCount, Stack<Token>& operators, Stack<Token>& values, int& index,
                    int& stackPos);

  // evaluation.cpp
  double ParseCmdCode();
  double ReturnConstant();
  double RunProgram();
  double RunArithmetic();

  // Later evaluations run a form derived once from the cells: each operand
  // is read through a pointer (a stack slot, a variable or a constant kept
  // in the instruction), so loads cost no step of their own.
  struct Instruction {
    std::int32_t Op;  // a CmdCode, or one of the program's own codes
    std::int32_t ArgCount;
    double* Result;
    const double* Left;
    const double* Right;
    void* Callback;
    double Constants[2];  // operands that are numbers
  };
  bool DeriveProgram();
  template <bool WithCalls>
  double Run();

  EvalRoutine EvalEntry;
  std::int32_t Pos = 0;
  std::vector<Cell> Bytecode;
  std::string Formula;
  NameMap<FunctionDef> Functions;
  NameMap<double> Constants;
  NameMap<double*> Variables;
  NameMap<double*> UsedVariables;
  NameMap<UnaryCallback> PostfixOps;
  NameMap<UnaryCallback> PrefixOps;
  bool OptimizerOn = true;
  std::vector<Instruction> Program;
  const double* ProgramResult = nullptr;
  bool ProgramCalls = false;  // whether any step calls a function
  double ProgramStack[EvaluationStackSize];

 private:
  bool MatchFunction(Token& token);
  bool MatchValue(Token& token);
  bool MatchVariable(Token& token);
  bool MatchPrefixOp(Token& token);
  bool MatchPostfixOp(Token& token);
  bool MatchOperator(const CharClass& members, const NameMap<UnaryCallback>& registry, CmdCode code,
                     Token& token);
  std::size_t RunLength(const CharClass& members) const;
  Token ScanBuiltInOperator(int index, SyntaxFlags& flags);

  Token UnaryResult(const Token& op, const Token& operand, int& index, int stackPos);
  void PushOperand(const Token& operand, Stack<Token>& values, int& index, int& stackPos);
  void AppendValue(int& index, int slot, double value);
  void AppendAddressed(int& index, int slot, CmdCode code, void* address);
  void AppendFunction(int& index, int slot, Cell argCount, void* callback);
  void AppendBinary(int& index, int slot, std::int32_t code);
  void AppendEnd(int& index);
};

}  // namespace MathUtils
