#include "parser/front/token_reader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "parser/core/commands.h"

namespace MathUtils::detail {

namespace {

// The texts of the operators, brackets and comma, in the order the reader
// tries them (ReaderOperatorCodes): the command table's column, packed for
// the scan.
constexpr std::array<std::string_view, ReaderOperatorCount> OperatorTexts = [] {
  std::array<std::string_view, ReaderOperatorCount> texts{};
  for (std::size_t i = 0; i < ReaderOperatorCount; ++i) texts[i] = Commands[ReaderOperatorCodes[i]].Text;
  return texts;
}();

// For each character, the first operator that begins with it: the scan
// compares the texts from there on, up to the end of the table, where it
// starts for a character that begins none. An earlier start would find the
// same operator, after more comparisons.
constexpr std::array<unsigned char, 256> FirstOperatorWith = [] {
  std::array<unsigned char, 256> first{};
  first.fill(static_cast<unsigned char>(ReaderOperatorCount));
  for (int i = static_cast<int>(ReaderOperatorCount) - 1; i >= 0; --i)
    first[static_cast<unsigned char>(OperatorTexts[i][0])] = static_cast<unsigned char>(i);
  return first;
}();

// Whether the text begins with the operator's text; the texts are one to
// three characters, too short to be worth a call of memcmp.
bool BeginsWith(std::string_view text, std::string_view operatorText) {
  if (text.size() < operatorText.size()) return false;
  for (std::size_t i = 0; i < operatorText.size(); ++i)
    if (text[i] != operatorText[i]) return false;
  return true;
}

// The code of the first operator that the text begins with, or -1.
int FindBuiltInOperator(std::string_view text) {
  for (std::size_t i = FirstOperatorWith[static_cast<unsigned char>(text[0])]; i < ReaderOperatorCount; ++i)
    if (BeginsWith(text, OperatorTexts[i])) return ReaderOperatorCodes[i];
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space that the number conversion swallows before a number. A line
// feed is not among it: it is refused where it stands.
bool IsLeadingSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// Length of the decimal number at the start of text: digits with an
// optional point (at least one digit), then an optional exponent. 0 when
// there is none.
std::size_t DecimalLength(std::string_view text) {
  std::size_t i = 0, digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  return i;
}

// The common number, read and converted in one pass: digits with an
// optional point and more digits, at most 15 digits in all, and no exponent
// after them. Returns its length, or 0 for any other text. Up to 15 digits
// are an exact integer m, and m divided by an exact power of ten is
// correctly rounded; an integer needs no division, which would cost more
// than the rest. Inline: it is most of the work of a number token.
inline std::size_t ReadShortDecimal(std::string_view text, double& value) {
  static constexpr double PowersOfTen[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::uint64_t mantissa = 0;
  std::size_t i = 0;
  while (i < text.size() && IsDigit(text[i]))
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i++] - '0');
  std::size_t digits = i, fractionDigits = 0;
  if (i < text.size() && text[i] == '.') {
    const std::size_t point = i++;
    while (i < text.size() && IsDigit(text[i]))
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i++] - '0');
    fractionDigits = i - point - 1;
    digits += fractionDigits;
  }
  if (digits == 0 || digits > 15) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) return 0;
  value = static_cast<double>(mantissa);
  if (fractionDigits > 0) value /= PowersOfTen[fractionDigits];
  return i;
}

