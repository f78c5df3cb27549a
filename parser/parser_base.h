// The parser object: registries, definitions, and the entry points of the
// reader, compiler and interpreter (each implemented in its own file).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parser/bytecode.h"
#include "parser/token_reader.h"
#include "parser/tokens.h"

namespace MathUtils {

// A dictionary with exact string keys, cheap to fill: open addressing in
// one array, so defining a name costs no allocation of its own.
template <typename T>
class NameMap {
 public:
  explicit NameMap(std::size_t initialCapacity = 0) {
    if (initialCapacity) Slots.resize(RoundUpToPowerOfTwo(initialCapacity));
  }

  const T* Find(std::string_view name) const {
    if (Slots.empty()) return nullptr;
    for (std::size_t i = Hash(name) & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = Slots[i];
      if (!slot.Used) return nullptr;
      if (slot.Name == name) return &slot.Value;
    }
  }

  // Inserts the name or replaces its value.
  void Set(std::string_view name, const T& value) {
    if ((Count + 1) * 4 > Slots.size() * 3) Grow();
    for (std::size_t i = Hash(name) & Mask();; i = (i + 1) & Mask()) {
      Slot& slot = Slots[i];
      if (!slot.Used) {
        slot.Used = true;
        slot.Name.assign(name);
        slot.Value = value;
        ++Count;
        return;
      }
      if (slot.Name == name) {
        slot.Value = value;
        return;
      }
    }
  }

  // Calls visit(name, value) for every entry, in no particular order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const Slot& slot : Slots)
      if (slot.Used) visit(std::string_view(slot.Name), slot.Value);
  }

  void Clear() {
    for (Slot& slot : Slots) slot.Used = false;
    Count = 0;
  }
  bool Empty() const { return Count == 0; }
  std::size_t Size() const { return Count; }

 private:
  struct Slot {
    std::string Name;
    T Value{};
    bool Used = false;
  };

  static std::size_t RoundUpToPowerOfTwo(std::size_t n) {
    std::size_t capacity = 8;
    while (capacity < n) capacity *= 2;
    return capacity;
  }
  static std::size_t Hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    return hash;
  }
  std::size_t Mask() const { return Slots.size() - 1; }

  void Grow() {
    std::vector<Slot> old = std::move(Slots);
    Slots.clear();
    Slots.resize(old.empty() ? 8 : old.size() * 2);
    Count = 0;
    for (Slot& slot : old)
      if (slot.Used) Set(slot.Name, slot.Value);
  }

  std::vector<Slot> Slots;
  std::size_t Count = 0;
};

struct FunctionDef {
  void* Callback = nullptr;  // UnaryCallback, or ListCallback when ArgCount is -1
  std::int32_t ArgCount = 1;
  bool Optimizable = true;
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

  void AssignFormula(const std::string& formula);
  const std::string& GetFormula() const { return Formula; }

  void AddFunction(const std::string& name, UnaryCallback callback, bool optimizable = true);
  void AddFunction(const std::string& name, ListCallback callback, bool optimizable = true);
  void AddPostfixOperator(const std::string& name, UnaryCallback callback);
  void AddPrefixOperator(const std::string& name, UnaryCallback callback);
  void AddConstant(const std::string& name, double value);
  // Binds a name to a double owned by the caller; every evaluation reads
  // its current value.
  void AddVariable(const std::string& name, double* address);

  void SetOptimizer(bool on);

  // Compiles on the first call after any change, then runs the bytecode.
  double Evaluate() { return (this->*EvalEntry)(); }

  // The compiled formula (empty before the first compilation).
  std::span<const Cell> GetBytecode() const { return Bytecode; }
  // The compiled formula as text, one entry a line (see Disassemble).
  std::string Listing() const;

  void CheckName(const std::string& name, const char* charSet);
  [[noreturn]] void RaiseError(const std::string& message, int position);
  std::int32_t Priority(std::int32_t code);

 protected:
  using EvalRoutine = double (ParserBase::*)();

  // token_reader.cpp
  Token ScanToken(SyntaxFlags& flags);

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

 private:
  bool MatchFunction(Token& token);
  bool MatchValue(Token& token);
  bool MatchVariable(Token& token);
  bool MatchPrefixOp(Token& token);
  bool MatchPostfixOp(Token& token);
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
