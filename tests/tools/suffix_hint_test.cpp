// The second line after a message that seems to blame a unit suffix.
#include "tools/suffix_hint.h"

#include <gtest/gtest.h>

#include "calculator/command_line_verdict.h"

namespace {

constexpr char Written[] = "A unit suffix ends at a blank, a comma or a bracket: write ";

TEST(SuffixHint, SaysWhereTheBlankGoesAfterASuffixThatRanIntoAnOperator) {
  const std::pair<const char*, const char*> cases[] = {
      {"5in*2", "5in *2"},         {"1.5in+1.5in", "1.5in +1.5in"}, {"5MM-1", "5MM -1"},  // as typed
      {"2mm?+1", "2mm? +1"},       {"(2)ft/3", "(2)ft /3"},         {"3mi^2", "3mi ^2"},
      {"1 + 2cm<5", "1 + 2cm <5"},
  };
  for (const auto& [line, fixed] : cases) {
    const std::string reason = JudgeCommandLine(line, 2).Reason;
    EXPECT_EQ(SuffixHint(line, reason), Written + std::string(fixed)) << line << ": " << reason;
  }
}

TEST(SuffixHint, StaysSilentWhereTheFaultIsElsewhere) {
  for (const char* line : {"2*pin*3", "Circle", "5mm", "sin(30", "5xy*2", "2\u00D73", "5in 2"}) {
    const std::string reason = JudgeCommandLine(line, 2).Reason;
    EXPECT_EQ(SuffixHint(line, reason), "") << line << ": " << reason;
  }
}

}  // namespace
