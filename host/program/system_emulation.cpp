#include "host/program/system_emulation.h"

#include "host/program/import_patch.h"

namespace {

using WideCharToMultiByteFunction = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);

WideCharToMultiByteFunction SystemWideCharToMultiByte = nullptr;

int WINAPI Utf8AnsiWideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideUnits, LPSTR narrow,
                                       int narrowBytes, LPCCH defaultChar, LPBOOL usedDefaultChar) {
  if (codePage == CP_ACP || codePage == CP_THREAD_ACP) codePage = CP_UTF8;
  if (codePage == CP_UTF8 && (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (codePage == CP_UTF8 && (defaultChar || usedDefaultChar)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return SystemWideCharToMultiByte(codePage, flags, wide, wideUnits, narrow, narrowBytes, defaultChar,
                                   usedDefaultChar);
}

}  // namespace

bool EmulateUtf8AnsiCodePage(HMODULE plugIn) {
  void* previous = ReplaceImportedFunction(plugIn, "kernel32.dll", "WideCharToMultiByte",
                                           reinterpret_cast<void*>(&Utf8AnsiWideCharToMultiByte));
  // A module kept loaded since an earlier load already calls the emulation.
  if (previous && previous != reinterpret_cast<void*>(&Utf8AnsiWideCharToMultiByte))
    SystemWideCharToMultiByte = reinterpret_cast<WideCharToMultiByteFunction>(previous);
  return previous != nullptr;
}
