// The draws of the calculator's rnd(x): r * x / 32768 with r a whole number
// from 0 to 32767. By default r comes from the C library's rand(), as the
// plug-in has always drawn, and differs between runs and C libraries; a
// seed makes the draws reproducible, the same on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

#include "parser/parser.h"

// A seeded generator of draws: the same seed gives the same draws.
class RandomDraws {
 public:
  explicit RandomDraws(std::uint32_t seed) : Seed(seed), Engine(seed) {}
  // Starts the draws again from the seed.
  void Restart() { Engine.seed(Seed); }
  double Draw(double x);

 private:
  std::uint32_t Seed;
  std::mt19937 Engine;  // its output is the same on every platform
};

// From now on, rnd in every parser without draws of its own (DrawRandomFrom)
// draws from one generator started at seed instead of rand(): for a
// program that evaluates command lines one after the other, such as the
// terminal calculator with a seed given; none goes back to rand().
// Process-wide, like rand().
void SeedRandomDraws(std::optional<std::uint32_t> seed);

// rnd(x) on the parser, from rand() or the process's seeded generator.
double DrawRandom(double x);

// Makes rnd on the parser draw from draws, which must outlive every
// evaluation of the parser; one evaluation at a time may draw from them.
void DrawRandomFrom(MathUtils::Parser& parser, RandomDraws& draws);
