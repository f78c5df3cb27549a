#include "host/program/clipboard.h"

#include <cstring>

std::wstring Unescaped(std::wstring_view text) {
  std::wstring plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    wchar_t named = next == L't'    ? L'\t'
                    : next == L'n'  ? L'\n'
                    : next == L'r'  ? L'\r'
                    : next == L'\\' ? L'\\'
                                    : 0;
    if (text[i] == L'\\' && named) {
      plain.push_back(named);
      ++i;
    } else {
      plain.push_back(text[i]);
    }
  }
  return plain;
}

bool PutOnClipboard(HWND owner, std::wstring_view text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!memory) return false;
  auto* units = static_cast<wchar_t*>(GlobalLock(memory));
  std::memcpy(units, text.data(), text.size() * sizeof(wchar_t));
  units[text.size()] = L'\0';
  GlobalUnlock(memory);
  if (!OpenClipboard(owner)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  // Once set, the clipboard owns the memory.
  bool put = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  if (!put) GlobalFree(memory);
  return put;
}
