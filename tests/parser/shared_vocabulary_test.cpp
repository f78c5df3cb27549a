// New parsers read the default vocabulary where it was built, until they
// define a name of their own: what one parser defines must never reach
// another.
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "tests/parser/parser_test_support.h"

namespace ParserTests {
namespace {

double Triple(double v) { return 3 * v; }
double Zero(double) { return 0; }

std::size_t FunctionCount(Probe& parser) {
  std::size_t count = 0;
  parser.ForEachName([&](MathUtils::ParserBase::NameKind kind, std::string_view) {
    count += kind == MathUtils::ParserBase::NameKind::Function;
  });
  return count;
}

TEST(SharedVocabularyTest, DefinitionsStayWithTheirParser) {
  Probe fresh;
  const std::size_t defaults = FunctionCount(fresh);

  Probe changed;
  changed.AddFunction("triple", Triple);
  changed.AddFunction("sin", Zero);  // replaces a default
  changed.AddConstant("_pi", 3);
  changed.AddPostfixOperator("thr", Triple);
  EXPECT_EQ(FunctionCount(changed), defaults + 1);
  EXPECT_EQ(Eval(changed, "triple(2) + sin(30) + _pi + 1thr"), 6 + 0 + 3 + 3);

  // Parsers made before and after still see the defaults alone.
  Probe later;
  for (Probe* other : {&fresh, &later}) {
    EXPECT_EQ(FunctionCount(*other), defaults);
    EXPECT_EQ(Eval(*other, "sin(30)"), std::sin(Opaque(30) * 0.017453292519943295));
    EXPECT_EQ(Eval(*other, "_pi"), 3.141592653589793);
    EXPECT_EQ(CompileError(*other, "triple(2)").rfind(MathUtils::Messages::UnknownToken, 0), 0u);
  }
}

// Parsers made and used on several threads at once: the shared tables are
// only read.
TEST(SharedVocabularyTest, ParsersOnSeveralThreads) {
  std::vector<double> results(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &results] {
      double total = 0;
      for (int i = 0; i < 200; ++i) {
        MathUtils::Parser parser;
        if (i % 2) parser.AddConstant("k", t);
        parser.AssignFormula(i % 2 ? "k + sum(1,2,3)" : "sum(1,2,3)");
        total += parser.Evaluate();
      }
      results[static_cast<std::size_t>(t)] = total;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(results[static_cast<std::size_t>(t)], 200 * 6 + 100 * t) << t;
}

}  // namespace
}  // namespace ParserTests
