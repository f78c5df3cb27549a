// The parser's one exception type and the texts of its messages.
//
// The text of an error about a formula is its message, then the formula:
// whole, or cut where the error was noticed and followed by " <- here".
// Errors raised outside a formula's context carry the message alone and the
// formula text NoFormulaText.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace MathUtils {

class ParserException : public std::runtime_error {
 public:
  ParserException(const std::string& message, const std::string& formula)
      : std::runtime_error(message), Formula(formula) {}

  const std::string& GetFormula() const { return Formula; }

 private:
  std::string Formula;
};

// The formula text carried by errors raised outside a formula's context.
inline constexpr const char* NoFormulaText = "(formula is not available)";

// Every message, word for word. A message that the formula follows keeps
// its own trailing blank, so the composed text may show two.
namespace Messages {

// tokens and the stack
inline constexpr std::string_view StackIsEmpty = "stack is empty.";
inline constexpr std::string_view PriorityOfNonOperator =
    "internal error in ParserBase::Priority(int):  unknown operator!";
inline constexpr std::string_view ValueOfNonValue = "internal error:  GetVal() called for non value token.";
inline constexpr std::string_view CallbackOfNonCall =
    "internal error:  GetFuncAddr() called non function/postfix operator token.";
inline constexpr std::string_view ArgCountOfNonFunction =
    "internal error:  Token::GetArgCount() called for non function token.";

// definitions
inline constexpr std::string_view NullFunction = "User defined function is null!";
inline constexpr std::string_view NullOperator = "User defined operator callback function is null!";
inline constexpr std::string_view EmptyName = "Identifier has zero length.";
inline constexpr std::string_view InvalidNameCharacter =
    "Variable names may only contain the following charakters: a-z, A-Z, 0-9, _";
inline constexpr std::string_view NameStartsWithDigit = "Name identifiers may not start with numbers.";
inline constexpr std::string_view NullVariable = "Variable address is null!";

// arguments of an evaluation over arrays
inline constexpr std::string_view NullVariableArray = "Variable or values address of an array is null!";
inline constexpr std::string_view VariableListedTwice = "Variable listed twice in the arrays!";
inline constexpr std::string_view NegativeThreadCount = "Number of threads is negative!";

// token reader
inline constexpr std::string_view UnexpectedEnd = "Unexpected end of formula: ";
inline constexpr std::string_view UnexpectedOpenBracket = "No \"(\" expected:";
inline constexpr std::string_view UnexpectedCloseBracket = "No \")\" expected: ";
inline constexpr std::string_view UnexpectedValue = "No value expected:";
inline constexpr std::string_view UnexpectedVariable = "No variable expected:";
inline constexpr std::string_view UnexpectedComma = "No \",\" expected:";
inline constexpr std::string_view UnexpectedFunction = "No function expected: ";
inline constexpr std::string_view UnexpectedOperator = "Unexpected operator: ";
inline constexpr std::string_view UnexpectedUnaryOperator = "No unary operator expected:";
inline constexpr std::string_view UnknownToken = "Unknown token found:";
// A text whose length is known may hold a NUL, which would otherwise end it.
inline constexpr std::string_view NulCharacter = "NUL character in the formula:";
// Nor does a line feed end it: what followed would be dropped without a word.
inline constexpr std::string_view LineFeed = "Line feed in the formula:";
inline constexpr std::string_view UnsupportedReaderOperator =
    "internal error while checking syntax:  unsupported operator used";

// compiler
inline constexpr std::string_view EmptyFormula = "Formula string is empty.";
inline constexpr std::string_view UnsupportedToken = "internal error:  unsupported operator/function used";
inline constexpr std::string_view NoOpeningBracket = "No opening bracket for the last closing one found: ";
inline constexpr std::string_view CommaWithoutFunction = "Comma used without a function";
inline constexpr std::string_view PostfixWithoutOperand = "internal error:  stack empty.";
inline constexpr std::string_view OperatorWithoutOperands = "internal error: value stack empty!";
inline constexpr std::string_view MissingClosingBracket = "parse error:  missing \")\"";
inline constexpr std::string_view NoFormula = "No formula set.";
inline constexpr std::string_view MissingOperator = "internal error:  missing operator.";
inline constexpr std::string_view TooComplex =
    "Formula too complex: the evaluation stack has room for 299 values:";

// apply steps
inline constexpr std::string_view UnexpectedOperatorToken =
    "internal error in ParserBase::ApplyOperator(...): unexpected operator token.";
inline constexpr std::string_view NegativeIndex = "internal error:  negative bytecode index (optimization).";
inline constexpr std::string_view PrefixWithoutOperand =
    "internal error:  Unary operator applied to empty value stack.";
inline constexpr std::string_view NegativeIndexAfterPrefix =
    "internal error in ApplyUnaryOprt:  negative bytecode index (optimization).";
inline constexpr std::string_view TooManyArguments = "Too many function parameter:";
inline constexpr std::string_view TooFewArguments = "Too few function parameter:";
inline constexpr std::string_view UnsupportedArgumentCount =
    "Unsupported number of arguments in funtion call";

// interpreter
inline constexpr std::string_view UnknownCode =
    "internal error in ParserBase::ParseCmdCode(...) :  unexpected or unknown CmdCode";
inline constexpr std::string_view UnsupportedCallArgumentCount =
    "internal error:  Unsupported number of arguments in function call.";

// functions of any number of arguments called with none: this, then the
// function's name and "."
inline constexpr std::string_view NoArgumentsFor = "too few arguments for function ";
inline constexpr std::string_view MathLibraryUnavailable =
    "The deterministic math library is not available in this build.";

inline constexpr std::string_view All[] = {
    StackIsEmpty,
    PriorityOfNonOperator,
    ValueOfNonValue,
    CallbackOfNonCall,
    ArgCountOfNonFunction,
    NullFunction,
    NullOperator,
    EmptyName,
    InvalidNameCharacter,
    NameStartsWithDigit,
    NullVariable,
    NullVariableArray,
    VariableListedTwice,
    NegativeThreadCount,
    UnexpectedEnd,
    UnexpectedOpenBracket,
    UnexpectedCloseBracket,
    UnexpectedValue,
    UnexpectedVariable,
    UnexpectedComma,
    UnexpectedFunction,
    UnexpectedOperator,
    UnexpectedUnaryOperator,
    UnknownToken,
    NulCharacter,
    LineFeed,
    UnsupportedReaderOperator,
    EmptyFormula,
    UnsupportedToken,
    NoOpeningBracket,
    CommaWithoutFunction,
    PostfixWithoutOperand,
    OperatorWithoutOperands,
    MissingClosingBracket,
    NoFormula,
    MissingOperator,
    TooComplex,
    UnexpectedOperatorToken,
    NegativeIndex,
    PrefixWithoutOperand,
    NegativeIndexAfterPrefix,
    TooManyArguments,
    TooFewArguments,
    UnsupportedArgumentCount,
    UnknownCode,
    UnsupportedCallArgumentCount,
    NoArgumentsFor,
    MathLibraryUnavailable,
};

}  // namespace Messages

namespace detail {

// The one place where the library throws: every ParserException starts here.
[[noreturn]] void ThrowParserException(const std::string& text, const std::string& formula);
// An error about the arguments of a call, outside any formula: the message
// alone, and the parser left as it was.
[[noreturn]] void RaiseArgumentError(std::string_view message);
// An error about a formula: the message, then the formula up to position
// and " <- here" (the whole formula for 0, nothing of it for a negative
// position or an empty formula). The formula is the one read, which a
// callback may since have replaced in its parser.
[[noreturn]] void RaiseFormulaError(std::string_view message, std::string_view formula, int position);

}  // namespace detail

}  // namespace MathUtils
