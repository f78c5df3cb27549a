// What the process holds of the resources that a module can leak at every
// load: kernel handles and thread-local storage slots.
#pragma once

struct ResourceCount {
  long KernelHandles = 0;
  long TlsSlots = 0;
};

// Kernel handles: as GetProcessHandleCount gives them, or where it gives
// nothing (Wine), the handle values that name an open handle. TLS slots:
// those in use, told from how many more TlsAlloc can give.
ResourceCount CountResources();
