// Bytecode layout and folding, checked cell by cell and by listing.
#include <bit>
#include <cstring>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Eval;
using ParserTests::ListingOf;

double Twice(double x) { return 2 * x; }
double Fresh(double x) { return x; }  // registered as not optimisable
double Spread(std::span<const double> values) { return values[0] - values[1]; }

struct BytecodeTest : ::testing::Test {
  BytecodeTest() {
    Subject.AddVariable("x", &X);
    Subject.AddFunction("twice", Twice);
    Subject.AddFunction("r", Fresh, false);
  }

  std::vector<Cell> CellsOf(const std::string& formula) {
    Eval(Subject, formula);
    const auto cells = Subject.GetBytecode();
    return {cells.begin(), cells.end()};
  }

  double X = 3;
  Parser Subject;
};

TEST_F(BytecodeTest, CellLayout) {
  const std::vector<Cell> folded = CellsOf("2*3+1");  // one value entry, then the end marker
  ASSERT_EQ(folded.size(), BytecodeCellsFor(5));
  EXPECT_EQ(ReadDouble(&folded[2]), 7);
  EXPECT_EQ(std::vector<Cell>(folded.begin(), folded.begin() + 7),
            (std::vector<Cell>{1, cdValue, folded[2], folded[3], 21, 21, 21}));
  if constexpr (std::endian::native == std::endian::little) {  // low-order half first
    const auto bits = std::bit_cast<std::uint64_t>(7.0);
    EXPECT_EQ(static_cast<std::uint32_t>(folded[2]), static_cast<std::uint32_t>(bits));
  }
  const std::vector<Cell> value = CellsOf("7");  // fills its buffer
  EXPECT_EQ(value, (std::vector<Cell>{1, cdValue, value[2], value[3], 21, 21, 21}));

  const std::vector<Cell> variable = CellsOf("x");
  ASSERT_EQ(variable.size(), BytecodeCellsFor(1));
  EXPECT_TRUE(variable[0] == 1 && variable[1] == cdVariable && ReadAddress(&variable[2]) == &X);
  EXPECT_EQ(variable[VariableEntryCells], cdEnd);

  const std::vector<Cell> call = CellsOf("r(x)");
  const Cell* entry = &call[VariableEntryCells];
  EXPECT_TRUE(entry[0] == 1 && entry[1] == cdFunction && entry[2] == 1);
  EXPECT_EQ(ReadAddress(&entry[3]), reinterpret_cast<void*>(&Fresh));
  EXPECT_EQ(entry[FunctionEntryCells], cdEnd);

  Subject.AddPostfixOperator("tw", Twice);
  const std::vector<Cell> postfix = CellsOf("(x)tw");
  entry = &postfix[VariableEntryCells];
  EXPECT_TRUE(entry[0] == 1 && entry[1] == cdPostfixOp && entry[CallEntryCells] == cdEnd);
  EXPECT_EQ(ReadAddress(&entry[2]), reinterpret_cast<void*>(&Twice));
}

