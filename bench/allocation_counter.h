// Counts heap allocations made through the global operator new, which this
// benchmark binary replaces. The count is the calling thread's.
#pragma once

#include <cstddef>

namespace bench {

std::size_t AllocationCount();

// Allocations made by one call of work().
template <typename Work>
std::size_t AllocationsDuring(Work&& work) {
  const std::size_t before = AllocationCount();
  work();
  return AllocationCount() - before;
}

}  // namespace bench
