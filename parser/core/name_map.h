// The registries' dictionary. Installed because ParserBase holds its
// registries by value; nothing here is meant to be called by a user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace MathUtils::detail {

// A dictionary with exact string keys, cheap to fill: open addressing over
// one array of plain slots, with the names kept side by side in one string.
//
// A map may share the entries of another that never changes and outlives
// it (a default vocabulary built once): it reads them there, without a copy,
// until its first change copies them.
template <typename T>
class NameMap {
 public:
  // Copies only: a moved-from map would keep its mask without its slots.
  NameMap() = default;
  NameMap(const NameMap&) = default;
  NameMap& operator=(const NameMap&) = default;

  // Makes room for entries names without growing; only on an empty map.
  void Reserve(std::size_t entries) {
    if (!Empty()) return;
    AssignSlots(RoundUpToPowerOfTwo(entries * 4 / 3 + 1));
    Names.reserve(8 * entries);
  }

  // The hash that Find and Set take, so that one name can be looked up in
  // several maps while hashed once.
  static std::uint32_t Hash(std::string_view name) {
    std::uint32_t hash = HashStart;
    for (char c : name) hash = HashStep(hash, c);
    return hash;
  }
  // FNV-1a, one character at a time, for a reader that hashes a name while
  // it finds where the name ends.
  static constexpr std::uint32_t HashStart = 2166136261u;
  static std::uint32_t HashStep(std::uint32_t hash, char c) {
    return (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }

  const T* Find(std::string_view name) const { return Find(name, Hash(name)); }
  const T* Find(std::string_view name, std::uint32_t hash) const {
    const NameMap& map = Entries();
    if (map.Slots.empty()) return nullptr;
    for (std::size_t i = hash & map.Mask();; i = (i + 1) & map.Mask()) {
      const Slot& slot = map.Slots[i];
      if (!slot.Used) return nullptr;
      if (slot.Hash == hash && map.Holds(slot, name)) return &slot.Value;
    }
  }

  // Inserts the name or replaces its value.
  void Set(std::string_view name, const T& value) { Set(name, Hash(name), value); }
  void Set(std::string_view name, std::uint32_t hash, const T& value) {
    if (Shared) CopyShared();
    if ((Count + 1) * 4 > (Mask() + 1) * 3) Grow();  // also when there are no slots yet
    for (std::size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      Slot& slot = Slots[i];
      if (!slot.Used) {
        slot = Slot{hash, static_cast<std::uint32_t>(Names.size()), static_cast<std::uint32_t>(name.size()),
                    true, value};
        Names.append(name);
        ++Count;
        return;
      }
      if (slot.Hash == hash && Holds(slot, name)) {
        slot.Value = value;
        return;
      }
    }
  }

  // Sets every entry of the other map here; a copy when this one is empty.
  void Merge(const NameMap& other) {
    if (Empty()) {
      CopyFrom(other.Entries());
      return;
    }
    other.ForEach([this](std::string_view name, const T& value) { Set(name, value); });
  }

  // Reads the entries of a map that never changes and outlives this one,
  // when this one is empty; else sets them here, as Merge.
  void Share(const NameMap& unchanging) {
    if (!Empty()) {
      Merge(unchanging);
      return;
    }
    Shared = &unchanging.Entries();
  }

  // Calls visit(name, value) for every entry, in no particular order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    const NameMap& map = Entries();
    for (const Slot& slot : map.Slots)
      if (slot.Used) visit(map.NameOf(slot), slot.Value);
  }

  void Clear() {
    Shared = nullptr;
    for (Slot& slot : Slots) slot.Used = false;
    Names.clear();
    Count = 0;
  }
  bool Empty() const { return Entries().Count == 0; }
  std::size_t Size() const { return Entries().Count; }

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
  const NameMap& Entries() const { return Shared ? *Shared : *this; }

  void CopyFrom(const NameMap& source) {
    Shared = nullptr;
    Slots = source.Slots;
    SlotMask = source.SlotMask;
    Names.reserve(source.Names.capacity());  // keep the room reserved for more names
    Names.assign(source.Names);
    Count = source.Count;
  }
  void CopyShared() { CopyFrom(*Shared); }

  // Names are short: a loop here is quicker than a call of memcmp.
  bool Holds(const Slot& slot, std::string_view name) const {
    if (slot.Length != name.size()) return false;
    const char* stored = Names.data() + slot.Offset;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (stored[i] != name[i]) return false;
    return true;
  }

  std::size_t Mask() const { return SlotMask; }
  void AssignSlots(std::size_t count) {
    Slots.assign(count, Slot{});
    SlotMask = count - 1;
  }
  std::string_view NameOf(const Slot& slot) const {
    return std::string_view(Names).substr(slot.Offset, slot.Length);
  }

  void Grow() {
    std::vector<Slot> old = std::move(Slots);
    AssignSlots(old.empty() ? 8 : old.size() * 2);
    for (const Slot& slot : old) {
      if (!slot.Used) continue;
      std::size_t i = slot.Hash & Mask();
      while (Slots[i].Used) i = (i + 1) & Mask();
      Slots[i] = slot;
    }
  }

  std::vector<Slot> Slots;
  std::size_t SlotMask = 0;  // Slots.size() - 1, kept rather than divided out of the vector's bounds
  std::string Names;
  std::size_t Count = 0;
  const NameMap* Shared = nullptr;
};

}  // namespace MathUtils::detail
