// Tokens, the stack, operator priorities and the composition of error texts.
#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Probe;

TEST(Token, VariablesAreReadWhenAsked) {
  double variable = 1;
  const Token bound{cdVariable, 0, &variable};
  variable = 42;
  EXPECT_EQ(bound.GetVal(), 42);
}

TEST(Token, AccessorsRefuseTheWrongKindOutsideAnyFormula) {
  for (CmdCode code : {cdFunction, cdUnknown})
    EXPECT_PARSER_ERROR_IN(Token{code}.GetVal(), Messages::ValueOfNonValue, NoFormulaText);
  for (CmdCode code : {cdValue, cdEnd})
    EXPECT_PARSER_ERROR_IN(Token{code}.GetFuncAddr(), Messages::CallbackOfNonCall, NoFormulaText);
  for (CmdCode code : {cdPostfixOp, cdValue})
    EXPECT_PARSER_ERROR_IN(Token{code}.GetArgCount(), Messages::ArgCountOfNonFunction, NoFormulaText);
}

TEST(Stack, LastInFirstOutBeyondItsInlineRoom) {
  Stack<int> stack;
  const int count = static_cast<int>(Stack<int>::InlineCapacity) * 3;
  for (int i = 0; i < count; ++i) stack.push(i);
  EXPECT_EQ(stack.items().front(), 0);
  for (int i = count - 1; i >= 0; --i) EXPECT_EQ(stack.pop(), i);
  EXPECT_PARSER_ERROR_IN(stack.pop(), Messages::StackIsEmpty, NoFormulaText);
}

// The order among the priorities shows in the values of formulas (see the
// compiler's tests); codes that are no operator have none.
TEST(Priority, OnlyOperatorsBracketsCommaAndEndHaveOne) {
  Probe parser;
  for (int code : std::initializer_list<int>{cdVariable, cdValue, cdFunction, cdPostfixOp, cdPrefixOp,
                                             cdUnknown, -1, 1000})
    EXPECT_PARSER_ERROR(parser.Priority(code), Messages::PriorityOfNonOperator) << code;
  for (int code = cdLessEq; code <= cdComma; ++code) EXPECT_GT(parser.Priority(code), parser.Priority(cdEnd));
}

TEST(RaiseError, ComposesMessageFormulaAndMarker) {
  const struct {
    const char* Formula;
    int Position;
    const char* Text;
  } cases[] = {{"5+3", 2, "msg: 5+ <- here"},
               {"5+3", 1, "msg: 5 <- here"},
               {"5+3", 0, "msg: 5+3"},
               {"5+3", -1, "msg:"},
               {"5+3", 3, "msg: 5+3 <- here"},
               {"5+3", 99, "msg: 5+3 <- here"},
               {"", 3, "msg:"},
               {"", 0, "msg:"}};
  for (const auto& c : cases) {
    Probe parser;
    parser.AssignFormula(c.Formula);
    if (*c.Formula) parser.Evaluate();  // the error must send the parser back to compiling
    EXPECT_PARSER_ERROR_IN(parser.RaiseError("msg:", c.Position), c.Text, c.Formula) << c.Position;
    EXPECT_TRUE(parser.Compiling());
  }
}

}  // namespace
