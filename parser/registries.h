// The registries of one parser: the names it defines, and the variables
// that the compilation under way has met.
#pragma once

#include <cstdint>

#include "parser/detail/name_map.h"
#include "parser/types.h"

namespace MathUtils::detail {

// Plain records, so that registries copy as blocks of bytes. A callback
// defined with a context is called with Context first; a plain one has a
// null Context and WithContext false.
struct FunctionDef {
  void* Callback;  // UnaryCallback, or ListCallback when ArgCount is -1 (their context forms WithContext)
  void* Context;
  std::int32_t ArgCount;
  bool Optimizable;
  bool WithContext;
};

struct OperatorDef {
  void* Callback;  // UnaryCallback, or UnaryContextCallback WithContext
  void* Context;
  bool WithContext;
};

struct Registries {
  NameMap<FunctionDef> Functions;
  NameMap<double> Constants;
  NameMap<double*> Variables;
  NameMap<OperatorDef> PostfixOps;
  NameMap<OperatorDef> PrefixOps;
  NameMap<double*> UsedVariables;
};

}  // namespace MathUtils::detail
