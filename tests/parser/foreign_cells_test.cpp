// Cells that no compilation makes: unknown codes, entries cut short, slots
// outside the evaluation stack. The disassembler lists them up to the
// first it cannot read, the derived program refuses them, and the cell
// interpreter that then runs them reports them; none reads or writes
// outside the cells and the stack.
#include <initializer_list>
#include <memory>
#include <vector>

#include "cell_entries.h"
#include "parser/program/program.h"
#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using namespace ParserTests::CellEntries;

double Twice(double x) { return 2 * x; }
double Sum(std::span<const double> values) {
  double total = 0;
  for (double value : values) total += value;
  return total;
}

double Shifted(void* context, double x) { return x + *static_cast<const double*>(context); }
double ShiftedSum(void* context, std::span<const double> values) { return Shifted(context, Sum(values)); }
double Shift = 0.5;

TEST(ForeignCells, DisassemblerStopsAtTheFirstEntryItCannotRead) {
  const auto nameOf = [](const void*, const void*) { return std::string("name"); };
  const std::pair<std::vector<Cell>, const char*> cases[] = {
      {{}, ""},
      {{1}, ""},
      {{1, cdEnd}, "END"},
      {{1, cdValue, 0, 0}, "1 VALUE 0"},  // no end marker
      {{1, cdValue, 0}, "1 ?17"},         // an entry cut short
      {{1, cdContextOp, 0}, "1 ?24"},
      {{1, cdUnknown, 21, 21, 21}, "1 ?22"},
      {Cells({{1, 99}}), "1 ?99"},
      {Cells({{2, -1}}), "2 ?-1"},
      {Cells({{1, cdOpenBracket}}), "1 ?13"},
      {Cells({Addressed(1, cdPrefixOp, nullptr)}), "1 ?20"},
      {Cells({Value(1, 0), {2, 1000}}), "1 VALUE 0\n2 ?1000"},
  };
  for (const auto& [cells, listing] : cases) EXPECT_EQ(Disassemble(cells, nameOf), listing) << listing;
}

// Every entry of these has a slot or shape that the program cannot hold;
// the first case shows that the same shapes are taken where they fit.
TEST(ForeignCells, ProgramRefusesWhatItCannotExpress) {
  double x = 4;
  const auto program = std::make_unique<detail::Program>();
  const auto nameOf = [](const void*, const void*) { return std::string("name"); };
  ASSERT_TRUE(program->Derive(Cells({Addressed(1, cdVariable, &x),
                                     Value(2, 2),
                                     {1, cdPow},
                                     Addressed(1, cdPostfixOp, reinterpret_cast<void*>(Twice)),
                                     Value(2, 1),
                                     Function(1, -2, reinterpret_cast<void*>(Sum))})));
  EXPECT_EQ(detail::DisassembleProgram(*program, nameOf),
            "s1 = SQUARE name\ns1 = CALL name s1\ns2 = LOAD 1\ns1 = CALL name s1..s2\nRESULT s1");
  ASSERT_TRUE(program->Derive(
      Cells({Addressed(1, cdVariable, &x), ContextOp(1, reinterpret_cast<void*>(Shifted), &Shift),
             Value(2, 1), ContextFunction(1, -2, reinterpret_cast<void*>(ShiftedSum), &Shift),
             ContextFunction(1, 1, reinterpret_cast<void*>(Shifted), &Shift)})));
  EXPECT_EQ(detail::DisassembleProgram(*program, nameOf),
            "s1 = CALL name name\ns2 = LOAD 1\ns1 = CALL name s1..s2\ns1 = CALL name s1\nRESULT s1");
  detail::Frame frame;
  EXPECT_EQ(detail::RunProgram(*program, frame), 4 + 0.5 + 1 + 0.5 + 0.5);
  // A list call of no arguments, which the format allows and no formula writes.
  EXPECT_TRUE(program->Derive(Cells({Function(1, 0, reinterpret_cast<void*>(Sum))})));
  ASSERT_TRUE(program->Derive(Cells({Value(1, 5)})));  // the compiler returns a lone number itself
  EXPECT_EQ(detail::DisassembleProgram(*program, nameOf), "s1 = LOAD 5\nRESULT s1");

  const std::pair<std::vector<Cell>, const char*> refused[] = {
      {Cells({Value(0, 1)}), "a number in slot 0"},
      {Cells({Value(300, 1)}), "a number above the stack"},
      {Cells({Addressed(0, cdVariable, &x)}), "a variable in slot 0"},
      {Cells({Value(299, 1), {299, cdAdd}}), "an operator whose right operand is above the stack"},
      {Cells({Value(1, 1), Addressed(0, cdPostfixOp, reinterpret_cast<void*>(Twice))}), "a call in slot 0"},
      {Cells({Value(1, 1), Function(0, 1, reinterpret_cast<void*>(Twice))}), "a function in slot 0"},
      {Cells({Value(297, 1), Function(297, -4, reinterpret_cast<void*>(Sum))}), "arguments above the stack"},
      {Cells({Value(1, 1), Value(2, 1), Function(1, 2, reinterpret_cast<void*>(Sum))}),
       "a function of two fixed arguments"},
      {Cells({Value(1, 1), ContextOp(0, reinterpret_cast<void*>(Shifted), &Shift)}),
       "a context call in slot 0"},
      {Cells({Value(1, 1), ContextFunction(0, 1, reinterpret_cast<void*>(Shifted), &Shift)}),
       "a context function in slot 0"},
      {Cells({Value(297, 1), ContextFunction(297, -4, reinterpret_cast<void*>(ShiftedSum), &Shift)}),
       "context arguments above the stack"},
      {Cells({Value(1, 1), Value(2, 1), ContextFunction(1, 2, reinterpret_cast<void*>(ShiftedSum), &Shift)}),
       "a context function of two fixed arguments"},
      {Cells({Value(2, 1), ContextOp(1, reinterpret_cast<void*>(Shifted), &Shift)}),
       "a context argument no entry wrote"},
      {Cells({Value(1, 1), {1, cdUnknown}}), "the code of a fresh token"},
      {Cells({Value(1, 1), {1, 99}}), "an unknown code"},
      {Cells({Value(1, 1), {1, cdComma}}), "a code never written as an entry"},
      {Cells({Value(1, 1), Function(1, -8, reinterpret_cast<void*>(Sum))}), "arguments no entry wrote"},
      {Cells({Value(1, 1), {1, cdAdd}}), "a right operand no entry wrote"},
      {Cells({Value(1, 1), Value(2, 2), {1, cdAdd}, {1, cdMul}}), "a right operand already consumed"},
      {Cells({Value(2, 1), Addressed(1, cdPostfixOp, reinterpret_cast<void*>(Twice))}),
       "an argument no entry wrote"},
      {Cells({Value(1, 1), Value(2, 2), Addressed(1, cdPostfixOp, reinterpret_cast<void*>(Twice))}),
       "a value above a call's argument"},
      {Cells({Value(1, 1), Value(2, 2), Value(3, 3), Function(1, -2, reinterpret_cast<void*>(Sum))}),
       "a value above a list call's arguments"},
      {Cells({Value(1, 2), Value(2, 3), Value(3, 1), {1, cdPow}}), "a value above a power's operands"},
      {Cells({}), "no result"},
  };
  for (const auto& [cells, what] : refused) EXPECT_FALSE(program->Derive(cells)) << what;

  // Cells are read only within their span: an end marker cut off, or an
  // entry cut short by the span's end, is refused before anything past it
  // is read (the sanitizers would report such a read).
  const std::vector<Cell> whole = Cells({Value(1, 1), Value(2, 2), {1, cdAdd}});
  const std::span<const Cell> all(whole);
  EXPECT_TRUE(program->Derive(all));
  EXPECT_FALSE(program->Derive(all.first(all.size() - EndEntryCells))) << "no end marker";
  EXPECT_FALSE(program->Derive(all.first(ValueEntryCells + 2))) << "the second number cut short";
}

