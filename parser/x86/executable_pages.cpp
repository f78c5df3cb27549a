#include "parser/x86/executable_pages.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace MathUtils::detail {

#ifdef _WIN32
std::uint8_t* AllocateWritable(std::size_t bytes) {
  return static_cast<std::uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}
bool MakeExecutable(std::uint8_t* pages, std::size_t bytes) {
  DWORD previous;
  return VirtualProtect(pages, bytes, PAGE_EXECUTE_READ, &previous) &&
         FlushInstructionCache(GetCurrentProcess(), pages, bytes);
}
void ReleasePages(std::uint8_t* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }
std::size_t PageBytes() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}
#else
std::uint8_t* AllocateWritable(std::size_t bytes) {
  void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(pages);
}
bool MakeExecutable(std::uint8_t* pages, std::size_t bytes) {
  return mprotect(pages, bytes, PROT_READ | PROT_EXEC) == 0;
}
void ReleasePages(std::uint8_t* pages, std::size_t bytes) { munmap(pages, bytes); }
std::size_t PageBytes() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }
#endif

}  // namespace MathUtils::detail
