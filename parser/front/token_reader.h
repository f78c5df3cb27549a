// The token reader: reads a formula one token at a time against a
// vocabulary, and checks each token against the syntax flags that its left
// neighbour set (table in parser/front/syntax_flags.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/core/errors.h"
#include "parser/front/array_point.h"
#include "parser/front/syntax_flags.h"
#include "parser/front/tokens.h"
#include "parser/front/vocabulary.h"

namespace MathUtils::detail {

class TokenReader {
 public:
  // point: where an evaluation over arrays reads its listed variables
  // while this text compiles; null for the variables themselves.
  TokenReader(const Vocabulary& names, std::string_view text, const ArrayPoint* point = nullptr)
      : Names(names), Text(text), Point(point), GenerationAtStart(names.Generation) {}

  // Reads the next token at the position and replaces flags with the set
  // that fits it; the position then stands just after the token.
  Token Scan(SyntaxFlags& flags);

  std::int32_t Position() const { return Pos; }
  void SetPosition(std::int32_t position) { Pos = position; }
  std::string_view Formula() const { return Text; }

  // Every error of a compilation: the message with the text up to position.
  [[noreturn]] void Fail(std::string_view message, int position) const {
    RaiseFormulaError(message, Text, position);
  }

 private:
  // The steps marked inline are called once per token, from here alone:
  // inlined, they save a call for every name and operator.
  inline void SkipBlanks();
  bool OnlyLineEndFollows() const;
  inline void ScanBuiltInOperator(int index, SyntaxFlags& flags, Token& token);
  void ScanName(std::string_view rest, SyntaxFlags& flags, Token& token);
  void ScanNonName(std::string_view rest, SyntaxFlags& flags, Token& token);
  void ScanUnaryOperator(SyntaxFlags& flags, Token& token);
  inline bool MatchFunction(std::string_view name, std::uint32_t hash, Token& token);
  inline bool MatchConstant(std::string_view name, std::uint32_t hash, Token& token);
  inline bool MatchVariable(std::string_view name, std::uint32_t hash, Token& token);
  inline bool MatchUsedVariable(std::string_view name, std::uint32_t hash, Token& token);
  inline void TakeVariable(std::size_t length, double* address, Token& token);
  inline bool MatchShortNumber(std::string_view rest, Token& token);
  bool MatchNumber(std::string_view rest, Token& token);
  void Accept(SyntaxFlags& flags, SyntaxFlags forbiddenBy, std::string_view message, SyntaxFlags next) const;
  bool MatchPrefixOp(Token& token);
  bool MatchPostfixOp(Token& token);
  bool MatchOperator(const CharClass& members, const NameMap<OperatorDef>& registry, CmdCode code,
                     Token& token);
  std::size_t RunLength(const CharClass& members) const;
  [[noreturn]] void RaiseUnknownToken() const;

  // The variables met so far: a name met again is settled by one look at
  // these, as long as no callback has defined names since the reading began.
  struct UsedVariable {  // trivial: the reader starts without writing them
    const char* Name;
    std::uint32_t Length;
    std::uint32_t Hash;
    double* Address;
  };
  static constexpr std::size_t RememberedVariables = 8;

  const Vocabulary& Names;
  std::string_view Text;
  const ArrayPoint* Point;
  std::uint32_t GenerationAtStart;
  std::int32_t Pos = 0;
  std::size_t UsedCount = 0;
  std::array<UsedVariable, RememberedVariables> Used;
};

}  // namespace MathUtils::detail