// A decimal number beyond the range of a double: infinity when the decimal
// exponent of its leading significant digit is positive, else 0. Beyond
// the range that exponent is at least 308 or at most -324, so its sign
// alone tells an overflow from an underflow.
double OutOfRangeDecimal(std::string_view number) {
  long long magnitude = 0;
  bool seenPoint = false, seenSignificant = false;
  std::size_t i = 0;
  for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
    if (number[i] == '.') {
      seenPoint = true;
      continue;
    }
    if (number[i] != '0') seenSignificant = true;
    if (!seenPoint && seenSignificant) ++magnitude;
    if (seenPoint && !seenSignificant) --magnitude;
  }
  long long exponent = 0;
  bool negative = false;
  if (i < number.size()) {
    ++i;
    if (number[i] == '+' || number[i] == '-') negative = number[i++] == '-';
    for (; i < number.size() && exponent < 1'000'000'000; ++i) exponent = exponent * 10 + (number[i] - '0');
  }
  magnitude += negative ? -exponent : exponent;
  return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

// Converts a decimal number as DecimalLength found it, independent of the
// locale.
double ConvertDecimal(std::string_view number) {
  double value = 0;
  if (ReadShortDecimal(number, value) == number.size()) return value;
  auto [end, error] =
      std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::general);
  return error == std::errc::result_out_of_range ? OutOfRangeDecimal(number) : value;
}

}  // namespace

std::size_t TokenReader::RunLength(const CharClass& members) const {
  std::size_t end = static_cast<std::size_t>(Pos);
  while (end < Text.size() && members.Has(Text[end])) ++end;
  return end - static_cast<std::size_t>(Pos);
}

// Blanks are spaces and tabs: a formula pasted from a table or a text
// editor often holds tabs where it was typed with spaces. Counted in a
// local and stored once: Pos is a member, which each store of a character
// would otherwise have to update.
void TokenReader::SkipBlanks() {
  const std::string_view text = Text;
  std::size_t pos = static_cast<std::size_t>(Pos);
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  Pos = static_cast<std::int32_t>(pos);
}

// A text read from a file or a pipe ends in a line feed (after a carriage
// return on Windows), which drops nothing and so ends the formula; a line
// feed with more of the formula after it is refused where it stands.
bool TokenReader::OnlyLineEndFollows() const {
  const std::string_view rest = Text.substr(static_cast<std::size_t>(Pos));
  return rest.find_first_not_of(" \t\r\n") == std::string_view::npos &&
         rest.find('\n') != std::string_view::npos;
}

// The token is made in place and returned as it was made: the caller reads
// it right away, and a copy read back in wider pieces than it was written
// would stall until the writes reach the cache.
Token TokenReader::Scan(SyntaxFlags& flags) {
  Token token;
  SkipBlanks();
  const char current = static_cast<std::size_t>(Pos) < Text.size() ? Text[Pos] : '\0';
  const bool lineEnd = (current == '\n' || current == '\r') && OnlyLineEndFollows();
  if (current == '\0' || current == '\n' || lineEnd) {  // the end of the formula, or what would cut it short
    if (static_cast<std::size_t>(Pos) < Text.size() && !lineEnd)
      Fail(current == '\0' ? Messages::NulCharacter : Messages::LineFeed, Pos > 0 ? Pos : -1);
    if (flags & NoEnd) Fail(Messages::UnexpectedEnd, 0);
    flags = 0;
    token.Code = cdEnd;
    return token;
  }

  const std::string_view rest = Text.substr(static_cast<std::size_t>(Pos));
  if (const int op = FindBuiltInOperator(rest); op >= 0) {
    ScanBuiltInOperator(op, flags, token);
    return token;
  }

  // No name starts with a digit: there only a number can stand.
  if (IsDigit(current) && (MatchShortNumber(rest, token) || MatchNumber(rest, token))) {
    Accept(flags, NoValue, Messages::UnexpectedValue, FlagsAfterValue);
    return token;
  }
  if (IdentClass.Has(current))
    ScanName(rest, flags, token);
  else
    ScanNonName(rest, flags, token);
  return token;
}

