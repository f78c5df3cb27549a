// The vocabulary of one parser: the names it defines. The compilation reads
// it, never writes it; the parser's definitions write it.
#pragma once

#include <cstdint>

#include "parser/detail/name_map.h"
#include "parser/types.h"

namespace MathUtils::detail {

// Plain records, so that the registries copy as blocks of bytes. A callback
// defined with a context is called with Context first; a plain one has a
// null Context and WithContext false.
struct FunctionDef {
  // UnaryCallback when ArgCount is 1, else ListCallback: of any number of
  // arguments for -1, of exactly ArgCount (2 to MaxFixedArguments, the
  // built-in math functions) otherwise (their context forms WithContext)
  void* Callback;
  void* Context;
  std::int32_t ArgCount;
  bool Optimizable;
  bool WithContext;
};

inline constexpr std::int32_t MaxFixedArguments = 3;

struct OperatorDef {
  void* Callback;  // UnaryCallback, or UnaryContextCallback WithContext
  void* Context;
  bool WithContext;
};

struct Vocabulary {
  NameMap<FunctionDef> Functions;
  NameMap<double> Constants;
  NameMap<double*> Variables;
  NameMap<OperatorDef> PostfixOps;
  NameMap<OperatorDef> PrefixOps;
  // Counts definitions: a reader that remembers what names were tells by
  // it that a callback has defined names since.
  std::uint32_t Generation = 0;
};

}  // namespace MathUtils::detail
