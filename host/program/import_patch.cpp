#include "host/program/import_patch.h"

#include <cstring>

namespace {

template <typename T>
T* AtOffset(HMODULE module, DWORD offset) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

const IMAGE_IMPORT_DESCRIPTOR* FindImportedDll(HMODULE module, const char* dll) {
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  auto* nt = AtOffset<const IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* entry = AtOffset<const IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); entry->Name;
       ++entry) {
    if (_stricmp(AtOffset<const char>(module, entry->Name), dll) == 0) return entry;
  }
  return nullptr;
}

void WriteAddress(ULONG_PTR* slot, void* address) {
  DWORD protection = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  *slot = reinterpret_cast<ULONG_PTR>(address);
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

}  // namespace

void* ReplaceImportedFunction(HMODULE module, const char* dll, const char* function, void* replacement) {
  const IMAGE_IMPORT_DESCRIPTOR* entry = FindImportedDll(module, dll);
  if (!entry || !entry->OriginalFirstThunk) return nullptr;
  auto* names = AtOffset<IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
  auto* addresses = AtOffset<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
  for (; names->u1.AddressOfData; ++names, ++addresses) {
    if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
    auto* byName = AtOffset<const IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
    if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
    void* previous = reinterpret_cast<void*>(addresses->u1.Function);
    WriteAddress(&addresses->u1.Function, replacement);
    return previous;
  }
  return nullptr;
}
