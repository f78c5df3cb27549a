// What a parser is behind its facade (parser/parser_base.h): its vocabulary
// and the callable objects it keeps, its formula and settings, and the
// current compiled formula with the tier that runs it. A compilation is
// not part of it: each lives on the stack of the call that compiles.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parser/core/callables.h"
#include "parser/core/errors.h"
#include "parser/core/types.h"
#include "parser/engine/compiled_formula.h"
#include "parser/front/array_point.h"
#include "parser/front/bytecode.h"
#include "parser/front/vocabulary.h"

namespace MathUtils::detail {

class Engine {
 public:
  // entry: the facade's, which Evaluate calls; the engine sets it.
  explicit Engine(std::atomic<EvalRoutine>& entry);
  ~Engine();
  // A parser is often built, used once and destroyed (the calculator builds
  // one for each command line): each thread keeps the memory of the last
  // engine it destroyed for the next it builds.
  static void* operator new(std::size_t size);
  static void operator delete(void* memory, std::size_t size);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The vocabulary. Each definition checks the name (and the callback or
  // address) first. Every definition of a function or operator goes
  // through SetFunction and SetOperator: the copy of a callable object
  // that the name called before is retired.
  void CheckName(std::string_view name, const char* charSet);
  const Vocabulary& Names() const { return Words; }
  void SetFunction(std::string_view name, const FunctionDef& definition);
  void SetOperator(bool prefix, std::string_view name, const OperatorDef& definition);
  void SetConstant(std::string_view name, double value);
  void SetVariable(std::string_view name, double* address);
  void Adopt(const Engine& from, bool functions, bool constants, bool operators);
  // Chooses the math library: the built-in functions of this parser's
  // vocabulary call that library's functions from now on (a name defined
  // anew keeps its definition), and so does "^".
  void SetLibrary(MathLibrary library);
  // Defines the math functions beyond the defaults on the chosen library.
  void DefineMathFunctions();
  void ReserveNames(std::size_t functions, std::size_t constants, std::size_t postfixOps,
                    std::size_t prefixOps);
  // Keeping a copy that a definition calls cannot fail once it is defined:
  // room for it is made first.
  void ReserveKept() { Kept.Live.reserve(Kept.Live.size() + 1); }
  void Keep(std::unique_ptr<KeptCallable> copy) { Kept.Live.push_back(std::move(copy)); }

  // The formula. A compilation under way reads the text it began with,
  // which a callback's assignment leaves alone (see FormulaText).
  const std::string& Formula() const { return Source.Newest(); }
  void AssignFormula(std::string_view formula);
  // The position of the reader driven one token at a time.
  std::int32_t Pos = 0;

  // Settings; each change compiles the formula anew at the next evaluation.
  template <typename T>
  void Change(T& setting, T value) {
    setting = value;
    RequireCompilation();
  }
  struct EngineSettings {
    bool FoldingOn = true;
    bool MachineCodeOn = true;
    std::int32_t MachineCodeAfter = 0;  // later evaluations interpreted first
    int ArrayLanes = 8;
    // See SetMathLibrary: changed with the built-in names (SetLibrary).
    MathLibrary Library = MathLibrary::C;
    // Threads that an evaluation over arrays spreads over (0: every core);
    // how the points are computed, never what: it changes nothing
    // compiled, and may change while other threads evaluate.
    std::atomic<int> ArrayThreads{1};
    // The fewest points of a thread's part; 0: measured on each call.
    std::size_t PointsPerThread = 0;
  } Settings;

  // The next evaluation compiles the formula afresh; a compilation under
  // way when this happens keeps its result from the parser.
  void RequireCompilation();
  // An error about the formula or a definition: composed from the formula
  // (see RaiseFormulaError), and the parser sent back to compiling.
  [[noreturn]] void RaiseError(std::string_view message, int position);

  // Compiles the formula into a compiled formula of its own and installs
  // it, unless a callback changed the formula or a definition meanwhile;
  // returns its value. point: the first point of an evaluation over
  // arrays, whose listed variables are read there; cells that a callback's
  // change keeps from the parser are then copied to notInstalled.
  double Compile(const ArrayPoint* point = nullptr, std::vector<Cell>* notInstalled = nullptr);

  // Evaluation (evaluation.cpp).
  Tier CurrentTier() const { return Running.State.load(std::memory_order_acquire); }
  const CompiledFormula* Compiled() const { return Current; }
  void AssignBytecode(std::span<const Cell> cells);
  double RunCurrentCells() { return RunCells(Current->Cells.Data(), Current->Derived.Raise); }
  double ReturnConstant() const;
  std::string ProgramListing() const;
  // The name under which the address (with the context, for a callback
  // called with one) is defined (the least, when several are), or "?".
  std::string NameOf(const void* address, const void* context) const;
  static double EnterCompile(Engine& engine);

  // Evaluation over arrays (array_evaluation.cpp).
  void EvaluateArrays(std::span<const VariableArray> variables, std::span<double> results,
                      std::size_t* written, int threads);
  int ArrayCodeLanes() const;

 private:
  void Enter(Tier tier, EvalRoutine routine);
  void EnterRun(Tier tier);
  void RetireKept(const void* context);
  // Rebinds every built-in function name that calls the other library.
  void BindBuiltins(MathLibrary library);
  template <typename Rows>
  void BindRows(Rows rows, Rows otherRows);

  // The compiled formula that a compilation fills, which it owns until it
  // installs or releases it: the current one where nothing can be running
  // it, else the engine's own where free, else a new one.
  CompiledFormula* TakeCompiledFormula();
  CompiledFormula* TakeCompiledFormulaAside();
  // Makes it current; the one it replaces is released, or kept while a
  // callback may still run it.
  void Install(CompiledFormula* compiled);
  // Deletes one of the heap, frees the engine's own for the next compilation.
  void Release(CompiledFormula* compiled);
  void KeepOrRelease(CompiledFormula* compiled);
  void InstallCompiled(CompiledFormula* compiled, int cellsWritten);

  // evaluation.cpp: the routines behind Evaluate.
  static double EnterConstant(Engine& engine);
  static double EnterCells(Engine& engine);
  static double DeriveAndRun(Engine& engine);
  static double RunProgram(Engine& engine);
  static double RunArithmetic(Engine& engine);
  static double CountLaterRuns(Engine& engine);
  static double RunMachineCodeCallingBack(Engine& engine);
  double Evaluate() { return Running.Entry.load(std::memory_order_acquire)(*this); }
  double RunCells(const Cell* cells, PowFunction raise);
  // Under Preparing: derives the program / makes the machine code, once.
  void PrepareLaterRuns();
  void SwitchToMachineCode();

  // array_evaluation.cpp: the loops over the points of EvaluateArrays.
  void ArraysFrom(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                  std::size_t& written, int threads);
  void ArraysCompiling(std::span<const VariableArray> variables, std::span<double> results,
                       std::size_t& written, int threads);
  void ArraysByCells(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                     std::size_t& written);
  void ArraysOverCells(const Cell* cells, PowFunction raise, ArrayPoint& point, std::size_t first,
                       std::span<double> results, std::size_t& written);
  void ArraysByProgram(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                       std::size_t& written);
  bool ArraysByMachineCode(std::size_t first, std::span<const VariableArray> variables,
                           std::span<double> results, std::size_t& written);
  void ArraysOnThreads(std::size_t first, std::span<const VariableArray> variables, std::span<double> results,
                       std::size_t& written, int threads);
  const ArrayCode* ArrayCodeFor(std::size_t points);

  // The tier that runs the current compiled formula, and its routine
  // behind Evaluate (the facade's entry); Enter sets both.
  struct RunningTier {
    std::atomic<EvalRoutine>& Entry;
    std::atomic<Tier> State{Tier::Compile};
  } Running;
  Vocabulary Words;
  // The formula's text, which stays put while compilations read it.
  struct FormulaText {
    // Written in place while no compilation reads it.
    std::string Text;
    // Formulas assigned while compilations read the text: each its own
    // string on the heap, where it stays put, the newest being the formula.
    // When the last compilation under way ends, the newest becomes Text.
    std::vector<std::unique_ptr<std::string>> Assigned;
    const std::string& Newest() const { return Assigned.empty() ? Text : *Assigned.back(); }
    void Assign(std::string_view formula, bool read);
    void Settle();
  } Source;
  // What a compilation checks when it ends: whether the parser changed
  // while it ran (then it keeps its result from the parser), and whether
  // another one is still under way further up the stack.
  struct CompilationCount {
    std::uint32_t Changes = 0;
    int UnderWay = 0;
  } Compilations;
  friend class CompilationUnderWay;
  // Owned: released by the engine (Release), null while a compilation has
  // taken it.
  CompiledFormula* Current = nullptr;
  // The compiled formulas that are not current: kept so that compiling
  // again allocates nothing, or so that a callback still running one
  // returns into live code.
  struct HeldFormulas {
    // The engine's own, so that a parser that compiles one formula at a
    // time allocates none.
    CompiledFormula Own;
    bool OwnFree = true;
    // Pulled away while a callback ran: released at the next compilation
    // that begins when none runs.
    std::vector<CompiledFormula*> Retired;
  } Held;
  // The copies of callable objects that definitions call, and those whose
  // names were defined anew since: retired ones are freed with the retired
  // compiled formulas, when no callback runs and no compilation is under
  // way (a callback run while a formula compiles may be one of them).
  struct KeptCallables {
    std::vector<std::unique_ptr<KeptCallable>> Live;
    std::vector<std::unique_ptr<KeptCallable>> Retired;
  } Kept;
  // Serialises the preparation of later runs between threads.
  std::mutex Preparing;
};

}  // namespace MathUtils::detail
