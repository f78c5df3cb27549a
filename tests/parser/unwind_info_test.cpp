// The unwind description read back as an unwinder reads it: the CFA rule
// and the saved registers replayed up to a code offset must be what the
// frame steps said, whatever the distances between the steps and the
// sizes of the numbers; and a child forked while another thread registers
// descriptions makes machine code of its own.
#include "parser/x86/unwind_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "frame_replay.h"
#include "parser/parser.h"
#include "parser/x86/machine_code.h"

namespace ParserTests {
namespace {

using MathUtils::detail::FrameStep;
using MathUtils::detail::UnwindInfo;

TEST(UnwindInfoTest, StepsReadBackAtEveryOffset) {
  // Distances of 0, 1, 63, 64, 255, 256, 65535 and 65536 bytes, and
  // numbers of one, two and three bytes.
  const std::vector<FrameStep> steps = {
      {1, FrameStep::CfaOffset, 0, 16},    {1, FrameStep::Saved, 6, 16},
      {2, FrameStep::CfaRegister, 6, 0},   {65, FrameStep::CfaOffset, 0, 200},
      {129, FrameStep::Saved, 3, 8 * 300}, {384, FrameStep::Cfa, 7, 20000},
      {640, FrameStep::Restored, 6, 0},    {66175, FrameStep::CfaOffset, 0, 24},
      {131711, FrameStep::Cfa, 7, 8},
  };
  const std::uintptr_t code = 0x12345000;
  const std::size_t size = 131712;
  const std::vector<std::uint8_t> bytes = UnwindInfo::Describe(code, size, steps);

  ReplayedFrame expected;
  expected.CfaRegister = sizeof(void*) == 8 ? 7 : 4;
  expected.CfaOffset = AddressBytes;
  std::size_t next = 0;
  for (std::size_t offset :
       {0, 1, 2, 3, 64, 65, 128, 129, 383, 384, 639, 640, 66174, 66175, 131710, 131711}) {
    while (next < steps.size() && steps[next].CodeOffset <= offset) {
      const FrameStep& step = steps[next++];
      switch (step.Is) {
        case FrameStep::CfaOffset: expected.CfaOffset = static_cast<std::uint64_t>(step.Offset); break;
        case FrameStep::CfaRegister: expected.CfaRegister = step.Register; break;
        case FrameStep::Cfa:
          expected.CfaRegister = step.Register;
          expected.CfaOffset = static_cast<std::uint64_t>(step.Offset);
          break;
        case FrameStep::Saved: expected.Saved[step.Register] = -step.Offset; break;
        case FrameStep::Restored: expected.Saved.erase(step.Register); break;
      }
    }
    const ReplayedFrame replayed = Replay(bytes, offset, code, size);
    EXPECT_TRUE(replayed == expected)
        << "at offset " << offset << ": CFA r" << replayed.CfaRegister << "+" << replayed.CfaOffset
        << ", expected r" << expected.CfaRegister << "+" << expected.CfaOffset;
  }
}

#if !defined(_WIN32)
// The child's exit status, or -1 where it ran past the time given (it is
// then killed): a hang fails the test instead of holding it up.
int ExitStatusWithin(pid_t child, std::chrono::seconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A formula that calls a function: its machine code registers a
// description of its frame.
bool MakesAndRunsMachineCode() {
  double x = 2;
  MathUtils::Parser parser;
  parser.SetMachineCode(true);
  parser.AddVariable("x", &x);
  parser.AssignFormula("exp(x) * 3 + 1");
  const double expected = std::exp(x) * 3 + 1;
  double value = 0;
  for (int run = 0; run < 5000 && parser.MachineCodeSize() == 0; ++run) value = parser.Evaluate();
  return parser.MachineCodeSize() > 0 && parser.Evaluate() == expected && value == expected;
}

// The other thread spends most of its time inside the unwinder's
// registration, which holds a lock of the unwinder's: forked then, a child
// would wait for that lock forever at its first machine code.
TEST(UnwindInfoTest, AChildForkedWhileAnotherThreadRegistersMakesMachineCode) {
  if (!UnwindInfo::Supported() || !MathUtils::detail::MachineCode::Supported()) GTEST_SKIP();
  std::atomic<bool> stop{false};
  std::atomic<long> registered{0};
  std::thread churn([&] {
    // Many descriptions registered, the oldest replaced each time: the
    // unwinder looks for it along its list, holding its lock.
    static const std::uint8_t Code[64] = {};
    const std::vector<FrameStep> steps = {{1, FrameStep::CfaOffset, 0, 16}};
    std::vector<std::unique_ptr<UnwindInfo>> held(2000);
    for (std::size_t k = 0; !stop.load(std::memory_order_relaxed); k = (k + 1) % held.size()) {
      held[k] = std::make_unique<UnwindInfo>(Code, sizeof Code, steps);
      registered.fetch_add(1, std::memory_order_relaxed);
    }
  });
  while (registered.load() == 0) std::this_thread::yield();
  for (int fork = 0; fork < 20; ++fork) {
    const pid_t child = ::fork();
    if (child == 0) _exit(MakesAndRunsMachineCode() ? 0 : 1);
    const int status = child < 0 ? -2 : ExitStatusWithin(child, std::chrono::seconds(5));
    if (status != 0) {
      ADD_FAILURE() << "child " << fork << ": " << (status == -1 ? "hung" : "failed");
      break;
    }
  }
  stop = true;
  churn.join();
}
#endif

}  // namespace
}  // namespace ParserTests
