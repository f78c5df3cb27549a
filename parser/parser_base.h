// The parser: the one object a user of the library holds. Its operations
// are those below and nothing else; what it holds lives behind it, in the
// library's own engine (vocabulary, formula, settings, compiled formula),
// and each compilation on the stack of the call that compiles.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "parser/core/callables.h"
#include "parser/core/errors.h"
#include "parser/core/types.h"

namespace MathUtils {

struct Token;

namespace detail {

struct Vocabulary;
enum class Tier : std::uint8_t;

}  // namespace detail

class ParserBase {
 public:
  ParserBase();
  virtual ~ParserBase();
  ParserBase(const ParserBase&) = delete;
  ParserBase& operator=(const ParserBase&) = delete;

  virtual void InitVocabulary();
  virtual void InitFunctions() {}
  virtual void InitConstants() {}
  virtual void InitOperators() {}

  // A callback that assigns a formula or changes a definition while its
  // parser compiles or runs lets that compilation or run finish on what it
  // began with; the next evaluation compiles anew.
  void AssignFormula(std::string_view formula);
  const std::string& GetFormula() const;

  void AddFunction(std::string_view name, UnaryCallback callback, bool optimizable = true);
  void AddFunction(std::string_view name, ListCallback callback, bool optimizable = true);
  // A null callback of either form: refused like one.
  void AddFunction(std::string_view name, std::nullptr_t, bool optimizable = true) {
    AddFunction(name, UnaryCallback{nullptr}, optimizable);
  }
  void AddPostfixOperator(std::string_view name, UnaryCallback callback);
  void AddPrefixOperator(std::string_view name, UnaryCallback callback);

  // Callbacks with state: each call passes the context first, unchanged
  // (null is a context like any other). The context is the caller's, like
  // a plain callback: it must outlive every evaluation that may use it.
  void AddFunction(std::string_view name, UnaryContextCallback callback, void* context,
                   bool optimizable = true);
  void AddFunction(std::string_view name, ListContextCallback callback, void* context,
                   bool optimizable = true);
  void AddPostfixOperator(std::string_view name, UnaryContextCallback callback, void* context);
  void AddPrefixOperator(std::string_view name, UnaryContextCallback callback, void* context);

  // Callable objects (a lambda that captures, a function object, a
  // std::function): invocable as double(double), or as
  // double(std::span<const double>) for a function of any number of
  // arguments. The parser calls a copy of its own, kept while any compiled
  // formula may call it: until the parser is destroyed, or, once the name
  // is defined anew, until the next compilation that begins while no
  // callback runs. A lambda without captures is a plain callback.
  // An empty one (a std::function that holds nothing) is refused like a
  // null callback.
  template <detail::FunctionObject F>
  void AddFunction(std::string_view name, F&& callable, bool optimizable = true) {
    if (detail::HoldsNothing(callable)) RaiseError(Messages::NullFunction, -1);
    using Copy = detail::CallableCopy<std::decay_t<F>>;
    DefineKept(std::make_unique<Copy>(std::forward<F>(callable)), [&](void* context) {
      if constexpr (detail::UnaryCallable<F>)
        AddFunction(name, &Copy::CallUnary, context, optimizable);
      else
        AddFunction(name, &Copy::CallList, context, optimizable);
    });
  }
  template <detail::OperatorObject F>
  void AddPostfixOperator(std::string_view name, F&& callable) {
    AddOperatorObject(false, name, std::forward<F>(callable));
  }
  template <detail::OperatorObject F>
  void AddPrefixOperator(std::string_view name, F&& callable) {
    AddOperatorObject(true, name, std::forward<F>(callable));
  }

  void AddConstant(std::string_view name, double value);
  // Binds a name to a double owned by the caller; every evaluation reads
  // its current value.
  void AddVariable(std::string_view name, double* address);

  void SetOptimizer(bool on);

  // The math library that this parser's built-in functions and "^" call
  // (see MathLibrary): the C library by default. Choosing one rebinds the
  // built-in names of this parser's vocabulary, never another parser's; a
  // name the user defined anew keeps the user's definition. The formula
  // compiles anew at the next evaluation. Choosing a library that the
  // build lacks (MathLibraryAvailable) throws a ParserException.
  void SetMathLibrary(MathLibrary library);
  MathLibrary GetMathLibrary() const;
  // Defines the math functions that the calculator and the Python module
  // add to the default vocabulary, on this parser's math library (and
  // rebound with it like the built-ins): round (half away from zero),
  // trunc, floor, ceil, r2d, d2r, cbrt, log1p, expm1; mod(x, y) (C's fmod),
  // atan2(y, x) in degrees and atan2r in radians, hypot(x, y), pow(x, y);
  // where(c, a, b): a where c is not 0, b where it is 0, c where it is NaN.
  // A function of two or three arguments takes exactly that many.
  void AddMathFunctions();
  static bool MathLibraryAvailable(MathLibrary library);