// A run of IdentChars starts at Pos: a function, constant or variable
// name, else an operator. The name is read and hashed in one pass, once
// for all the registries that may hold it.
void TokenReader::ScanName(std::string_view rest, SyntaxFlags& flags, Token& token) {
  using Names = NameMap<double>;
  std::uint32_t hash = Names::HashStart;
  std::size_t length = 0;
  while (length < rest.size() && IdentClass.Has(rest[length])) hash = Names::HashStep(hash, rest[length++]);
  const std::string_view name = rest.substr(0, length);
  if (MatchUsedVariable(name, hash, token))
    Accept(flags, NoVariable, Messages::UnexpectedVariable, FlagsAfterVariable);
  else if (MatchFunction(name, hash, token))
    Accept(flags, NoFunction, Messages::UnexpectedFunction, FlagsAfterFunction);
  else if (MatchConstant(name, hash, token))
    Accept(flags, NoValue, Messages::UnexpectedValue, FlagsAfterValue);
  else if (MatchVariable(name, hash, token))
    Accept(flags, NoVariable, Messages::UnexpectedVariable, FlagsAfterVariable);
  else
    ScanUnaryOperator(flags, token);
}

// No name starts at Pos: a number that starts with a point or white space,
// else an operator.
void TokenReader::ScanNonName(std::string_view rest, SyntaxFlags& flags, Token& token) {
  if (MatchNumber(rest, token))
    Accept(flags, NoValue, Messages::UnexpectedValue, FlagsAfterValue);
  else
    ScanUnaryOperator(flags, token);
}

void TokenReader::ScanUnaryOperator(SyntaxFlags& flags, Token& token) {
  if (MatchPrefixOp(token))
    Accept(flags, NoPrefixOp, Messages::UnexpectedUnaryOperator, FlagsAfterPrefixOp);
  else if (MatchPostfixOp(token))
    Accept(flags, NoPostfixOp, Messages::UnexpectedUnaryOperator, FlagsAfterPostfixOp);
  else
    RaiseUnknownToken();
}

// A token was recognised and Pos moved past it: it is an error where the
// flags forbid it, else the flags after it replace them.
void TokenReader::Accept(SyntaxFlags& flags, SyntaxFlags forbiddenBy, std::string_view message,
                         SyntaxFlags next) const {
  if (flags & forbiddenBy) Fail(message, Pos);
  flags = next;
}

// Nothing known starts at Pos. The marker stands after the run of name
// characters (and points) there, or after the one character if none.
void TokenReader::RaiseUnknownToken() const {
  std::size_t unknown = 0;
  while (static_cast<std::size_t>(Pos) + unknown < Text.size()) {
    const char c = Text[Pos + unknown];
    if (!(IdentClass.Has(c) || c == '.')) break;
    ++unknown;
  }
  Fail(Messages::UnknownToken, Pos + static_cast<int>(unknown ? unknown : 1));
}

void TokenReader::ScanBuiltInOperator(int index, SyntaxFlags& flags, Token& token) {
  switch (index) {
    case cdOpenBracket:
      if (flags & NoOpenBracket) Fail(Messages::UnexpectedOpenBracket, Pos);
      flags = FlagsAfterOpening;
      break;
    case cdCloseBracket:
      if (flags & NoCloseBracket) Fail(Messages::UnexpectedCloseBracket, Pos);
      flags = FlagsAfterValue;
      break;
    case cdComma:
      if (flags & NoComma) Fail(Messages::UnexpectedComma, Pos);
      flags = FlagsAfterOpening;
      break;
    default:
      if (!IsBinaryOperator(index)) Fail(Messages::UnsupportedReaderOperator, -1);
      if (flags & NoOperator) {
        // Where no binary operator may stand, the text may still be a prefix operator.
        if (!MatchPrefixOp(token)) Fail(Messages::UnexpectedOperator, Pos);
        if (flags & NoPrefixOp) Fail(Messages::UnexpectedUnaryOperator, Pos);
        flags = FlagsAfterPrefixOp;
        return;
      }
      flags = FlagsAfterOpening;
      break;
  }
  Pos += static_cast<std::int32_t>(Commands[static_cast<std::size_t>(index)].Text.size());
  token.Code = static_cast<CmdCode>(index);
}

