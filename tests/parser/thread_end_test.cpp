// A thread may end inside a callback, by pthread_exit or by cancellation
// from another thread, on every tier: the unwinding passes the machine
// code's frame as it passes the interpreter's, and the process goes on.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <string>
#include <vector>

#include "parser/parser.h"
#include "parser/program/program.h"
#include "parser/x86/machine_code.h"

namespace ParserTests {
namespace {

enum class Ending { Exit, Cancel };

// How the thread evaluates: one point at a time, over arrays once the
// machine code is made, over arrays at the call that compiles, or over
// arrays on 8 threads (a formula with a callback stays on the calling
// thread).
enum class Calls { Evaluate, Arrays, ArraysCompiling, ArraysOnThreads };

struct Worker {
  bool MachineCode = false;
  Ending How = Ending::Exit;
  Calls Using = Calls::Evaluate;
  std::atomic<bool> Armed{false};     // the next call of the callback ends the thread
  std::atomic<bool> Inside{false};    // the callback waits to be cancelled
  std::atomic<bool> Returned{false};  // the evaluation came back: the thread did not end
  bool MadeMachineCode = false;
  double X = 3;
  std::vector<double> Xs = std::vector<double>(20000, 3), Results = std::vector<double>(20000);
  const MathUtils::VariableArray Arrays[1] = {{&X, Xs.data()}};
};

thread_local Worker* Current = nullptr;

double Slow(double v) {
  Worker& worker = *Current;
  if (!worker.Armed) return v;
  if (worker.How == Ending::Exit) pthread_exit(nullptr);
  worker.Inside = true;
  for (;;) {
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);  // a cancellation point
  }
}

// The sanitizer of g++ 12 trips over the red zones of an instrumented frame
// that a cancellation unwinds (see parser/program/program.h): this frame between
// the thread and the parser is no more instrumented than the parser's own.
MATHUTILS_FRAME_UNSANITIZED void EvaluateOnce(MathUtils::Parser& parser, Worker& worker) {
  if (worker.Using == Calls::Evaluate)
    parser.Evaluate();
  else
    parser.EvaluateArrays(worker.Arrays, worker.Results, worker.Using == Calls::ArraysOnThreads ? 8 : 1);
}

void* Work(void* argument) {
  Worker& worker = *static_cast<Worker*>(argument);
  Current = &worker;
  MathUtils::Parser parser;
  parser.SetMachineCode(worker.MachineCode);
  parser.AddVariable("x", &worker.X);
  parser.AddFunction("slow", Slow, false);
  parser.AssignFormula("x + slow(x)");
  if (worker.Using != Calls::ArraysCompiling)
    for (int run = 0; run < (worker.Using == Calls::Evaluate ? 2000 : 2); ++run) EvaluateOnce(parser, worker);
  worker.MadeMachineCode = parser.MachineCodeSize() > 0;
  worker.Armed = true;
  EvaluateOnce(parser, worker);
  worker.Returned = true;
  return nullptr;
}

void EndInsideCallback(bool machineCode, Ending how, Calls calls = Calls::Evaluate) {
  Worker worker;
  worker.MachineCode = machineCode;
  worker.How = how;
  worker.Using = calls;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, Work, &worker), 0);
  if (how == Ending::Cancel) {
    while (!worker.Inside) {
      const timespec pause{0, 100000};
      nanosleep(&pause, nullptr);
    }
    ASSERT_EQ(pthread_cancel(thread), 0);
  }
  void* result = nullptr;
  ASSERT_EQ(pthread_join(thread, &result), 0);
  EXPECT_FALSE(worker.Returned);
  EXPECT_EQ(result, how == Ending::Cancel ? PTHREAD_CANCELED : nullptr);
  if (machineCode && calls == Calls::Evaluate && MathUtils::detail::MachineCode::Supported()) {
    EXPECT_TRUE(worker.MadeMachineCode);
  }
}

TEST(ThreadEndTest, PthreadExitInsideACallbackEndsOnlyThatThread) {
  for (bool machineCode : {false, true}) {
    SCOPED_TRACE(machineCode ? "machine code" : "interpreted");
    EndInsideCallback(machineCode, Ending::Exit);
  }
}

TEST(ThreadEndTest, ACancelledThreadEndsInsideACallback) {
  for (bool machineCode : {false, true}) {
    SCOPED_TRACE(machineCode ? "machine code" : "interpreted");
    EndInsideCallback(machineCode, Ending::Cancel);
  }
}

// Over arrays, on every tier and at the call that compiles: under the
// address sanitizer too, the unwinding passes the loops over the points.
TEST(ThreadEndTest, AThreadEndsInsideACallbackOverArrays) {
  for (const Calls calls : {Calls::Arrays, Calls::ArraysCompiling, Calls::ArraysOnThreads})
    for (const Ending how : {Ending::Exit, Ending::Cancel})
      for (bool machineCode : {false, true}) {
        SCOPED_TRACE(std::string(machineCode ? "machine code" : "interpreted") +
                     (how == Ending::Exit ? ", exit" : ", cancel") +
                     (calls == Calls::ArraysCompiling ? ", compiling" : "") +
                     (calls == Calls::ArraysOnThreads ? ", on threads" : ""));
        EndInsideCallback(machineCode, how, calls);
      }
}

}  // namespace
}  // namespace ParserTests

#endif
