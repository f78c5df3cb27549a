#include "bench/formulas.h"

#include <numbers>
#include <stdexcept>

namespace Bench {

namespace {

double OurClamp(std::span<const double> arguments) {
  if (arguments.size() != 3) throw std::invalid_argument("clamp takes three arguments");
  return Clamp(arguments[0], arguments[1], arguments[2]);
}

double PeerClamp(const double* arguments) { return Clamp(arguments[0], arguments[1], arguments[2]); }

}  // namespace

void PrepareOurParser(MathUtils::Parser& parser, double* x, double* y) {
  parser.AddVariable("x", x);
  parser.AddVariable("y", y);
  parser.AddMathFunctions();
  parser.AddFunction("clamp", OurClamp, true);
}

void PreparePeerParser(FunctionParser& parser) {
  parser.AddConstant("pi", std::numbers::pi);  // refused harmlessly if built in
  if (!parser.AddFunction("clamp", PeerClamp, 3))
    throw std::runtime_error("fparser refuses the function clamp");
}

void ParsePeerFormula(FunctionParser& parser, const std::string& text) {
  const int errorAt = parser.Parse(text, "x,y");
  if (errorAt >= 0)
    throw std::runtime_error("fparser cannot parse \"" + text + "\" at " + std::to_string(errorAt) + ": " +
                             parser.ErrorMsg());
}

OurFormula::OurFormula(const char* text, bool optimizer, bool machineCode) : Optimizer(optimizer) {
  PrepareOurParser(Parser, &X, &Y);
  Parser.SetMachineCode(machineCode);
  Parser.AssignFormula(text);
  Parser.SetOptimizer(optimizer);
  First = Parser.Evaluate();
}

double OurFormula::CompileAt(double x, double y) {
  X = x;
  Y = y;
  Parser.SetOptimizer(Optimizer);  // marks the formula for compilation
  return Parser.Evaluate();
}

PeerFormula::PeerFormula(const char* text) {
  PreparePeerParser(Parser);
  ParsePeerFormula(Parser, text);
  Parser.Optimize();
}

}  // namespace Bench
