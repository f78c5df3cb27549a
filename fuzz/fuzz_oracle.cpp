#include "fuzz_oracle.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "parser/math/builtins.h"

namespace FuzzOracle {

namespace {

// Every message the parser raises, in full: the library's own list, with
// the message of a list function called without arguments completed by the
// name of each built-in list function. A composed error text is one of
// these, optionally followed by the formula.
std::vector<std::string> ListKnownMessages() {
  std::vector<std::string> known;
  for (std::string_view message : MathUtils::Messages::All) {
    if (message != MathUtils::Messages::NoArgumentsFor) {
      known.emplace_back(message);
      continue;
    }
    for (const auto& function : MathUtils::detail::BuiltinListFunctions())
      known.push_back(std::string(message).append(function.Name) + ".");
  }
  return known;
}

const std::vector<std::string> KnownMessages = ListKnownMessages();

std::string_view MatchingMessage(std::string_view text) {
  std::string_view best;
  for (std::string_view message : KnownMessages)
    if (text.starts_with(message) && message.size() > best.size()) best = message;
  return best;
}

// What may follow the message: nothing, the whole formula, or a leading
// part of it with the marker. what() is a C string, so a formula holding a
// NUL shows only up to it (the reader stops there as well).
bool IsComposedTail(std::string_view tail, std::string_view formula) {
  if (tail.empty()) return true;
  formula = formula.substr(0, formula.find('\0'));
  if (tail[0] != ' ') return false;
  tail.remove_prefix(1);
  if (tail == formula) return true;
  constexpr std::string_view Marker = " <- here";
  if (!tail.ends_with(Marker)) return false;
  tail.remove_suffix(Marker.size());
  return !tail.empty() && formula.starts_with(tail);
}

// With FUZZ_MESSAGE_TALLY set, the run ends by listing how often each
// message was met: a replay of a corpus shows which errors it reaches.
class MessageTally {
 public:
  void Count(std::string_view message) {
    if (Enabled) ++Counts[message];
  }
  ~MessageTally() {
    if (!Enabled) return;
    for (const auto& [message, count] : Counts)
      std::fprintf(stderr, "tally %8d  %.*s\n", count, static_cast<int>(message.size()), message.data());
  }

 private:
  bool Enabled = std::getenv("FUZZ_MESSAGE_TALLY") != nullptr;
  std::map<std::string_view, int> Counts;
};

MessageTally Tally;

}  // namespace

void Fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "\n*** ORACLE VIOLATION: %.*s\n*** %s\n", static_cast<int>(what.size()), what.data(),
               std::string(detail).c_str());
  std::fflush(stderr);
  std::abort();
}

bool SameValue(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool IsKnownMessage(std::string_view text) { return !MatchingMessage(text).empty(); }

void ExpectKnownFailure(const MathUtils::ParserException& error, std::string_view formula) {
  const std::string_view text = error.what();
  const std::string_view message = MatchingMessage(text);
  if (message.empty()) Fail("a ParserException with a foreign message", Printable(text));
  Tally.Count(message);
  // Texts raised outside a formula's context carry the message alone.
  if (!IsComposedTail(text.substr(message.size()), formula))
    Fail("an error text that is not the message followed by the formula",
         Printable(text) + "\n*** formula: " + Printable(formula));
}

// The error is about the formula the evaluation began with: a callback may
// assign another while it runs.
Outcome EvaluateOnce(MathUtils::Parser& parser) {
  Outcome outcome;
  const std::string formula = parser.GetFormula();
  try {
    outcome.Value = parser.Evaluate();
  } catch (const MathUtils::ParserException& error) {
    ExpectKnownFailure(error, formula);
    outcome.Failed = true;
    outcome.Error = error.what();
  } catch (const std::exception& other) {
    Fail("an exception other than ParserException", other.what());
  }
  return outcome;
}

namespace {

std::string Describe(const Outcome& outcome) {
  if (outcome.Failed) return "error: " + Printable(outcome.Error);
  char text[64];
  std::snprintf(text, sizeof text, "value %.17g (0x%016llx)", outcome.Value,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(outcome.Value)));
  return text;
}

bool SameOutcome(const Outcome& a, const Outcome& b) {
  if (a.Failed || b.Failed) return a.Failed == b.Failed && a.Error == b.Error;
  return SameValue(a.Value, b.Value);
}

}  // namespace

Outcome EvaluateThrice(Probe& parser, std::string_view formula) {
  const Outcome first = EvaluateOnce(parser);
  for (int run = 2; run <= 3; ++run) {
    const Outcome later = EvaluateOnce(parser);
    if (!SameOutcome(first, later))
      Fail("evaluation " + std::to_string(run) + " disagrees with the first",
           Printable(formula) + "\n*** first: " + Describe(first) + "\n*** later: " + Describe(later));
  }
  if (!first.Failed) {
    if (parser.MachineCodeExpected() && parser.MachineCodeSize() == 0)
      Fail("the third evaluation ran no machine code", Printable(formula));
    const Outcome cells{false, parser.RunCells(), {}};
    if (!SameOutcome(first, cells))
      Fail("the cell interpreter disagrees with the first evaluation",
           Printable(formula) + "\n*** first: " + Describe(first) + "\n*** cells: " + Describe(cells));
  }
  return first;
}

void ExpectSameOutcome(const Outcome& folded, const Outcome& unfolded, std::string_view formula) {
  if (!SameOutcome(folded, unfolded))
    Fail("folding on and off disagree", Printable(formula) + "\n*** folding on:  " + Describe(folded) +
                                            "\n*** folding off: " + Describe(unfolded));
}

void ExpectStillUsable(Probe& parser, std::string_view previous) {
  parser.AssignFormula("(7-1)/4+2*3");
  const Outcome outcome = EvaluateThrice(parser, "(7-1)/4+2*3");
  if (outcome.Failed || outcome.Value != 7.5)
    Fail("the parser no longer evaluates a plain formula after",
         Printable(previous) + "\n*** got " + Describe(outcome));
}

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

}  // namespace FuzzOracle
