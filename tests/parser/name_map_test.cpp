// The registries' dictionary where the parser does not reach it: the
// parser reserves room only in empty registries.
#include "parser/core/name_map.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using MathUtils::detail::NameMap;

std::string NameOf(int i) { return "n" + std::to_string(i); }

TEST(NameMap, ReservingRoomKeepsTheEntries) {
  NameMap<int> map;
  map.Reserve(20);
  map.Set("a", 1);
  map.Reserve(100);  // changes nothing once a name is in
  ASSERT_NE(map.Find("a"), nullptr);
  EXPECT_EQ(*map.Find("a"), 1);
  for (int i = 0; i < 100; ++i) map.Set(NameOf(i), i);
  EXPECT_EQ(map.Size(), 101u);
  EXPECT_EQ(*map.Find("a"), 1);
  EXPECT_EQ(*map.Find("n99"), 99);
}

}  // namespace
