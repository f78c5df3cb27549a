// The tokens of the reader and the compiler.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

#include "parser/commands.h"
#include "parser/errors.h"

namespace MathUtils {

namespace detail {

// Out of line, so that pop and GetVal stay small enough to inline.
[[noreturn]] void RaiseStackIsEmpty();
[[noreturn]] void RaiseValueOfNonValue();
[[noreturn]] void RaiseCallbackOfNonCall();
[[noreturn]] void RaiseArgCountOfNonFunction();

}  // namespace detail

struct Token {
  CmdCode Code = cdUnknown;
  double Val = 0;
  void* Addr = nullptr;          // variable address or callback, see CmdCode
  void* Context = nullptr;       // what a callback defined with a context is called with
  bool WithContext = false;      // whether the callback takes Context first
  std::int32_t ArgCount = 0;     // functions: 1 to 3, or -1 for any number
  std::uint32_t IsVolatile = 0;  // bit 0: the value may change between evaluations
  std::int32_t Prio = 999;       // priority of an operation left unfolded

  // Turns the token into a value; ArgCount and Prio are kept.
  void SetVal(double value) {
    Code = cdValue;
    Val = value;
    Addr = nullptr;
    Context = nullptr;
    WithContext = false;
    IsVolatile = 0;
  }

  double GetVal() const {
    if (Code == cdValue) return Val;
    if (Code == cdVariable) return *static_cast<const double*>(Addr);
    detail::RaiseValueOfNonValue();
  }
  void* GetFuncAddr() const {
    if (Code == cdFunction || Code == cdPostfixOp || Code == cdPrefixOp) return Addr;
    detail::RaiseCallbackOfNonCall();
  }
  std::int32_t GetArgCount() const {
    if (Code != cdFunction) detail::RaiseArgCountOfNonFunction();
    return ArgCount;
  }
  bool Volatile() const { return (IsVolatile & 1u) != 0; }
};

}  // namespace MathUtils
