// Replaces every form of the global operator new and delete with malloc and
// free plus a counter. Only allocations are counted; a release costs nothing
// the benchmark is interested in.
#include "bench/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

// Per thread and not atomic: the benchmark runs on one thread, and a locked
// increment would add its own cost to every allocation timed on the Enter path.
thread_local std::size_t Allocations = 0;

void* CountedAllocate(std::size_t size) {
  ++Allocations;
  return std::malloc(size ? size : 1);
}

void* CountedAllocateAligned(std::size_t size, std::align_val_t alignment) {
  ++Allocations;
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  return std::aligned_alloc(align, rounded ? rounded : align);
}

void* OrThrow(void* memory) {
  if (!memory) throw std::bad_alloc();
  return memory;
}

}  // namespace

namespace bench {

std::size_t AllocationCount() { return Allocations; }

}  // namespace bench

void* operator new(std::size_t size) { return OrThrow(CountedAllocate(size)); }
void* operator new[](std::size_t size) { return OrThrow(CountedAllocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return OrThrow(CountedAllocateAligned(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return OrThrow(CountedAllocateAligned(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return CountedAllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return CountedAllocateAligned(size, alignment);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(memory);
}
