// Redirects a function that a loaded module imports, so the host can watch
// or complete what the module gets from the system.
#pragma once

#include <windows.h>

// Points `module`'s import of `dll`!`function` at `replacement`. Returns the
// address it imported before, or null when it does not import that function.
void* ReplaceImportedFunction(HMODULE module, const char* dll, const char* function, void* replacement);
