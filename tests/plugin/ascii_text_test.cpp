// The command line's UTF-16 text read as the calculator's ASCII, the same
// whatever the system's ANSI code page. (Where that page is UTF-8, Windows'
// WideCharToMultiByte refuses the flags a code-page conversion would need;
// Wine takes them, so only the reading itself can be checked here.)
#include "plugin/ascii_text.h"

#include <gtest/gtest.h>

namespace {

TEST(AsciiText, KeepsEveryUnitUpTo127AndRefusesTheRest) {
  const struct {
    std::wstring_view Text;
    std::optional<std::string> Expected;
  } cases[] = {
      {L"2*sin(30)+5MM", "2*sin(30)+5MM"},            // case is the calculator's to change
      {L"", ""},                                      // an empty line is read, and no formula
      {std::wstring_view(L"\t~\x7F", 3), "\t~\x7F"},  // a control unit, the last units of ASCII
      {L"5mm\x80", std::nullopt},                     // the first unit above ASCII
      {L"5mm\xE9", std::nullopt},                     // Latin-1's e acute, in every Western page
      {L"5mm\x4E2D", std::nullopt},                   // CJK: "?" where the page lacks it
      {L"\xFF10+1", std::nullopt},                    // a full-width digit that a best fit reads as 0
      {L"1\xD834\xDD1E", std::nullopt},               // a surrogate pair
  };
  for (const auto& c : cases) EXPECT_EQ(AsciiText(c.Text), c.Expected) << c.Expected.value_or("(none)");
}

}  // namespace
