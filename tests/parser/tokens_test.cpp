// Tokens, the stack, operator priorities and the composition of error texts.
#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::ErrorText;
using ParserTests::Probe;

TEST(Token, DefaultAndSetValKeepsArgCountAndPrio) {
  Token token;
  EXPECT_EQ(token.Code, cdUnknown);
  EXPECT_EQ(token.Prio, 999);
  token.Code = cdFunction;
  token.ArgCount = -1;
  token.Prio = 4;
  token.IsVolatile = 1;
  token.Addr = &token;
  token.SetVal(2.5);
  EXPECT_EQ(token.Code, cdValue);
  EXPECT_EQ(token.GetVal(), 2.5);
  EXPECT_EQ(token.Addr, nullptr);
  EXPECT_EQ(token.IsVolatile, 0u);
  EXPECT_EQ(token.ArgCount, -1);
  EXPECT_EQ(token.Prio, 4);
}

TEST(Token, VariableIsReadWhenAsked) {
  double variable = 1;
  Token token;
  token.Code = cdVariable;
  token.Addr = &variable;
  variable = 42;
  EXPECT_EQ(token.GetVal(), 42);
}

TEST(Token, AccessorsRefuseTheWrongKind) {
  struct Case {
    CmdCode code;
    const char* accessor;
    const char* message;
  };
  const Case cases[] = {
      {cdFunction, "GetVal", "internal error:  GetVal() called for non value token."},
      {cdUnknown, "GetVal", "internal error:  GetVal() called for non value token."},
      {cdValue, "GetFuncAddr", "internal error:  GetFuncAddr() called non function/postfix operator token."},
      {cdEnd, "GetFuncAddr", "internal error:  GetFuncAddr() called non function/postfix operator token."},
      {cdPostfixOp, "GetArgCount", "internal error:  Token::GetArgCount() called for non function token."},
      {cdValue, "GetArgCount", "internal error:  Token::GetArgCount() called for non function token."},
  };
  for (const Case& c : cases) {
    Token token;
    token.Code = c.code;
    const std::string accessor = c.accessor;
    try {
      if (accessor == "GetVal") token.GetVal();
      if (accessor == "GetFuncAddr") token.GetFuncAddr();
      if (accessor == "GetArgCount") token.GetArgCount();
      ADD_FAILURE() << accessor << " accepted code " << c.code;
    } catch (const ParserException& error) {
      EXPECT_STREQ(error.what(), c.message) << accessor << " on code " << c.code;
      EXPECT_EQ(error.GetFormula(), "(formula is not available)");
    }
  }
  Token function;
  function.Code = cdPrefixOp;
  function.Addr = &function;
  EXPECT_EQ(function.GetFuncAddr(), &function);
}

TEST(Stack, PopsLastInFirstOutAndRefusesEmptyPop) {
  Stack<int> stack;
  stack.push(1);
  stack.push(2);
  EXPECT_EQ(stack.pop(), 2);
  EXPECT_EQ(stack.pop(), 1);
  try {
    stack.pop();
    ADD_FAILURE() << "pop on an empty stack";
  } catch (const ParserException& error) {
    EXPECT_STREQ(error.what(), "stack is empty.");
    EXPECT_EQ(error.GetFormula(), "(formula is not available)");
  }
}

TEST(Priority, FixedTableAndUnknownCodes) {
  Parser parser;
  const std::pair<int, int> table[] = {{cdLessEq, 2},  {cdGreaterEq, 2}, {cdNotEqual, 2}, {cdEqual, 2},
                                       {cdLess, 2},    {cdGreater, 2},   {cdAdd, 3},      {cdSub, 3},
                                       {cdMul, 4},     {cdDiv, 4},       {cdPow, 5},      {cdAnd, 1},
                                       {cdOr, 1},      {cdOpenBracket, 0}, {cdCloseBracket, 0},
                                       {cdComma, -1},  {cdEnd, -2}};
  for (auto [code, priority] : table) EXPECT_EQ(parser.Priority(code), priority) << "code " << code;
  for (int code : {16, 17, 18, 19, 20, 22, -1, 1000})
    EXPECT_EQ(ErrorText([&] { parser.Priority(code); }),
              "internal error in ParserBase::Priority(int):  unknown operator!")
        << "code " << code;
}

TEST(RaiseError, ComposesMessageFormulaAndMarker) {
  struct Case {
    const char* formula;
    int position;
    const char* text;
  };
  const Case cases[] = {
      {"5#3", 2, "msg: 5# <- here"},   {"5#3", 0, "msg: 5#3"},        {"5#3", -1, "msg:"},
      {"5#3", 3, "msg: 5#3 <- here"},  {"5#3", 99, "msg: 5#3 <- here"}, {"", 3, "msg:"},
      {"", 0, "msg:"},                 {"5#3", 1, "msg: 5 <- here"},
  };
  for (const Case& c : cases) {
    Parser parser;
    parser.AssignFormula(c.formula);
    try {
      parser.RaiseError("msg:", c.position);
    } catch (const ParserException& error) {
      EXPECT_STREQ(error.what(), c.text) << c.formula << " at " << c.position;
      EXPECT_EQ(error.GetFormula(), c.formula);
    }
  }
}

TEST(RaiseError, SendsTheNextEvaluationToTheCompiler) {
  Probe parser;
  parser.AssignFormula("2*3");
  EXPECT_EQ(parser.Evaluate(), 6);
  ASSERT_TRUE(parser.Constant());
  EXPECT_THROW(parser.RaiseError("x", -1), ParserException);
  EXPECT_TRUE(parser.Compiling());
  EXPECT_EQ(parser.Evaluate(), 6);
}

}  // namespace