// Callers read the cells themselves, so each entry's shape is pinned
// number by number: slot, code, then the payload, an address taking one
// cell per 32 bits of a pointer; the rest of the 5 x length + 2 cells is 0.
TEST_F(BytecodeTest, EachEntryShapeCellByCell) {
  using Cells = std::vector<Cell>;
  const auto address = [](const void* at) {
    Cells cells(sizeof at / sizeof(Cell));
    std::memcpy(cells.data(), &at, sizeof at);
    return cells;
  };
  const auto number = [](double value) {
    Cells cells(2);
    std::memcpy(cells.data(), &value, sizeof value);
    return cells;
  };
  const auto entry = [](std::initializer_list<Cell> head, const Cells& payload = {}) {
    Cells cells(head);
    cells.insert(cells.end(), payload.begin(), payload.end());
    return cells;
  };
  const Cells x = address(&X);
  const Cells twice = address(reinterpret_cast<const void*>(&Twice));
  const Cells list = address(reinterpret_cast<const void*>(&Spread));
  const Cells end{21, 21, 21};
  Subject.SetOptimizer(false);
  Subject.AddFunction("spread", Spread);
  Subject.AddPostfixOperator("tw", Twice);
  Subject.AddPrefixOperator("~", Twice);
  const std::pair<const char*, std::vector<Cells>> cases[] = {
      {"7", {entry({1, 17}, number(7)), end}},
      {"x", {entry({1, 16}, x), end}},
      {"x<2", {entry({1, 16}, x), entry({2, 17}, number(2)), entry({1, 4}), end}},
      {"twice(x)", {entry({1, 16}, x), entry({1, 18, 1}, twice), end}},
      {"spread(x,2)", {entry({1, 16}, x), entry({2, 17}, number(2)), entry({1, 18, -2}, list), end}},
      {"(x)tw", {entry({1, 16}, x), entry({1, 19}, twice), end}},
      {"~x", {entry({1, 16}, x), entry({1, 19}, twice), end}},
      {"1 or ~x", {entry({1, 17}, number(1)), entry({2, 16}, x), entry({2, 19}, twice), entry({1, 12}), end}},
  };
  for (const auto& [formula, entries] : cases) {
    Cells expected;
    for (const Cells& cells : entries) expected.insert(expected.end(), cells.begin(), cells.end());
    expected.resize(5 * std::strlen(formula) + 2, 0);
    EXPECT_EQ(CellsOf(formula), expected) << formula;
  }
}

TEST_F(BytecodeTest, ListingsWithFoldingOn) {
  const std::pair<const char*, const char*> cases[] = {
      {"2*3+x", "1 VALUE 6\n2 VAR x\n1 ADD\nEND"},
      {"1+x^2", "1 VALUE 1\n2 VAR x\n3 VALUE 2\n2 POW\n1 ADD\nEND"},
      {"1+2^3", "1 VALUE 9\nEND"},
      {"-(2+3)", "1 VALUE -5\nEND"},
      {"x*2*3", "1 VAR x\n2 VALUE 2\n1 MUL\n2 VALUE 3\n1 MUL\nEND"},
      {"x+2*3", "1 VAR x\n2 VALUE 6\n1 ADD\nEND"},
      {"2*3*x+4*5", "1 VALUE 6\n2 VAR x\n1 MUL\n2 VALUE 20\n1 ADD\nEND"},
      {"-x+1", "1 VAR x\n1 CALL -\n2 VALUE 1\n1 ADD\nEND"},
      {"x+2m", "1 VAR x\n2 VALUE 0.002\n1 ADD\nEND"},
      {"(x)m", "1 VAR x\n1 CALL m\nEND"},
      {"sin(30)", "1 VALUE 30\n1 FUNC 1 sin\nEND"},
      {"-sin(30)", "1 VALUE 30\n1 FUNC 1 sin\n1 CALL -\nEND"},
      {"cos(0)", "1 VALUE 1\nEND"},
      {"twice(twice(2))", "1 VALUE 8\nEND"},
      {"twice(x)*2", "1 VAR x\n1 FUNC 1 twice\n2 VALUE 2\n1 MUL\nEND"},
      {"r(2)*3", "1 VALUE 2\n1 FUNC 1 r\n2 VALUE 3\n1 MUL\nEND"},
      {"r(2)*(3*4)", "1 VALUE 2\n1 FUNC 1 r\n2 VALUE 12\n1 MUL\nEND"},
      {"twice(r(1))", "1 VALUE 1\n1 FUNC 1 r\n1 FUNC 1 twice\nEND"},
      {"sum(1,2,3)", "1 VALUE 6\nEND"},
      {"sum(1,2,3)+x", "1 VALUE 6\n2 VAR x\n1 ADD\nEND"},
      {"sum(1,x,3)", "1 VALUE 1\n2 VAR x\n3 VALUE 3\n1 FUNC -3 sum\nEND"},
      {"x+sum(x,2*3)", "1 VAR x\n2 VAR x\n3 VALUE 6\n2 FUNC -2 sum\n1 ADD\nEND"},
      {"max(1,sin(30))", "1 VALUE 1\n2 VALUE 30\n2 FUNC 1 sin\n1 FUNC -2 max\nEND"},
  };
  for (auto [formula, listing] : cases) EXPECT_EQ(ListingOf(Subject, formula), listing) << formula;
}

