#include "parser/x86/array_code.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace MathUtils::detail {

namespace {

// Measured on a Zen 4 machine (1 MB of second-level cache per core):
// storing through the caches wins up to about 2 MB of results, streaming
// from 4 MB on, where the arrays and the results together no longer stay
// in the core's share of the shared cache. Four second-level caches of
// results is that point. The shared cache's size is no guide: virtual
// machines report the whole socket's.
std::size_t CacheBytes(int level) {
#ifdef _SC_LEVEL2_CACHE_SIZE
  const long bytes = sysconf(level == 2 ? _SC_LEVEL2_CACHE_SIZE : _SC_LEVEL3_CACHE_SIZE);
  if (bytes > 0) return static_cast<std::size_t>(bytes);
#else
  (void)level;
#endif
  return 0;
}

std::size_t StreamingPointsOfThisMachine() {
  constexpr std::size_t Unknown = std::size_t{4} << 20;  // 4 MB of results
  const std::size_t secondLevel = CacheBytes(2), lastLevel = CacheBytes(3);
  std::size_t bytes = secondLevel > 0 ? 4 * secondLevel : Unknown;
  if (lastLevel > 0) bytes = std::min(bytes, lastLevel);
  return bytes / sizeof(double);
}

std::atomic<std::size_t> StreamingPointCount{StreamingPointsOfThisMachine()};
std::atomic<std::size_t> StreamedPointCount{0};

}  // namespace

std::size_t StreamingPoints() { return StreamingPointCount.load(std::memory_order_relaxed); }
void SetStreamingPoints(std::size_t points) { StreamingPointCount.store(points, std::memory_order_relaxed); }
std::size_t StreamedPoints() { return StreamedPointCount.load(std::memory_order_relaxed); }
void CountStreamedPoints(std::size_t points) {
  StreamedPointCount.fetch_add(points, std::memory_order_relaxed);
}

std::unique_ptr<ArrayCode> ArrayCode::Generate(const Program& program, int maxLanes) {
  std::unique_ptr<MachineCode> loop = MachineCode::GenerateLoop(program, maxLanes);
  if (!loop) return nullptr;
  return std::unique_ptr<ArrayCode>(new ArrayCode(std::move(loop)));
}

}  // namespace MathUtils::detail
