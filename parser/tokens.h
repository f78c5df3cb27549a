// Tokens, the stack container and the one exception type of the formula parser.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace MathUtils {

// Command codes. The numbers are fixed: the reader's operator table, the
// priority table and the bytecode are all indexed by them.
// ORDER CmdCode: keep in step with BuiltInOperators (token_reader.cpp) and
// the priority table (parser_base.cpp).
enum CmdCode : std::int32_t {
  cdLessEq = 0,     // "<="
  cdGreaterEq = 1,  // ">="
  cdNotEqual = 2,   // "!="
  cdEqual = 3,      // "=="
  cdLess = 4,       // "<"
  cdGreater = 5,    // ">"
  cdAdd = 6,        // "+"
  cdSub = 7,        // "-"
  cdMul = 8,        // "*"
  cdDiv = 9,        // "/"
  cdPow = 10,       // "^"
  cdAnd = 11,       // "and"
  cdOr = 12,        // "or"
  cdOpenBracket = 13,
  cdCloseBracket = 14,
  cdComma = 15,
  cdVariable = 16,   // Addr: the variable's double
  cdValue = 17,      // Val: the number itself
  cdFunction = 18,   // Addr: callback, ArgCount: 1 or -1 (any number)
  cdPostfixOp = 19,  // Addr: callback
  cdPrefixOp = 20,   // Addr: callback
  cdEnd = 21,
  cdUnknown = 22,    // a freshly constructed token
};

inline constexpr bool IsBinaryOperator(std::int32_t code) { return code >= cdLessEq && code <= cdOr; }

// Callback forms. A ListCallback sees the arguments of one call, first
// argument first, as a view of the evaluation stack: no copy is made.
using UnaryCallback = double (*)(double);
using ListCallback = double (*)(std::span<const double>);

// The formula text carried by errors raised outside a formula's context.
inline constexpr const char* NoFormulaText = "(formula is not available)";

class ParserException : public std::runtime_error {
 public:
  ParserException(const std::string& message, const std::string& formula)
      : std::runtime_error(message), Formula(formula) {}

  const std::string& GetFormula() const { return Formula; }

 private:
  std::string Formula;
};

struct Token {
  CmdCode Code = cdUnknown;
  double Val = 0;
  void* Addr = nullptr;        // variable address or callback, see CmdCode
  std::int32_t ArgCount = 0;   // functions: 1, or -1 for any number
  std::uint32_t IsVolatile = 0;  // bit 0: the value may change between evaluations
  std::int32_t Prio = 999;     // priority of an operation left unfolded

  // Turns the token into a value; ArgCount and Prio are kept.
  void SetVal(double value) {
    Code = cdValue;
    Val = value;
    Addr = nullptr;
    IsVolatile = 0;
  }

  double GetVal() const;
  void* GetFuncAddr() const;
  std::int32_t GetArgCount() const;
  bool Volatile() const { return (IsVolatile & 1u) != 0; }
};

// A last-in first-out stack; popping an empty one is a parser error.
template <typename T>
class Stack {
 public:
  void push(const T& item) { Items.push_back(item); }
  T pop() {
    if (Items.empty()) throw ParserException("stack is empty.", NoFormulaText);
    T item = Items.back();
    Items.pop_back();
    return item;
  }
  T& top() { return Items.back(); }
  const T& top() const { return Items.back(); }
  std::size_t size() const { return Items.size(); }
  bool empty() const { return Items.empty(); }
  void reserve(std::size_t n) { Items.reserve(n); }

 private:
  std::vector<T> Items;
};

}  // namespace MathUtils
