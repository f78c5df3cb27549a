// The replaced operator new: every form counts its allocation and the bytes
// requested, and every form of delete gives exactly those bytes back.
#include "bench/allocation_counter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Keeps the compiler from eliding an allocation whose memory is never read.
void* volatile Escaped = nullptr;

struct alignas(64) Aligned {
  char Bytes[100];
};

struct Form {
  const char* Name;
  std::size_t Size;       // bytes requested
  std::size_t Alignment;  // of the address returned
  void* (*Allocate)();
  void (*Release)(void*);
};

const Form Forms[] = {
    {"new", sizeof(double), alignof(double), [] { return static_cast<void*>(new double(1)); },
     [](void* p) { delete static_cast<double*>(p); }},
    {"new[]", 3 * sizeof(int), alignof(int), [] { return static_cast<void*>(new int[3]); },
     [](void* p) { delete[] static_cast<int*>(p); }},
    {"nothrow new", 40, alignof(std::max_align_t),
     [] { return static_cast<void*>(new (std::nothrow) char[40]); },
     [](void* p) { delete[] static_cast<char*>(p); }},
    {"aligned new", sizeof(Aligned), 64, [] { return static_cast<void*>(new Aligned); },
     [](void* p) { delete static_cast<Aligned*>(p); }},
    {"aligned new[]", 2 * sizeof(Aligned), 64, [] { return static_cast<void*>(new Aligned[2]); },
     [](void* p) { delete[] static_cast<Aligned*>(p); }},
    {"operator new", 24, alignof(std::max_align_t), [] { return ::operator new(24); },
     [](void* p) { ::operator delete(p, 24); }},
};

TEST(AllocationCounter, EveryFormCountsAndGivesBackItsBytes) {
  for (const Form& form : Forms) {
    SCOPED_TRACE(form.Name);
    const std::size_t allocations = Bench::AllocationCount();
    const std::int64_t before = Bench::LiveBytes();
    void* memory = form.Allocate();
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % form.Alignment, 0u);
    EXPECT_EQ(Bench::AllocationCount() - allocations, 1u);
    EXPECT_EQ(Bench::LiveBytes() - before, static_cast<std::int64_t>(form.Size));
    form.Release(memory);
    EXPECT_EQ(Bench::LiveBytes(), before);
  }
}

TEST(AllocationCounter, BytesKeptAreWhatOutlivesTheWork) {
  std::vector<double> kept;
  EXPECT_EQ(Bench::BytesKeptBy([&] { kept.reserve(100); }), 800);
  // Grown and shrunk inside: only the final buffer is kept.
  std::unique_ptr<std::string> text;
  const std::int64_t bytes = Bench::BytesKeptBy([&] {
    std::vector<int> scratch(1000);
    Escaped = scratch.data();
    text = std::make_unique<std::string>(200, 'x');
  });
  EXPECT_GE(bytes, static_cast<std::int64_t>(sizeof(std::string) + 201));
  EXPECT_LT(bytes, static_cast<std::int64_t>(sizeof(std::string) + 1000));
  const auto dropped = [] {
    std::vector<int> gone(50);
    Escaped = gone.data();
  };
  EXPECT_EQ(Bench::BytesKeptBy(dropped), 0);
  EXPECT_EQ(Bench::AllocationsDuring(dropped), 1u);
}

}  // namespace
