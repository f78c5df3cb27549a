// The host can make the system answer the plug-in's calls as another
// Windows configuration would, one that Wine does not offer itself.
#pragma once

#include <windows.h>

// Windows' ANSI code page set to UTF-8 (65001, an option of current
// Windows): the plug-in's conversions through the ANSI code page become
// UTF-8 conversions, which refuse every flag but WC_ERR_INVALID_CHARS and
// any default character, as Windows' own do (Wine takes them). False when
// the plug-in imports no WideCharToMultiByte.
bool EmulateUtf8AnsiCodePage(HMODULE plugIn);
