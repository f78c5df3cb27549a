// The clipboard as the host's script fills it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The text with its escapes "\t", "\n", "\r" and "\\" turned into the
// characters they name; other backslashes stay.
std::wstring Unescaped(std::wstring_view text);

// Puts the text on the clipboard as Unicode text, owned by the window.
bool PutOnClipboard(HWND owner, std::wstring_view text);