  // Whether later evaluations may run as machine code generated at run
  // time (where this build and the system allow it), once a formula has
  // been evaluated often enough to repay the generation. On by default;
  // VORNCALC_MACHINE_CODE=0 in the environment makes the default off, =1
  // makes the code at the first later evaluation. Changing it compiles the
  // formula anew at the next evaluation.
  void SetMachineCode(bool on);
  // Bytes of machine code (instructions and their constants) that the
  // current formula runs as; 0 while it is interpreted.
  std::size_t MachineCodeSize() const;
  // A copy of the instructions of that machine code, for a disassembler;
  // empty while the formula is interpreted.
  std::vector<std::uint8_t> MachineCodeBytes() const;

  // The kinds of name a parser defines.
  enum class NameKind { Function, Constant, Variable, PostfixOperator, PrefixOperator };
  // Calls visit(kind, name) for every name defined when the call begins,
  // in no particular order. The visitor may define or redefine names; the
  // visit goes on over the names as they were.
  template <typename Visit>
  void ForEachName(Visit&& visit) const {
    using Visitor = std::remove_reference_t<Visit>;
    VisitNames([](void* context, NameKind kind,
                  std::string_view name) { (*static_cast<Visitor*>(context))(kind, name); },
               const_cast<void*>(static_cast<const void*>(&visit)));
  }

  // Compiles on the first call after any change, then runs the bytecode,
  // or the machine code made from it, called directly. Each call runs on
  // slots of its own: calls may nest (a callback that evaluates its own
  // parser), and several threads may evaluate one parser at once once it
  // has compiled, as long as none changes it (see the README).
  double Evaluate() { return EvalEntry.load(std::memory_order_acquire)(*Core); }

  // Evaluates the formula at results.size() points: at point i each listed
  // variable has the value Values[i], every other variable its current
  // value, and results[i] is bit for bit what Evaluate gives there. The
  // variables themselves are not written: the formula reads the arrays,
  // so that several threads may evaluate over arrays at once as they may
  // evaluate. A formula not yet compiled is compiled at the first point,
  // as Evaluate compiles it. Once the formula has been evaluated at a few
  // hundred points this way, machine code runs the loop over the points,
  // several points at once where the processor has vector registers.
  // *written, where given, counts the leading results written; it is right
  // also when an error or a callback's exception ends the call. results
  // may be one of the arrays of values itself (not another part of one).
  // Long arrays are spread over the threads of GetArrayThreads (see
  // SetArrayThreads), with the same results.
  void EvaluateArrays(std::span<const VariableArray> variables, std::span<double> results,
                      std::size_t* written = nullptr);
  // The same on this many threads for this call alone (0: the default,
  // DefaultArrayThreads).
  void EvaluateArrays(std::span<const VariableArray> variables, std::span<double> results, int threads,
                      std::size_t* written = nullptr);
  // How many threads an evaluation over arrays spreads its points over: 1
  // (the default) the calling thread alone, 0 DefaultArrayThreads.
  // Threads are started for each call that is long enough to repay them
  // (the calling thread times its first points: each thread takes a tenth
  // of a millisecond of work at least), and the call returns once the work
  // they took has ended; every result is the same bits as on one thread.
  // A formula that calls a callback of the user's runs on the calling
  // thread alone, point by point in order. A negative count is refused and
  // changes nothing. It changes how the points are computed, never what:
  // the formula is not compiled anew, and other threads may be evaluating
  // meanwhile.
  void SetArrayThreads(int threads);
  int GetArrayThreads() const;
  // The threads 0 stands for: the CPUs this process may run on (its
  // affinity mask and cgroup CPU quota), lowered by VORNCALC_NUM_THREADS,
  // or else OMP_NUM_THREADS, where set; read once per process and again
  // in a child after fork.
  static int DefaultArrayThreads();

  // The compiled formula (empty before the first compilation).
  std::span<const Cell> GetBytecode() const;
  // The compiled formula as text, one entry a line (see Disassemble).
  std::string Listing() const;
  // The program that later evaluations run, one instruction a line (see
  // DisassembleProgram); derived for the listing alone when no later
  // evaluation has run yet.
  // Empty before a compilation, for a formula that compiled to one number,
  // and for cells that the interpreter runs as they are.
  std::string ProgramListing() const;

