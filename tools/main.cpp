// vorncalc: the command-line calculator on a terminal, a stand-in for the
// CAD host's command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

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
  std::vector<std::string> Formulas;
};

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
  AddListingOption(app, options.UnitSystem);
  app.add_option("FORMULA", options.Formulas,
                 "formulas to evaluate (put -- before one that begins with -); without any, "
                 "one a line from standard input, or interactive on a terminal");
}

int Evaluate(const Options& options) {
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
