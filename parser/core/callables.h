// Callable objects as callbacks: a parser keeps its own copy of each one,
// and a callback of the context form calls that copy through its address.
// Installed because ParserBase's definition operations for callable
// objects are templates; nothing here is meant to be called by a user.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>

#include "parser/core/types.h"

namespace MathUtils::detail {

// What a parser keeps of a callable object: the copy, destroyed with this.
class KeptCallable {
 public:
  virtual ~KeptCallable() = default;
  KeptCallable(const KeptCallable&) = delete;
  KeptCallable& operator=(const KeptCallable&) = delete;

  // The copy's address: the context its callback is called with.
  void* Context() const { return Target; }

 protected:
  KeptCallable() = default;
  void* Target = nullptr;
};

template <typename F>
class CallableCopy final : public KeptCallable {
 public:
  template <typename G>
  explicit CallableCopy(G&& callable) : Callable(std::forward<G>(callable)) {
    Target = std::addressof(Callable);
  }

  static double CallUnary(void* context, double argument) {
    return static_cast<double>(std::invoke(*static_cast<F*>(context), argument));
  }
  static double CallList(void* context, std::span<const double> arguments) {
    return static_cast<double>(std::invoke(*static_cast<F*>(context), arguments));
  }

 private:
  F Callable;
};

// A callable object of one argument, or of a list; a plain function pointer
// (a lambda without captures converts to one) is defined as one instead.
// Kept out of clang-format, whose version in Debian 12 breaks concepts apart.
// clang-format off
template <typename F>
concept UnaryCallable = std::is_invocable_r_v<double, std::decay_t<F>&, double>;
template <typename F>
concept ListCallable = std::is_invocable_r_v<double, std::decay_t<F>&, std::span<const double>>;
template <typename F>
concept CallableObject = !std::is_convertible_v<F, UnaryCallback> && !std::is_convertible_v<F, ListCallback> &&
                         !std::is_same_v<std::decay_t<F>, std::nullptr_t> &&
                         std::is_constructible_v<std::decay_t<F>, F>;
// What a function may be defined as, and an operator.
template <typename F>
concept FunctionObject = CallableObject<F> && (UnaryCallable<F> || ListCallable<F>);
template <typename F>
concept OperatorObject = CallableObject<F> && UnaryCallable<F>;
// An object that tests as a bool: a std::function, one holding a pointer.
template <typename F>
concept TestsAsBool = requires(const F& f) { { f.operator bool() } -> std::convertible_to<bool>; };
// clang-format on

// Whether a callable object that tests as a bool holds nothing to call.
template <typename F>
bool HoldsNothing(const F& callable) {
  if constexpr (TestsAsBool<F>)
    return !callable.operator bool();
  else
    return false;
}

}  // namespace MathUtils::detail