bool TokenReader::MatchFunction(std::string_view name, std::uint32_t hash, Token& token) {
  const FunctionDef* function = Names.Functions.Find(name, hash);
  if (!function) return false;
  Pos += static_cast<std::int32_t>(name.size());
  token.Code = cdFunction;
  token.Addr = function->Callback;
  token.Context = function->Context;
  token.WithContext = function->WithContext;
  token.ArgCount = function->ArgCount;
  token.IsVolatile = function->Optimizable ? 0 : 1;
  return true;
}

// A decimal number at Pos, after any white space that the number conversion
// swallows; a sign never starts one.
bool TokenReader::MatchNumber(std::string_view rest, Token& token) {
  if (rest.empty() || rest[0] == '+' || rest[0] == '-') return false;
  std::size_t space = 0;
  while (space < rest.size() && IsLeadingSpace(rest[space])) ++space;
  const std::size_t length = DecimalLength(rest.substr(space));
  if (length == 0) return false;
  token.SetVal(ConvertDecimal(rest.substr(space, length)));
  Pos += static_cast<std::int32_t>(space + length);
  return true;
}

bool TokenReader::MatchShortNumber(std::string_view rest, Token& token) {
  double value = 0;
  const std::size_t length = ReadShortDecimal(rest, value);
  if (length == 0) return false;
  token.SetVal(value);
  Pos += static_cast<std::int32_t>(length);
  return true;
}

bool TokenReader::MatchConstant(std::string_view name, std::uint32_t hash, Token& token) {
  const double* constant = Names.Constants.Find(name, hash);
  if (!constant) return false;
  token.SetVal(*constant);
  Pos += static_cast<std::int32_t>(name.size());
  return true;
}

// The name is the run of IdentChars at Pos, which holds no "+" or "-".
bool TokenReader::MatchVariable(std::string_view name, std::uint32_t hash, Token& token) {
  if (Names.Variables.Empty()) return false;
  double* const* address = Names.Variables.Find(name, hash);
  if (!address) return false;
  if (UsedCount < Used.size())
    Used[UsedCount++] = {name.data(), static_cast<std::uint32_t>(name.size()), hash, *address};
  TakeVariable(name.size(), *address, token);
  return true;
}

// A variable met before, while no definition has changed since the reading
// began, is no function or constant either: one look settles the name,
// with the token and Pos just as MatchVariable leaves them.
bool TokenReader::MatchUsedVariable(std::string_view name, std::uint32_t hash, Token& token) {
  if (UsedCount == 0 || Names.Generation != GenerationAtStart) return false;
  for (std::size_t i = 0; i < UsedCount; ++i) {
    const UsedVariable& used = Used[i];
    if (used.Hash != hash || std::string_view(used.Name, used.Length) != name) continue;
    TakeVariable(name.size(), used.Address, token);
    return true;
  }
  return false;
}

// The compilation of an evaluation over arrays reads the listed variables
// at the first point; the compiler writes the variables' own addresses back
// into the cells at the end.
void TokenReader::TakeVariable(std::size_t length, double* address, Token& token) {
  Pos += static_cast<std::int32_t>(length);
  token.Code = cdVariable;
  token.Addr = Point ? Point->ReadAt(address) : address;
  token.IsVolatile = 1;
}

bool TokenReader::MatchPrefixOp(Token& token) {
  return MatchOperator(SymbolClass, Names.PrefixOps, cdPrefixOp, token);
}

bool TokenReader::MatchPostfixOp(Token& token) {
  return MatchOperator(OperatorClass, Names.PostfixOps, cdPostfixOp, token);
}

// The run of the set's characters at Pos, when the registry holds exactly it.
bool TokenReader::MatchOperator(const CharClass& members, const NameMap<OperatorDef>& registry, CmdCode code,
                                Token& token) {
  const std::size_t length = RunLength(members);
  if (length == 0) return false;
  const OperatorDef* op = registry.Find(Text.substr(Pos, length));
  if (!op) return false;
  Pos += static_cast<std::int32_t>(length);
  token.Code = code;
  token.Addr = op->Callback;
  token.Context = op->Context;
  token.WithContext = op->WithContext;
  return true;
}

}  // namespace MathUtils::detail
