// vorncalc: the command-line calculator on a terminal, a stand-in for the
// CAD host's command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "calculator/random_draws.h"
#include "calculator/unit_systems.h"
#include "tools/batch_mode.h"
#include "tools/host_commands.h"
#include "tools/interactive_mode.h"
#include "tools/listing.h"
#include "tools/session.h"

namespace {

struct Options {
  int UnitSystem = 2;  // millimetres
  int Digits = DefaultDigits;
  std::optional<std::uint32_t> Seed;  // rnd draws from rand() without one
  std::vector<std::string> Formulas;
};

std::optional<std::uint32_t> ParseSeed(const std::string& text) {
  std::uint32_t seed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return seed;
}

void DefineOptions(CLI::App& app, Options& options) {
  app.set_version_flag("--version", "vorncalc " VORNCALC_VERSION);
  app.add_option_function<std::string>(
         "-u,--units",
         [&options](const std::string& text) {
           const auto number = ParseUnitSystem(text);
           if (!number)
             throw CLI::ValidationError("--units", "unknown unit '" + text +
                                                       "': use mm, cm, m, km, uin, mil, in, ft, "
                                                       "mi or a 32-bit integer");
           options.UnitSystem = *number;
         },
         "the document's unit system: mm (default), cm, m, km, uin, mil, in, ft, mi, or its "
         "number")
      ->type_name("UNIT");
  app.add_option_function<std::string>(
         "--digits",
         [&options](const std::string& text) {
           const auto digits = ParseDigits(text);
           if (!digits) throw CLI::ValidationError("--digits", "'" + text + "' is no number from 1 to 17");
           options.Digits = *digits;
         },
         "significant digits of the printed values, 1 to 17 (default 10, as the plug-in prints; 17 "
         "reads back as the same number)")
      ->type_name("N");
  app.add_option_function<std::string>(
         "--seed",
         [&options](const std::string& text) {
           options.Seed = ParseSeed(text);
           if (!options.Seed)
             throw CLI::ValidationError("--seed", "'" + text + "' is no number from 0 to 4294967295");
         },
         "start rnd's draws from this seed, so that a run can be repeated (the same draws on every "
         "machine); without it they differ from run to run")
      ->type_name("N");
  AddListingOption(app, options.UnitSystem);
  app.add_option("FORMULA", options.Formulas,
                 "formulas to evaluate (put -- before one that begins with -); without any, "
                 "one a line from standard input, or interactive on a terminal");
}

int Evaluate(const Options& options) {
  if (options.Seed) SeedRandomDraws(options.Seed);
  Session session(options.UnitSystem, options.Digits, HostCommandNames());
  if (!options.Formulas.empty()) return EvaluateTexts(options.Formulas, session);
  if (!isatty(STDIN_FILENO)) return EvaluateLines(std::cin, session);
  return RunInteractive(session);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"A calculator and unit converter for the CAD command line.", "vorncalc"};
  Options options;
  DefineOptions(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);  // prints help, version or the error
    return status == 0 ? ExitAllEvaluated : ExitUsageError;
  }
  return Evaluate(options);
}
