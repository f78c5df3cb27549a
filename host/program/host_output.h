// The host's report on standard output: one line per event, UTF-8.
#pragma once

#include <string>
#include <string_view>

void PrepareHostOutput();
void PrintLine(std::string_view line);
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