// Later evaluations of cells that the program refuses fall back to the cell
// interpreter, which reports the entry it does not know; the parser then
// compiles the formula afresh.
TEST(ForeignCells, InterpreterReportsWhatItDoesNotKnow) {
  using ParserTests::Probe;
  Probe parser;
  parser.AddFunction("twice", Twice, false);
  const std::pair<Entry, std::string_view> cases[] = {
      {{1, 99}, Messages::UnknownCode},
      {Function(1, 2, reinterpret_cast<void*>(Twice)), Messages::UnsupportedCallArgumentCount},
      {ContextFunction(1, 2, reinterpret_cast<void*>(Shifted), &Shift),
       Messages::UnsupportedCallArgumentCount},
      {{1, cdUnknown}, Messages::UnknownCode},
  };
  for (const auto& [entry, message] : cases) {
    EXPECT_EQ(ParserTests::Eval(parser, "twice(3)+1"), 7);
    parser.AssignBytecode(Cells({Value(1, 3), entry}));
    EXPECT_PARSER_ERROR(parser.Evaluate(), message);
    EXPECT_TRUE(parser.Compiling());
    EXPECT_EQ(parser.Evaluate(), 7);
    EXPECT_EQ(parser.Evaluate(), 7);
  }
}

// Arguments that no entry wrote are zeros, never what lies beyond the
// slots of the evaluation: the program refuses such cells and the cell
// interpreter runs them on a stack that starts at zero.
std::vector<double> Seen;
double Spy(std::span<const double> values) {
  Seen.assign(values.begin(), values.end());
  return 1;
}

TEST(ForeignCells, CallbackSeesOnlyTheEvaluationsSlots) {
  ParserTests::Probe parser;
  parser.AddFunction("spy", Spy, false);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(ParserTests::Eval(parser, "spy(3)"), 1);
    parser.AssignBytecode(Cells({Value(1, 3), Function(1, -8, reinterpret_cast<void*>(Spy))}));
    for (int i = 0; i < 3; ++i) {
      Seen.clear();
      EXPECT_EQ(parser.Evaluate(), 1);
      EXPECT_EQ(Seen, (std::vector<double>{3, 0, 0, 0, 0, 0, 0, 0}));
    }
  }
}

}  // namespace
