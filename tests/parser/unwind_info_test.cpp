// The unwind description read back as an unwinder reads it: the CFA rule
// and the saved registers replayed up to a code offset must be what the
// frame steps said, whatever the distances between the steps and the
// sizes of the numbers.
#include "parser/x86/unwind_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "frame_replay.h"

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

}  // namespace
}  // namespace ParserTests
