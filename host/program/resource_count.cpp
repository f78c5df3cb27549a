#include "host/program/resource_count.h"

#include <windows.h>

#include <vector>

namespace {

// Handle values are multiples of 4 and reused lowest first, so open handles
// lie close together; this many unused values in a row end the search.
constexpr ULONG_PTR HandleStep = 4;
constexpr int UnusedValuesPastTheLast = 4096;

long ProbeKernelHandles() {
  long count = 0;
  int unused = 0;
  for (ULONG_PTR value = HandleStep; unused < UnusedValuesPastTheLast; value += HandleStep) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
      unused = 0;
    } else {
      ++unused;
    }
  }
  return count;
}

long CountKernelHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<long>(count);
  return ProbeKernelHandles();
}

// Takes every free slot and gives them all back.
long FreeTlsSlots() {
  std::vector<DWORD> taken;
  for (DWORD slot = TlsAlloc(); slot != TLS_OUT_OF_INDEXES; slot = TlsAlloc()) taken.push_back(slot);
  for (DWORD slot : taken) TlsFree(slot);
  return static_cast<long>(taken.size());
}

}  // namespace

ResourceCount CountResources() {
  // The slots that exist at all: the basic ones and the expansion slots.
  constexpr long TlsSlotCount = TLS_MINIMUM_AVAILABLE + 1024;
  return {CountKernelHandles(), TlsSlotCount - FreeTlsSlots()};
}
