#include "parser/x86/array_code.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <memory>

#include "parser/lowering/lowering.h"
#include "parser/program/program.h"

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

// Whether lanes may run the program: no callback of the user's, whose
// calls must keep their order, and every list function inline.
bool RunsInLanes(const Program& program) {
  return std::none_of(program.Instructions.begin(), program.Instructions.end(),
                      [&program](const Instruction& instruction) {
                        const Lowered lowered = Lower(instruction, program.Deterministic);
                        return lowered.Is == Step::CallList || lowered.CallsUser;
                      });
}

// The widest lanes of this processor that are at most maxLanes.
int LanesUpTo(int maxLanes) {
  const auto most = std::bit_floor(static_cast<unsigned>(std::max(maxLanes, 1)));
  return std::min(MachineCode::WidestLanes(), static_cast<int>(most));
}

std::unique_ptr<ArrayCode> ArrayCode::Generate(const Program& program, int maxLanes) {
  std::unique_ptr<ArrayCode> code(new ArrayCode);
  if (!code->Emit(program, RunsInLanes(program) ? LanesUpTo(maxLanes) : 1, &code->Shape)) return nullptr;
  return code;
}

}  // namespace MathUtils::detail