TEST_F(BytecodeTest, ListingsWithFoldingOff) {
  Subject.SetOptimizer(false);
  const std::pair<const char*, const char*> cases[] = {
      {"2*3+1", "1 VALUE 2\n2 VALUE 3\n1 MUL\n2 VALUE 1\n1 ADD\nEND"},
      {"-2", "1 VALUE 2\n1 CALL -\nEND"},
      {"sum(1,2,3)", "1 VALUE 1\n2 VALUE 2\n3 VALUE 3\n1 FUNC -3 sum\nEND"},
      {"2m", "1 VALUE 2\n1 CALL m\nEND"},
      {"twice(2)", "1 VALUE 2\n1 FUNC 1 twice\nEND"},
      {"7", "1 VALUE 7\nEND"}};
  for (auto [formula, listing] : cases) EXPECT_EQ(ListingOf(Subject, formula), listing) << formula;
}

TEST_F(BytecodeTest, EveryBinaryOperatorHasItsCode) {
  const std::pair<const char*, const char*> operators[] = {
      {"<=", "LE"}, {">=", "GE"}, {"!=", "NE"}, {"==", "EQ"}, {"<", "LT"},      {">", "GT"},   {"+", "ADD"},
      {"-", "SUB"}, {"*", "MUL"}, {"/", "DIV"}, {"^", "POW"}, {" and ", "AND"}, {" or ", "OR"}};
  for (auto [text, name] : operators) {
    const std::string formula = std::string("x") + text + "2";
    EXPECT_EQ(ListingOf(Subject, formula), std::string("1 VAR x\n2 VALUE 2\n1 ") + name + "\nEND") << formula;
  }
}

// A callback or variable defined under several names is listed under the
// least of them; one that no name holds any longer, as "?".
TEST_F(BytecodeTest, ListingsNameEachAddressByItsLeastName) {
  Subject.SetOptimizer(false);
  for (const char* alias : {"tw5", "tw3", "tw1", "tw4", "tw2"}) Subject.AddFunction(alias, Twice);
  for (const char* alias : {"xc", "xa", "xb"}) Subject.AddVariable(alias, &X);
  EXPECT_EQ(ListingOf(Subject, "tw4(2)"), "1 VALUE 2\n1 FUNC 1 tw1\nEND");
  EXPECT_EQ(ListingOf(Subject, "xb"), "1 VAR x\nEND");
  EXPECT_EQ(ListingOf(Subject, "log10(100)"), "1 VALUE 100\n1 FUNC 1 log\nEND");
  Eval(Subject, "r(1)");
  Subject.AddFunction("r", Twice);  // the cells keep Fresh until the next compilation
  EXPECT_EQ(Subject.Listing(), "1 VALUE 1\n1 FUNC 1 ?\nEND");
}

// Entries of every kind, densest per character: the sanitizer build
// catches any write past the buffer, the listing finds the end marker.
TEST_F(BytecodeTest, WorstCaseFormulasFitTheirBuffer) {
  Subject.AddPrefixOperator("~", Twice);
  for (bool folding : {true, false}) {
    Subject.SetOptimizer(folding);
    for (const std::string formula :
         {"x", "-x", "~x", "r(x)", "(x)m", "-r(-x)m", "x^x", "sum(x,x)", "-(-(-x))", "r(r(r(x)))", "~(x)m"}) {
      Eval(Subject, formula);
      const auto cells = Subject.GetBytecode();
      EXPECT_LE(cells.size(), BytecodeCellsFor(formula.size())) << formula;
      EXPECT_EQ(Subject.Listing().substr(Subject.Listing().size() - 3), "END") << formula;
    }
  }
}

}  // namespace
