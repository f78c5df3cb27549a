// Shared helpers of the parser tests: error assertions and a probe that
// opens the parser's protected reader and state for inspection.
#pragma once

#include <gtest/gtest.h>

#include <cfenv>
#include <optional>
#include <string>
#include <string_view>

#include "parser/core/commands.h"
#include "parser/engine/compiled_formula.h"
#include "parser/front/bytecode.h"
#include "parser/front/stack.h"
#include "parser/front/syntax_flags.h"
#include "parser/front/tokens.h"
#include "parser/front/vocabulary.h"
#include "parser/parser.h"
#include "parser/reader.h"

#if defined(__SSE2__) || defined(__x86_64__)
#include <xmmintrin.h>
#define VORNCALC_TEST_MXCSR 1
#endif

namespace ParserTests {

// Opens the protected parts that the tests inspect.
struct Probe : MathUtils::Parser {
  using ParserBase::AssignBytecode;
  using ParserBase::Position;
  using ParserBase::Registry;
  using ParserBase::SetPosition;

  // The next evaluation compiles the formula afresh.
  bool Compiling() const { return CurrentTier() == MathUtils::detail::Tier::Compile; }
  // The formula compiled to one number, returned without running anything.
  bool Constant() const { return CurrentTier() == MathUtils::detail::Tier::Constant; }
  // Later evaluations run what the compiler made of the formula.
  bool Running() const { return !Compiling() && !Constant(); }
  // Evaluates the compiled cells with the cell interpreter.
  double RunCells() { return ParseCmdCode(); }
};

// Runs the action and returns the text of the ParserException it throws;
// records a failure when it throws nothing or something else.
template <typename Action>
std::string ErrorText(Action&& action) {
  try {
    action();
  } catch (const MathUtils::ParserException& error) {
    return error.what();
  } catch (const std::exception& other) {
    ADD_FAILURE() << "unexpected exception: " << other.what();
    return "<other exception>";
  }
  ADD_FAILURE() << "no ParserException thrown";
  return "<no exception>";
}

// Whether the action throws a ParserException with exactly this text, and,
// when one is given, this formula.
template <typename Action>
::testing::AssertionResult ThrowsParserError(const char* statement, Action&& action, std::string_view text,
                                             std::optional<std::string_view> formula = std::nullopt) {
  try {
    action();
  } catch (const MathUtils::ParserException& error) {
    if (error.what() != text)
      return ::testing::AssertionFailure()
             << statement << "\n  threw:    \"" << error.what() << "\"\n  expected: \"" << text << "\"";
    if (formula && error.GetFormula() != *formula)
      return ::testing::AssertionFailure() << statement << "\n  carried the formula \"" << error.GetFormula()
                                           << "\", expected \"" << *formula << "\"";
    return ::testing::AssertionSuccess();
  } catch (const std::exception& other) {
    return ::testing::AssertionFailure() << statement << "\n  threw another exception: " << other.what();
  }
  return ::testing::AssertionFailure() << statement << "\n  threw nothing; expected \"" << text << "\"";
}

// The message followed by the part of the formula read so far and the
// marker, as RaiseError composes the text of a formula error.
inline std::string Marked(std::string_view message, std::string_view shown) {
  return std::string(message) + ' ' + std::string(shown) + " <- here";
}

// Keeps the compiler from folding library calls at build time, where it
// may round differently from the run-time library that the parser calls.
inline double Opaque(double value) {
  volatile double kept = value;
  return kept;
}

inline double Eval(MathUtils::ParserBase& parser, const std::string& formula) {
  parser.AssignFormula(formula);
  return parser.Evaluate();
}

inline std::string CompileError(MathUtils::ParserBase& parser, const std::string& formula) {
  return ErrorText([&] { Eval(parser, formula); });
}

inline std::string ListingOf(MathUtils::ParserBase& parser, const std::string& formula) {
  Eval(parser, formula);
  return parser.Listing();
}

// Evaluates the assigned formula until it runs as machine code: returns
// the evaluations that took, or 0 when it still did not after the limit.
inline int EvaluationsUntilMachineCode(MathUtils::ParserBase& parser, int limit = 5000) {
  for (int evaluation = 1; evaluation <= limit; ++evaluation) {
    parser.Evaluate();
    if (parser.MachineCodeSize() > 0) return evaluation;
  }
  return 0;
}

// A floating-point environment: DAZ and FTZ where the processor has them
// (a program built with -ffast-math sets both for the whole process, and
// a CAD host may too), and each rounding mode.
struct Mode {
  const char* Name;
  unsigned Mxcsr;  // DAZ and FTZ bits to set
  int Rounding;
};

inline constexpr unsigned Daz = 0x0040, Ftz = 0x8000;

inline constexpr Mode Modes[] = {
    {"nearest", 0, FE_TONEAREST},
    {"denormals-are-zero", Daz, FE_TONEAREST},
    {"flush-to-zero", Ftz, FE_TONEAREST},
    {"daz+ftz", Daz | Ftz, FE_TONEAREST},
    {"upward", 0, FE_UPWARD},
    {"downward", 0, FE_DOWNWARD},
    {"toward zero", 0, FE_TOWARDZERO},
    {"daz+ftz downward", Daz | Ftz, FE_DOWNWARD},
};

// The mode, set for the lifetime of the object.
class InMode {
 public:
  explicit InMode(const Mode& mode) : Rounding(std::fegetround()) {
#ifdef VORNCALC_TEST_MXCSR
    Saved = _mm_getcsr();
    _mm_setcsr(Saved | mode.Mxcsr);
#endif
    std::fesetround(mode.Rounding);
  }
  ~InMode() {
    std::fesetround(Rounding);
#ifdef VORNCALC_TEST_MXCSR
    _mm_setcsr(Saved);
#endif
  }
  InMode(const InMode&) = delete;
  InMode& operator=(const InMode&) = delete;

 private:
  int Rounding;
  unsigned Saved = 0;
};

}  // namespace ParserTests

// Expects the statement to throw a ParserException whose what() is exactly
// text; the second form also checks the formula that the exception carries.
#define EXPECT_PARSER_ERROR(statement, text)    \
  EXPECT_TRUE(::ParserTests::ThrowsParserError( \
      #statement, [&] { statement; }, text))
#define EXPECT_PARSER_ERROR_IN(statement, text, formula) \
  EXPECT_TRUE(::ParserTests::ThrowsParserError(          \
      #statement, [&] { statement; }, text, formula))
