#include "host/program/host_accelerators.h"

namespace {

constexpr WORD FileNewCommand = 0xE100, FileSaveCommand = 0xE103;

HWND AcceleratorFrame = nullptr;
HACCEL AcceleratorTable = nullptr;

}  // namespace

void UseHostAccelerators(HWND frame) {
  ACCEL accelerators[] = {{FVIRTKEY | FCONTROL, 'S', FileSaveCommand},
                          {FVIRTKEY | FCONTROL, 'N', FileNewCommand}};
  AcceleratorTable = CreateAcceleratorTableW(accelerators, sizeof accelerators / sizeof accelerators[0]);
  AcceleratorFrame = frame;
}

bool TranslateHostAccelerator(MSG& message) {
  return AcceleratorTable && TranslateAcceleratorW(AcceleratorFrame, AcceleratorTable, &message) != 0;
}
