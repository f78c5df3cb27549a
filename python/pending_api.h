// TEMPORARY: stands in for the parser's context callbacks until they are
// on main; removed then.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

#include "parser/parser.h"

namespace PythonModule::Pending {

using UnaryContextCallback = double (*)(void* context, double);
using ListContextCallback = double (*)(void* context, std::span<const double>);

struct Slot {
  UnaryContextCallback Unary = nullptr;
  ListContextCallback List = nullptr;
  void* Context = nullptr;
};

inline constexpr std::size_t SlotCount = 64;
inline std::array<Slot, SlotCount> Slots;
inline std::mutex SlotsLock;

template <std::size_t I>
double UnaryTrampoline(double x) {
  return Slots[I].Unary(Slots[I].Context, x);
}
template <std::size_t I>
double ListTrampoline(std::span<const double> x) {
  return Slots[I].List(Slots[I].Context, x);
}

template <std::size_t... I>
void DefineInSlot(MathUtils::ParserBase& parser, std::string_view name, std::size_t slot, bool optimizable,
                  std::index_sequence<I...>) {
  ((I == slot ? (Slots[I].Unary ? parser.AddFunction(name, &UnaryTrampoline<I>, optimizable)
                                : parser.AddFunction(name, &ListTrampoline<I>, optimizable))
              : void()),
   ...);
}

inline std::size_t TakeSlot(Slot wanted) {
  std::lock_guard lock(SlotsLock);
  for (std::size_t i = 0; i < SlotCount; ++i)
    if (!Slots[i].Context) {
      Slots[i] = wanted;
      return i;
    }
  throw std::runtime_error("too many Python functions alive");
}

inline void ReleaseSlots(void* context) {
  std::lock_guard lock(SlotsLock);
  for (Slot& slot : Slots)
    if (slot.Context == context) slot = {};
}

template <typename Callback>
void AddFunction(MathUtils::ParserBase& parser, std::string_view name, Callback callback, void* context,
                 bool optimizable) {
  Slot wanted;
  if constexpr (std::is_same_v<Callback, UnaryContextCallback>)
    wanted.Unary = callback;
  else
    wanted.List = callback;
  wanted.Context = context;
  DefineInSlot(parser, name, TakeSlot(wanted), optimizable, std::make_index_sequence<SlotCount>());
}

}  // namespace PythonModule::Pending
