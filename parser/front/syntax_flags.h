// Syntax flags of the token reader, and the character sets of names.
#pragma once

#include <cstdint>

#include "parser/core/types.h"

namespace MathUtils {

// A set bit forbids a kind of token as the next one. After each token the
// reader replaces the whole set:
//
//   flag            bit    forbids                 message when it comes anyway
//   --------------  -----  ----------------------  ------------------------------
//   NoOpenBracket   0x001  "("                     No "(" expected:
//   NoCloseBracket  0x002  ")"                     No ")" expected:_
//   NoValue         0x004  a number or constant    No value expected:
//   NoVariable      0x008  a variable              No variable expected:
//   NoComma         0x010  ","                     No "," expected:
//   NoFunction      0x020  a function name         No function expected:_
//   NoOperator      0x040  a binary operator       Unexpected operator:_
//   NoPostfixOp     0x080  a postfix operator      No unary operator expected:
//   NoPrefixOp      0x100  a prefix operator       No unary operator expected:
//   NoEnd           0x200  the end                 Unexpected end of formula:_
//   (_ marks a trailing blank that belongs to the message)
//
//   after                          new set       may follow
//   -----------------------------  ------------  ------------------------------------------
//   start of compilation           194 (0x0C2)   "(", value, variable, function, ",", prefix, end
//   "(", ",", binary operator      722 (0x2D2)   "(", value, variable, function, prefix
//   ")", value or constant         301 (0x12D)   ")", ",", binary, postfix, end
//   variable                       429 (0x1AD)   ")", ",", binary, end
//   function                       766 (0x2FE)   "(", prefix
//   prefix operator                450 (0x1C2)   "(", value, variable, function, ",", end
//   postfix operator               173 (0x0AD)   ")", ",", binary, prefix, end
//   end                            0
enum SyntaxFlag : std::uint32_t {
  NoOpenBracket = 0x001,
  NoCloseBracket = 0x002,
  NoValue = 0x004,
  NoVariable = 0x008,
  NoComma = 0x010,
  NoFunction = 0x020,
  NoOperator = 0x040,
  NoPostfixOp = 0x080,
  NoPrefixOp = 0x100,
  NoEnd = 0x200,
};

inline constexpr SyntaxFlags FlagsAtStart = NoCloseBracket | NoOperator | NoPostfixOp;
inline constexpr SyntaxFlags FlagsAfterOpening = NoCloseBracket | NoComma | NoOperator | NoPostfixOp | NoEnd;
inline constexpr SyntaxFlags FlagsAfterValue = NoOpenBracket | NoValue | NoVariable | NoFunction | NoPrefixOp;
inline constexpr SyntaxFlags FlagsAfterVariable = FlagsAfterValue | NoPostfixOp;
inline constexpr SyntaxFlags FlagsAfterFunction = 0x3FFu & ~(NoOpenBracket | NoPrefixOp);
inline constexpr SyntaxFlags FlagsAfterPrefixOp = NoCloseBracket | NoOperator | NoPostfixOp | NoPrefixOp;
inline constexpr SyntaxFlags FlagsAfterPostfixOp =
    NoOpenBracket | NoValue | NoVariable | NoFunction | NoPostfixOp;

static_assert(FlagsAtStart == 194 && FlagsAfterOpening == 722 && FlagsAfterValue == 301);
static_assert(FlagsAfterVariable == 429 && FlagsAfterFunction == 766);
static_assert(FlagsAfterPrefixOp == 450 && FlagsAfterPostfixOp == 173);

// Character sets. Names of functions, constants and variables are made of
// IdentChars, operator names of OperatorChars; the reader takes runs of
// SymbolChars as prefix operators.
inline constexpr char IdentChars[] = "0123456789_abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr char OperatorChars[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-*/^?<>=#!$%&|~'_";
inline constexpr char SymbolChars[] = "+-*/^?<>=#!$%&|~'_";

namespace detail {

// A character set as a lookup table; the terminating NUL is never a member.
class CharClass {
 public:
  constexpr explicit CharClass(const char* members) {
    for (; *members; ++members) Member[static_cast<unsigned char>(*members)] = true;
  }
  constexpr bool Has(char c) const { return Member[static_cast<unsigned char>(c)]; }

 private:
  bool Member[256] = {};
};

}  // namespace detail

inline constexpr detail::CharClass IdentClass{IdentChars};
inline constexpr detail::CharClass OperatorClass{OperatorChars};
inline constexpr detail::CharClass SymbolClass{SymbolChars};

}  // namespace MathUtils
