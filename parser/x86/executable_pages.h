// Whole pages of memory for generated code, never writable and executable
// at once: written while read+write, then made read+execute.
#pragma once

#include <cstddef>
#include <cstdint>

namespace MathUtils::detail {

// Pages of at least the given bytes, read+write; null where none are had.
std::uint8_t* AllocateWritable(std::size_t bytes);
// Makes the pages read+execute; false where the system refuses.
bool MakeExecutable(std::uint8_t* pages, std::size_t bytes);
void ReleasePages(std::uint8_t* pages, std::size_t bytes);
// The system's page size.
std::size_t PageBytes();
// Bytes rounded up to whole pages.
inline std::size_t WholePages(std::size_t bytes) {
  const std::size_t page = PageBytes();
  return (bytes + page - 1) / page * page;
}

}  // namespace MathUtils::detail
