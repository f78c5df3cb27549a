// vorncalc --listing: the cells and the derived program of a command line,
// compiled with the calculator's vocabulary in the given unit system.
#include <gtest/gtest.h>

#include "tests/tools/child_process.h"

namespace {

TEST(Listing, PrintsTheCellsAndTheProgramOfEachFormula) {
  const struct {
    std::vector<std::string> Arguments;
    std::string Out;
    std::string Err;
    int ExitStatus;
  } runs[] = {
      {{"-u", "m", "--listing", "2*SIN(30)+5mm"},
       "cells:\n1 VALUE 2\n2 VALUE 30\n2 FUNC 1 sin\n1 MUL\n2 VALUE 0.005\n1 ADD\nEND\n"
       "program:\ns2 = CALL sin 30\ns1 = MUL 2, s2\ns1 = ADD s1, 0.005\nRESULT s1\n",
       "",
       0},
      // the units are read however the options are ordered
      {{"--listing", "5mm + rnd(1)", "-u", "mm"},
       "cells:\n1 VALUE 5\n2 VALUE 1\n2 FUNC 1 rnd\n1 ADD\nEND\n"
       "program:\ns2 = CALL rnd 1\ns1 = ADD 5, s2\nRESULT s1\n",
       "",
       0},
      {{"--listing", "pi*2"},
       "cells:\n1 VALUE 6.283185307179586\nEND\nprogram: none, the formula is one number\n",
       "",
       0},
      {{"--listing", "Line", "1"},
       "cells:\n1 VALUE 1\nEND\nprogram: none, the formula is one number\n",
       "Unknown token found: line <- here\n",
       1},
  };
  for (const auto& run : runs) {
    const Finished finished = RunVorncalc(run.Arguments);
    SCOPED_TRACE(run.Arguments[run.Arguments.size() - 1]);
    EXPECT_EQ(finished.Out, run.Out);
    EXPECT_EQ(finished.Err, run.Err);
    EXPECT_EQ(finished.ExitStatus, run.ExitStatus);
  }
}

}  // namespace