  // The compiler's own steps, public so that the reader, a name check or
  // an error can be driven one at a time; parser/reader.h declares the
  // tokens, the syntax flags and the character sets they take.

  // Reads the next token of the formula at the reader's position (0 after
  // AssignFormula) and replaces flags with the set that fits it. Errors
  // send the parser back to compiling, as RaiseError does.
  Token ScanToken(SyntaxFlags& flags);
  // Refuses an empty name, a name with a character outside charSet (one of
  // IdentChars, OperatorChars, SymbolChars, or any other set), and one
  // that starts with a digit.
  void CheckName(std::string_view name, const char* charSet);
  // The door for every error about a formula or a definition: composes the
  // text from the message and the formula up to position (none for a
  // negative one, the whole formula for 0), and sends the parser back to
  // compiling.
  [[noreturn]] void RaiseError(std::string_view message, int position);
  // The operator priority of a code: binary operators, brackets, the comma
  // and the end have one; any other code is an internal error.
  std::int32_t Priority(std::int32_t code);

 protected:
  // Defines here every function, constant or operator that another parser
  // holds, as the definition operations would; the names are known valid.
  // The other parser must never change and outlive this one (the default
  // vocabulary): a parser without names of its own reads them there until
  // it defines one.
  void AdoptFunctions(const ParserBase& from);
  void AdoptConstants(const ParserBase& from);
  void AdoptOperators(const ParserBase& from);
  // Makes room for this many functions, constants, postfix and prefix
  // operators without growing; only before the first definition.
  void ReserveNames(std::size_t functions, std::size_t constants, std::size_t postfixOps,
                    std::size_t prefixOps);

  // Compiles the formula and returns its value, as the first Evaluate after
  // a change does.
  double CompileFormula();
  // The cell interpreter, which runs cells the program cannot express, and
  // the value of a formula that folded to one number.
  double ParseCmdCode();
  double ReturnConstant();

  // Replaces the compiled formula with cells of a subclass's own, as if a
  // compilation had made them: later evaluations derive and run them.
  void AssignBytecode(std::span<const Cell> cells);
  // Later evaluations interpreted before the machine code is made (1000,
  // or 0 where VORNCALC_MACHINE_CODE=1); takes effect at the next
  // compilation.
  void SetMachineCodeAfter(std::int32_t laterRuns);
  // At most this many points run at once in the machine code over arrays
  // (1, 2, 4 or 8; 8 by default, as many as the processor has); takes
  // effect at the next compilation.
  void SetArrayLanes(int lanes);
  // The fewest points an evaluation over arrays gives a thread of its own,
  // instead of the count measured on each call (0, the default).
  void SetArrayPointsPerThread(std::size_t points);
  // How many points the machine code over arrays of the current formula
  // runs at once; 0 where it has none (yet).
  int ArrayCodeLanes() const;
  // How the next evaluation computes the value.
  detail::Tier CurrentTier() const;

  // The position of the reader that ScanToken drives (0 after AssignFormula).
  std::int32_t Position() const;
  void SetPosition(std::int32_t position);
  // The registries, for a subclass that inspects them.
  const detail::Vocabulary& Registry() const;

 private:
  void VisitNames(void (*visit)(void*, NameKind, std::string_view), void* context) const;
  // Defines the name with the copy's address as context, then keeps the
  // copy; a definition that fails frees it.
  template <typename Define>
  void DefineKept(std::unique_ptr<detail::KeptCallable> copy, Define&& define) {
    ReserveKept();  // keeping it below cannot fail once it is defined
    define(copy->Context());
    Keep(std::move(copy));
  }
  void ReserveKept();
  void Keep(std::unique_ptr<detail::KeptCallable> copy);
  // An operator object on either side: prefix picks the registry.
  template <typename F>
  void AddOperatorObject(bool prefix, std::string_view name, F&& callable) {
    if (detail::HoldsNothing(callable)) RaiseError(Messages::NullOperator, -1);
    using Copy = detail::CallableCopy<std::decay_t<F>>;
    DefineKept(std::make_unique<Copy>(std::forward<F>(callable)), [&](void* context) {
      if (prefix)
        AddPrefixOperator(name, &Copy::CallUnary, context);
      else
        AddPostfixOperator(name, &Copy::CallUnary, context);
    });
  }

  std::atomic<detail::EvalRoutine> EvalEntry;
  std::unique_ptr<detail::Engine> Core;
};

}  // namespace MathUtils
