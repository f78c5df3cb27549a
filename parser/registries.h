// The registries of one parser: the names it defines, and the variables
// that the compilation under way has met.
#pragma once

#include <cstdint>

#include "parser/detail/name_map.h"
#include "parser/types.h"

namespace MathUtils::detail {

// A plain record, so that registries copy as blocks of bytes.
struct FunctionDef {
  void* Callback;  // UnaryCallback, or ListCallback when ArgCount is -1
  std::int32_t ArgCount;
  bool Optimizable;
};

struct Registries {
  NameMap<FunctionDef> Functions;
  NameMap<double> Constants;
  NameMap<double*> Variables;
  NameMap<UnaryCallback> PostfixOps;
  NameMap<UnaryCallback> PrefixOps;
  NameMap<double*> UsedVariables;
};

}  // namespace MathUtils::detail
