#include "host/program/plugin_observers.h"

#include <cstdio>
#include <string>

#include "host/program/host_output.h"
#include "host/program/import_patch.h"

namespace {

using MessageBeepFunction = BOOL(WINAPI*)(UINT);

MessageBeepFunction SystemMessageBeep = nullptr;

std::string BeepReport(UINT type) {
  if (type == MB_ICONEXCLAMATION) return "beep";
  char text[32];
  std::snprintf(text, sizeof text, "beep 0x%X", type);
  return text;
}

BOOL WINAPI ReportedMessageBeep(UINT type) {
  PrintLine(BeepReport(type));
  return SystemMessageBeep(type);
}

}  // namespace

bool ObservePlugInBeeps(HMODULE plugIn) {
  void* previous = ReplaceImportedFunction(plugIn, "user32.dll", "MessageBeep",
                                           reinterpret_cast<void*>(&ReportedMessageBeep));
  // A module kept loaded since an earlier load already calls the observer.
  if (previous != reinterpret_cast<void*>(&ReportedMessageBeep))
    SystemMessageBeep = reinterpret_cast<MessageBeepFunction>(previous);
  return previous != nullptr;
}
