#include "calculator/unit_systems.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

struct UnitSystemRow {
  std::string_view Typed;
  std::optional<int> Number;
};

TEST(UnitSystems, NamesInAnyCaseAndThirtyTwoBitNumbers) {
  const UnitSystemRow rows[] = {
      {"mm", 2},
      {"MM", 2},
      {"Cm", 3},
      {"m", 4},
      {"km", 5},
      {"uIn", 6},
      {"mil", 7},
      {"IN", 8},
      {"ft", 9},
      {"mi", 10},
      {"4", 4},
      {"-1", -1},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"", std::nullopt},
      {"mmm", std::nullopt},
      {"m ", std::nullopt},
      {"2x", std::nullopt},
      {"2147483648", std::nullopt},
      {"+4", std::nullopt},
      {"metres", std::nullopt},
  };
  for (const UnitSystemRow& row : rows) EXPECT_EQ(ParseUnitSystem(row.Typed), row.Number) << row.Typed;
}

TEST(UnitSystems, EveryKnownSystemReadsBackFromItsAbbreviation) {
  ASSERT_EQ(KnownUnitSystems().size(), 9u);
  for (const UnitSystemName& system : KnownUnitSystems()) {
    EXPECT_EQ(ParseUnitSystem(system.Abbreviation), system.Number);
    EXPECT_EQ(DescribeUnitSystem(system.Number), std::string(system.Description) + " (" +
                                                     system.Abbreviation + ", " +
                                                     std::to_string(system.Number) + ")");
  }
  EXPECT_EQ(DescribeUnitSystem(12), "12 (no length unit: unit operators leave values unchanged)");
}

}  // namespace
