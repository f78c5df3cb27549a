// One formula of the set, compiled by our parser or by the peer and bound to
// its own x and y, ready to be evaluated again and again.
#pragma once

#include <fparser.hh>
#include <span>
#include <string>

#include "bench/expression_set.h"
#include "parser/parser.h"

namespace Bench {

// Defines what the set needs beyond the default vocabulary: x and y bound
// to the given doubles, and clamp.
void PrepareOurParser(MathUtils::Parser& parser, double* x, double* y);
// Defines pi and clamp on the peer, which has no clamp of its own.
void PreparePeerParser(FunctionParser& parser);
// Parses with x and y as the variables; throws std::runtime_error on failure.
void ParsePeerFormula(FunctionParser& parser, const std::string& text);

class OurFormula {
 public:
  // Compiles right away; FirstValue() is what that first Evaluate returned.
  // Later evaluations run as machine code unless machineCode is false.
  explicit OurFormula(const char* text, bool optimizer = true, bool machineCode = true);
  OurFormula(const OurFormula&) = delete;
  OurFormula& operator=(const OurFormula&) = delete;

  double At(double x, double y) {
    X = x;
    Y = y;
    return Parser.Evaluate();
  }
  double Sweep(std::span<const Point> points) {
    double total = 0;
    for (const Point& p : points) total += At(p.X, p.Y);
    return total;
  }
  double FirstValue() const { return First; }
  // Compiles anew at the given point and returns the compile-time value.
  double CompileAt(double x, double y);
  const MathUtils::Parser& Compiled() const { return Parser; }

 private:
  double X = 0;
  double Y = 0;
  double First = 0;
  bool Optimizer;
  MathUtils::Parser Parser;
};

class PeerFormula {
 public:
  // Parses and runs the peer's Optimize().
  explicit PeerFormula(const char* text);
  PeerFormula(const PeerFormula&) = delete;
  PeerFormula& operator=(const PeerFormula&) = delete;

  double At(double x, double y) {
    Variables[0] = x;
    Variables[1] = y;
    return Parser.Eval(Variables);
  }
  double Sweep(std::span<const Point> points) {
    double total = 0;
    for (const Point& p : points) total += At(p.X, p.Y);
    return total;
  }

 private:
  double Variables[2] = {0, 0};
  FunctionParser Parser;
};

}  // namespace Bench
