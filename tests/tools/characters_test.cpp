// Characters outside ASCII, typed at the prompt, pasted, given as arguments
// or piped, in the C, C.UTF-8 and German UTF-8 locales: the line is kept
// whole, refused, and the message points at the character, shown whole.
// None of them may come to a number.
#include <gtest/gtest.h>
#include <locale.h>

#include <clocale>

#include "tests/tools/child_process.h"

namespace {

constexpr char Prompt[] = "Command: ";

class InEachLocale : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const locale_t locale = newlocale(LC_ALL_MASK, GetParam(), nullptr);
    if (!locale) GTEST_SKIP() << GetParam() << " is not installed (scripts/install-deps generates it)";
    freelocale(locale);
  }
};

struct Typed {
  std::string Keys;     // without the Return
  std::string Message;  // after the bell
};

// UTF-8 as a terminal sends it, and Latin-1 bytes as an older one does: a
// byte that begins no UTF-8 sequence is the Latin-1 character, shown as
// UTF-8, and never swallows the keys after it.
const Typed TypedLines[] = {
    {"2\u00D73", "Unknown token found: 2\u00D7 <- here"},               // 2×3
    {"5\u00B5m", "Unknown token found: 5\u00B5 <- here"},               // 5µm
    {"10mm + 3\u00B2", "Unknown token found: 10mm + 3\u00B2 <- here"},  // 3²
    {"2*\u03C0", "Unknown token found: 2*\u03C0 <- here"},              // 2*π
    {"12 \u00F7 4", "Unknown token found: 12 \u00F7 <- here"},          // 12 ÷ 4
    {"2\xD7"
     "3",
     "Unknown token found: 2\u00D7 <- here"},                                 // Latin-1 ×
    {"12 \xF7 4", "Unknown token found: 12 \u00F7 <- here"},                  // Latin-1 ÷
    {"1\xF0\x9D\x9C\x8B", "Unknown token found: 1\xF0\x9D\x9C\x8B <- here"},  // four bytes
};

TEST_P(InEachLocale, ThePromptKeepsEveryCharacterAndRefusesTheLine) {
  TerminalSession session({}, "", GetParam());
  session.ReadUntil(Prompt);
  for (const Typed& line : TypedLines) {
    session.Type(line.Keys + "\r");
    const std::string shown = session.ReadUntil(Prompt);
    EXPECT_TRUE(shown.ends_with("\r\n\a" + line.Message + "\r\n" + Prompt))
        << testing::PrintToString(line.Keys) << " showed " << testing::PrintToString(shown);
    session.Type("1+1\r");  // the next line stands on its own
    EXPECT_EQ(session.ReadUntil(Prompt), "1+1\r\n2\r\n" + std::string(Prompt)) << line.Keys;
  }
  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

TEST_P(InEachLocale, ArgumentsAndPipesPointAtTheWholeCharacter) {
  for (const Typed& line : TypedLines) {
    if ((line.Keys.find('\xD7') != std::string::npos) || line.Keys.find('\xF7') != std::string::npos)
      continue;
    const Finished argument = RunVorncalc({line.Keys}, "", GetParam());
    EXPECT_EQ(argument.Out, line.Keys + "\n");
    EXPECT_EQ(argument.Err, line.Message + "\n");
    EXPECT_EQ(argument.ExitStatus, 1) << line.Keys;
    const Finished piped = RunVorncalc({}, line.Keys + "\n1+1\n", GetParam());
    EXPECT_EQ(piped.Out, line.Keys + "\n2\n");
    EXPECT_EQ(piped.Err, "line 1: " + line.Message + "\n");
    EXPECT_EQ(piped.ExitStatus, 1) << line.Keys;
  }
  // A Latin-1 byte is refused as the byte it is: it stands for itself.
  const Finished latin1 = RunVorncalc({},
                                      "2\xD7"
                                      "3\n",
                                      GetParam());
  EXPECT_EQ(latin1.Out,
            "2\xD7"
            "3\n");
  EXPECT_EQ(latin1.Err, "line 1: Unknown token found: 2\xD7 <- here\n");
  EXPECT_EQ(latin1.ExitStatus, 1);
}

INSTANTIATE_TEST_SUITE_P(Locales, InEachLocale, testing::Values("C", "C.UTF-8", "de_DE.UTF-8"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '.' || c == '-') c = '_';
                           return name;
                         });

}  // namespace
