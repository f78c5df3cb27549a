#include "host/program/host_output.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <utility>

namespace {
HeldOutput* Holder = nullptr;
}  // namespace

// Lines end in "\n" alone, as on the machine that reads them.
void PrepareHostOutput() { _setmode(_fileno(stdout), _O_BINARY); }

void PrintLine(std::string_view line) {
  if (Holder) return Holder->Keep(line);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) return {};
  int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

HeldOutput::HeldOutput() : Outer(std::exchange(Holder, this)) {}

HeldOutput::~HeldOutput() { Holder = Outer; }

void HeldOutput::Keep(std::string_view line) { Lines.emplace_back(line); }

std::vector<std::string> HeldOutput::Take() { return std::exchange(Lines, {}); }
