// The stack container of the compiler.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>

#include "parser/front/tokens.h"

namespace MathUtils {

// A last-in first-out stack; popping an empty one is a parser error. The
// first InlineCapacity elements live inside the object, so short formulas
// compile without allocating.
template <typename T>
class Stack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  static constexpr std::size_t InlineCapacity = 32;

  Stack() = default;
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  void push(const T& item) {
    if (Count == Capacity) Grow();
    CopyItem(Base()[Count++], item);
  }
  T pop() {
    if (Count == 0) detail::RaiseStackIsEmpty();
    return Base()[--Count];
  }
  // Pops count elements at once.
  void Drop(std::size_t count) {
    if (count > Count) detail::RaiseStackIsEmpty();
    Count -= count;
  }
  // Overwrites the top element, which must exist.
  void ReplaceTop(const T& item) { CopyItem(Base()[Count - 1], item); }
  T& top() { return Base()[Count - 1]; }
  const T& top() const { return Base()[Count - 1]; }
  std::size_t size() const { return Count; }
  bool empty() const { return Count == 0; }
  // The elements from the bottom of the stack up.
  std::span<const T> items() const { return {Base(), Count}; }

 private:
  T* Base() { return Heap ? Heap.get() : reinterpret_cast<T*>(Inline); }
  const T* Base() const { return Heap ? Heap.get() : reinterpret_cast<const T*>(Inline); }

  // A token is copied field by field: it was written so a moment ago, and
  // wider reads of it would wait for those writes to reach the cache.
  static void CopyItem(T& to, const T& from) {
    if constexpr (std::is_same_v<T, Token>) {
      to.Code = from.Code;
      to.Val = from.Val;
      to.Addr = from.Addr;
      to.Context = from.Context;
      to.WithContext = from.WithContext;
      to.ArgCount = from.ArgCount;
      to.IsVolatile = from.IsVolatile;
      to.Prio = from.Prio;
    } else {
      to = from;
    }
  }

  // Out of line: inlined, it would make every push save and restore the
  // registers that the allocation needs.
  [[gnu::noinline]] void Grow() {
    auto larger = std::make_unique<T[]>(Capacity * 2);
    std::copy(Base(), Base() + Count, larger.get());
    Heap = std::move(larger);
    Capacity *= 2;
  }

  alignas(T) unsigned char Inline[InlineCapacity * sizeof(T)];
  std::unique_ptr<T[]> Heap;  // once the elements outgrow Inline; one test tells which holds them
  std::size_t Count = 0;
  std::size_t Capacity = InlineCapacity;
};

}  // namespace MathUtils
