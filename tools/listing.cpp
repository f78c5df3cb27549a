#include "tools/listing.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"
#include "tools/batch_mode.h"

namespace {

// The cells as the disassembler lists them, then the program that later
// evaluations run. Returns whether the formula compiled.
bool PrintListing(const std::string& text, int unitSystem) {
  MathUtils::Parser parser;
  try {
    PrepareCommandLine(parser, text, unitSystem);
    parser.Evaluate();
  } catch (const MathUtils::ParserException& error) {
    std::cerr << error.what() << '\n';
    return false;
  }
  std::cout << "cells:\n" << parser.Listing() << '\n';
  const std::string program = parser.ProgramListing();
  if (program.empty())
    std::cout << "program: none, the formula is one number\n";
  else
    std::cout << "program:\n" << program << '\n';
  return true;
}

}  // namespace

void AddListingOption(CLI::App& app, const int& unitSystem) {
  app.add_option_function<std::vector<std::string>>(
         "--listing",
         [&unitSystem](const std::vector<std::string>& formulas) {
           bool allCompiled = true;
           for (const std::string& formula : formulas) allCompiled &= PrintListing(formula, unitSystem);
           std::cout.flush();
           std::exit(allCompiled ? ExitAllEvaluated : ExitSomeFailed);
         },
         "print the bytecode of each formula as the disassembler lists it, and the program that "
         "later evaluations run, instead of the value")
      ->type_name("FORMULA");
}
