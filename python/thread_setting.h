// How many threads a Formula's call over arrays spreads its points over:
// the Formula's own threads=, else the process-wide default (the parser's:
// the CPUs the process may run on, lowered by VORNCALC_NUM_THREADS or
// OMP_NUM_THREADS), shared out among the calls over
// arrays under way at once. A pool of threads that each call a Formula
// (Dask's threaded scheduler, one chunk a thread) thus runs each call on
// about one thread, not each on every core; a call alone gets them all.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

namespace PythonModule {

// threads= and set_num_threads(): None (threads= only) or an int of at
// least 1; ValueError below 1, TypeError for anything but an int.
std::optional<int> ReadThreads(const pybind11::handle threads);

int DefaultThreads();
// Returns the default it replaces.
int SetDefaultThreads(int threads);

// One call over arrays under way, counted while it lasts.
class ArrayCallUnderWay {
 public:
  explicit ArrayCallUnderWay(std::optional<int> threads);
  ~ArrayCallUnderWay();
  ArrayCallUnderWay(const ArrayCallUnderWay&) = delete;
  ArrayCallUnderWay& operator=(const ArrayCallUnderWay&) = delete;

  // For the next piece of the call: the calls under way change meanwhile.
  int Threads() const;

 private:
  std::optional<int> Given;
};

}  // namespace PythonModule
