// Replaces every form of the global operator new and delete with malloc and
// free plus counters. Each block starts with a header that records the size
// requested, so that a release knows how many bytes it gives back.
#include "bench/allocation_counter.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

// Per thread and not atomic: the benchmark runs on one thread, and a locked
// increment would add its own cost to every allocation timed on the Enter path.
thread_local std::size_t Allocations = 0;
thread_local std::int64_t Live = 0;

// Large enough for the size and keeps malloc's alignment for what follows.
constexpr std::size_t PlainHeader = alignof(std::max_align_t);

std::size_t HeaderFor(std::align_val_t alignment) {
  return std::max(PlainHeader, static_cast<std::size_t>(alignment));
}

void* Allocate(std::size_t size, std::size_t header) {
  void* block = header == PlainHeader ? std::malloc(size + header)
                                      // aligned_alloc wants a size that is a multiple of the alignment.
                                      : std::aligned_alloc(header, (size + 2 * header - 1) / header * header);
  if (!block) return nullptr;
  ++Allocations;
  Live += static_cast<std::int64_t>(size);
  *static_cast<std::size_t*>(block) = size;
  return static_cast<char*>(block) + header;
}

void Release(void* memory, std::size_t header) {
  if (!memory) return;
  void* block = static_cast<char*>(memory) - header;
  Live -= static_cast<std::int64_t>(*static_cast<std::size_t*>(block));
  std::free(block);
}

void* OrThrow(void* memory) {
  if (!memory) throw std::bad_alloc();
  return memory;
}

}  // namespace

namespace Bench {

std::size_t AllocationCount() { return Allocations; }
std::int64_t LiveBytes() { return Live; }

}  // namespace Bench

void* operator new(std::size_t size) { return OrThrow(Allocate(size, PlainHeader)); }
void* operator new[](std::size_t size) { return OrThrow(Allocate(size, PlainHeader)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, PlainHeader); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, PlainHeader); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return OrThrow(Allocate(size, HeaderFor(alignment)));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return OrThrow(Allocate(size, HeaderFor(alignment)));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Allocate(size, HeaderFor(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Allocate(size, HeaderFor(alignment));
}

void operator delete(void* memory) noexcept { Release(memory, PlainHeader); }
void operator delete[](void* memory) noexcept { Release(memory, PlainHeader); }
void operator delete(void* memory, std::size_t) noexcept { Release(memory, PlainHeader); }
void operator delete[](void* memory, std::size_t) noexcept { Release(memory, PlainHeader); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { Release(memory, PlainHeader); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { Release(memory, PlainHeader); }
void operator delete(void* memory, std::align_val_t alignment) noexcept {
  Release(memory, HeaderFor(alignment));
}
void operator delete[](void* memory, std::align_val_t alignment) noexcept {
  Release(memory, HeaderFor(alignment));
}
void operator delete(void* memory, std::size_t, std::align_val_t alignment) noexcept {
  Release(memory, HeaderFor(alignment));
}
void operator delete[](void* memory, std::size_t, std::align_val_t alignment) noexcept {
  Release(memory, HeaderFor(alignment));
}
void operator delete(void* memory, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  Release(memory, HeaderFor(alignment));
}
void operator delete[](void* memory, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  Release(memory, HeaderFor(alignment));
}
