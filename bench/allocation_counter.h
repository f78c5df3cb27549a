// Counts heap allocations made through the global operator new, which this
// benchmark binary replaces, and the bytes they hold until released. The
// counts are the calling thread's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Bench {

std::size_t AllocationCount();
// Bytes requested from operator new and not yet given back, by this thread;
// can go below zero when the thread frees what another one allocated.
std::int64_t LiveBytes();

// Allocations made by one call of work().
template <typename Work>
std::size_t AllocationsDuring(Work&& work) {
  const std::size_t before = AllocationCount();
  work();
  return AllocationCount() - before;
}

// Bytes that work() leaves allocated: what it holds on to when it returns.
template <typename Work>
std::int64_t BytesKeptBy(Work&& work) {
  const std::int64_t before = LiveBytes();
  work();
  return LiveBytes() - before;
}

}  // namespace Bench
