// The host's report on standard output: one line per event, UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

void PrepareHostOutput();
void PrintLine(std::string_view line);
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// While one exists, PrintLine keeps its lines here instead of printing them,
// so that a command repeated many times reports only what went wrong.
class HeldOutput {
 public:
  HeldOutput();
  ~HeldOutput();
  HeldOutput(const HeldOutput&) = delete;
  HeldOutput& operator=(const HeldOutput&) = delete;

  // The lines held since the last call.
  std::vector<std::string> Take();
  void Keep(std::string_view line);

 private:
  std::vector<std::string> Lines;
  HeldOutput* Outer;
};
