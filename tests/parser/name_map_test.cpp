// The registries' dictionary, where the parser alone does not reach: room
// reserved once entries are in, and a map emptied and filled again, as the
// compiler does with the variables a formula uses.
#include "parser/detail/name_map.h"

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

TEST(NameMap, ClearedMapFindsNothingAndFillsAgain) {
  NameMap<int> map;
  for (int i = 0; i < 50; ++i) map.Set(NameOf(i), i);
  map.Clear();
  EXPECT_TRUE(map.Empty());
  for (int i = 0; i < 50; ++i) EXPECT_EQ(map.Find(NameOf(i)), nullptr) << i;
  int visited = 0;
  map.ForEach([&](std::string_view, int) { ++visited; });
  EXPECT_EQ(visited, 0);
  for (int i = 0; i < 50; i += 2) map.Set(NameOf(i), -i);
  EXPECT_EQ(map.Size(), 25u);
  for (int i = 0; i < 50; ++i) {
    const int* value = map.Find(NameOf(i));
    if (i % 2 == 0) {
      ASSERT_NE(value, nullptr) << i;
      EXPECT_EQ(*value, -i);
    } else {
      EXPECT_EQ(value, nullptr) << i;
    }
  }
}

}  // namespace
