// Tokens, the stack, operator priorities and the composition of error texts.
#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::ErrorText;

TEST(Token, VariablesAreReadWhenAsked) {
  double variable = 1;
  const Token bound{cdVariable, 0, &variable};
  variable = 42;
  EXPECT_EQ(bound.GetVal(), 42);
}

TEST(Token, AccessorsRefuseTheWrongKind) {
  const std::string value = "internal error:  GetVal() called for non value token.";
  const std::string callback = "internal error:  GetFuncAddr() called non function/postfix operator token.";
  const std::string count = "internal error:  Token::GetArgCount() called for non function token.";
  for (CmdCode code : {cdFunction, cdUnknown}) EXPECT_EQ(ErrorText([&] { Token{code}.GetVal(); }), value);
  for (CmdCode code : {cdValue, cdEnd}) EXPECT_EQ(ErrorText([&] { Token{code}.GetFuncAddr(); }), callback);
  for (CmdCode code : {cdPostfixOp, cdValue}) EXPECT_EQ(ErrorText([&] { Token{code}.GetArgCount(); }), count);
  try {
    Token{cdValue}.GetFuncAddr();
  } catch (const ParserException& error) {
    EXPECT_EQ(error.GetFormula(), "(formula is not available)");
  }
  Stack<int> stack;
  stack.push(1);
  stack.push(2);
  EXPECT_EQ(stack.pop(), 2);
  EXPECT_EQ(stack.pop(), 1);
  EXPECT_EQ(ErrorText([&] { stack.pop(); }), "stack is empty.");
}

TEST(Priority, FixedTableAndUnknownCodes) {
  Parser parser;
  const int expected[] = {2, 2, 2, 2, 2, 2, 3, 3, 4, 4, 5, 1, 1, 0, 0, -1};  // codes 0 to 15
  for (int code = 0; code < 16; ++code) EXPECT_EQ(parser.Priority(code), expected[code]) << code;
  EXPECT_EQ(parser.Priority(cdEnd), -2);
  for (int code : {16, 17, 18, 19, 20, 22, -1, 1000})
    EXPECT_EQ(ErrorText([&] { parser.Priority(code); }),
              "internal error in ParserBase::Priority(int):  unknown operator!") << code;
}

TEST(RaiseError, ComposesMessageFormulaAndMarker) {
  const struct {
    const char* formula;
    int position;
    const char* text;
  } cases[] = {{"5+3", 2, "msg: 5+ <- here"}, {"5+3", 1, "msg: 5 <- here"}, {"5+3", 0, "msg: 5+3"},
               {"5+3", -1, "msg:"},           {"5+3", 3, "msg: 5+3 <- here"}, {"5+3", 99, "msg: 5+3 <- here"},
               {"", 3, "msg:"},               {"", 0, "msg:"}};
  for (const auto& c : cases) {
    ParserTests::Probe parser;
    parser.AssignFormula(c.formula);
    if (*c.formula) parser.Evaluate();  // the error must send the parser back to compiling
    try {
      parser.RaiseError("msg:", c.position);
    } catch (const ParserException& error) {
      EXPECT_STREQ(error.what(), c.text) << c.formula << " at " << c.position;
      EXPECT_EQ(error.GetFormula(), c.formula);
      EXPECT_TRUE(parser.Compiling());
    }
  }
}

}  // namespace
