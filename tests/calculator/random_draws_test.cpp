#include "calculator/random_draws.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"

namespace {

// rnd(32768) is the drawn whole number itself.
std::vector<double> Draws(RandomDraws& draws, int count) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) values.push_back(draws.Draw(32768));
  return values;
}

// The high 15 bits of the standard's Mersenne twister, whose outputs the
// C++ standard fixes: the same draws on every platform.
TEST(RandomDraws, AreTheHighBitsOfTheStandardMersenneTwister) {
  RandomDraws draws(5489);
  EXPECT_EQ(Draws(draws, 3), (std::vector<double>{26696, 4439, 29680}));
  RandomDraws scaled(5489);
  EXPECT_EQ(scaled.Draw(1), 26696 / 32768.0);  // r * x / 32768
}

TEST(RandomDraws, RestartGivesTheSameDrawsAgain) {
  RandomDraws draws(42);
  const std::vector<double> first = Draws(draws, 100);
  draws.Restart();
  EXPECT_EQ(Draws(draws, 100), first);
  RandomDraws other(43);
  EXPECT_NE(Draws(other, 100), first);
}

TEST(RandomDraws, RndOfAParserDrawsFromTheDrawsItWasGiven) {
  MathUtils::Parser parser;
  RandomDraws draws(7);
  PrepareCommandLine(parser, "rnd(32768) + 0", 2);
  DrawRandomFrom(parser, draws);
  std::vector<double> values;
  for (int i = 0; i < 5; ++i) values.push_back(parser.Evaluate());  // never folded
  RandomDraws same(7);
  EXPECT_EQ(values, Draws(same, 5));
}

TEST(RandomDraws, ASeededProcessDrawsTheSameInEveryRun) {
  SeedRandomDraws(11);
  const double first = CommandLineValue("rnd(32768)", 2);
  const double second = CommandLineValue("rnd(32768)", 2);
  SeedRandomDraws(11);
  EXPECT_EQ(CommandLineValue("rnd(32768)", 2), first);
  SeedRandomDraws(std::nullopt);  // back to rand()
  RandomDraws same(11);
  EXPECT_EQ(Draws(same, 2), (std::vector<double>{first, second}));
}

}  // namespace
