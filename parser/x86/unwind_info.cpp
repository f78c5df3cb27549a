#include "parser/x86/unwind_info.h"

#include <cstring>
#include <mutex>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !(defined(_WIN64))
#define MATHUTILS_REGISTERS_FRAMES 1
// GCC's unwinder, in libgcc: takes the start of .eh_frame data, a list of
// CIEs and FDEs ending in a zero length, and reads it in place until
// deregistered.
extern "C" void __register_frame(void* begin);    // NOLINT(readability-identifier-naming): libgcc's name
extern "C" void __deregister_frame(void* begin);  // NOLINT(readability-identifier-naming)
#if !defined(_WIN32)
#include <pthread.h>
#endif
#endif

namespace MathUtils::detail {

namespace {

constexpr int AddressBytes = sizeof(void*);
#ifdef __x86_64__
constexpr int StackPointer = 7, ReturnAddress = 16;
#else
constexpr int StackPointer = 4, ReturnAddress = 8;
#endif

// DWARF call frame instructions and pointer encodings used here.
enum : std::uint8_t {
  DwCfaNop = 0x00,
  DwCfaAdvanceLoc1 = 0x02,
  DwCfaAdvanceLoc2 = 0x03,
  DwCfaAdvanceLoc4 = 0x04,
  DwCfaDefCfa = 0x0c,
  DwCfaDefCfaRegister = 0x0d,
  DwCfaDefCfaOffset = 0x0e,
  DwCfaAdvanceLoc = 0x40,  // | delta below 64
  DwCfaOffset = 0x80,      // | register below 64
  DwCfaRestore = 0xc0,     // | register below 64
  DwEhPeAbsolute = 0x00,
};

class Bytes {
 public:
  void U8(std::uint8_t value) { Out.push_back(value); }
  void Uleb(std::uint64_t value) {
    do {
      std::uint8_t byte = value & 0x7f;
      value >>= 7;
      if (value != 0) byte |= 0x80;
      U8(byte);
    } while (value != 0);
  }
  void Sleb(std::int64_t value) {
    for (bool more = true; more;) {
      std::uint8_t byte = value & 0x7f;
      value >>= 7;  // arithmetic: the sign is kept
      more = !((value == 0 && !(byte & 0x40)) || (value == -1 && (byte & 0x40)));
      U8(more ? byte | 0x80 : byte);
    }
  }
  template <typename T>
  void Raw(T value) {
    std::uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    Out.insert(Out.end(), bytes, bytes + sizeof value);
  }
  // Opens a record with a length to be filled in by Close.
  std::size_t Open() {
    const std::size_t at = Out.size();
    Raw<std::uint32_t>(0);
    return at;
  }
  // Pads the record to whole addresses and writes its length.
  void Close(std::size_t at) {
    while ((Out.size() - at) % AddressBytes != 0) U8(DwCfaNop);
    const auto length = static_cast<std::uint32_t>(Out.size() - at - 4);
    std::memcpy(Out.data() + at, &length, sizeof length);
  }
  std::size_t Size() const { return Out.size(); }
  std::vector<std::uint8_t> Take() { return std::move(Out); }

 private:
  std::vector<std::uint8_t> Out;
};

void AdvanceTo(Bytes& out, std::size_t& at, std::size_t offset) {
  const std::size_t delta = offset - at;
  at = offset;
  if (delta == 0) return;
  if (delta < 64) {
    out.U8(static_cast<std::uint8_t>(DwCfaAdvanceLoc | delta));
  } else if (delta <= 0xff) {
    out.U8(DwCfaAdvanceLoc1);
    out.Raw(static_cast<std::uint8_t>(delta));
  } else if (delta <= 0xffff) {
    out.U8(DwCfaAdvanceLoc2);
    out.Raw(static_cast<std::uint16_t>(delta));
  } else {
    out.U8(DwCfaAdvanceLoc4);
    out.Raw(static_cast<std::uint32_t>(delta));
  }
}

void Step(Bytes& out, const FrameStep& step) {
  const auto reg = static_cast<std::uint8_t>(step.Register);
  switch (step.Is) {
    case FrameStep::CfaOffset:
      out.U8(DwCfaDefCfaOffset);
      out.Uleb(static_cast<std::uint64_t>(step.Offset));
      return;
    case FrameStep::CfaRegister:
      out.U8(DwCfaDefCfaRegister);
      out.Uleb(reg);
      return;
    case FrameStep::Cfa:
      out.U8(DwCfaDefCfa);
      out.Uleb(reg);
      out.Uleb(static_cast<std::uint64_t>(step.Offset));
      return;
    case FrameStep::Saved:
      out.U8(static_cast<std::uint8_t>(DwCfaOffset | reg));
      out.Uleb(static_cast<std::uint64_t>(step.Offset / AddressBytes));
      return;
    case FrameStep::Restored: out.U8(static_cast<std::uint8_t>(DwCfaRestore | reg)); return;
  }
}

}  // namespace

std::vector<std::uint8_t> UnwindInfo::Describe(std::uintptr_t code, std::size_t size,
                                               std::span<const FrameStep> steps) {
  Bytes out;
  const std::size_t cie = out.Open();
  out.Raw<std::uint32_t>(0);  // CIE id
  out.U8(1);                  // version
  for (char c : {'z', 'R', '\0'}) out.U8(static_cast<std::uint8_t>(c));
  out.Uleb(1);              // code alignment
  out.Sleb(-AddressBytes);  // data alignment: saved registers sit below the CFA
  out.U8(ReturnAddress);
  out.Uleb(1);  // augmentation data: the FDEs' address encoding
  out.U8(DwEhPeAbsolute);
  // As a call leaves it: CFA = stack pointer + one address, return address below it.
  out.U8(DwCfaDefCfa);
  out.Uleb(StackPointer);
  out.Uleb(AddressBytes);
  out.U8(DwCfaOffset | ReturnAddress);
  out.Uleb(1);
  out.Close(cie);

  const std::size_t fde = out.Open();
  out.Raw<std::uint32_t>(static_cast<std::uint32_t>(out.Size() - cie));  // back to the CIE
  out.Raw<std::uintptr_t>(code);
  out.Raw<std::uintptr_t>(size);
  out.Uleb(0);  // no augmentation data
  std::size_t at = 0;
  for (const FrameStep& step : steps) {
    AdvanceTo(out, at, step.CodeOffset);
    Step(out, step);
  }
  out.Close(fde);
  out.Raw<std::uint32_t>(0);  // the end of the list
  return out.Take();
}

#ifdef MATHUTILS_REGISTERS_FRAMES

namespace {

// The unwinder registers and deregisters under a lock of its own, which a
// child forked meanwhile would find held forever: its first registration
// would wait for good. Registration runs under this lock, which fork takes
// too (a fork waits for a registration under way, a registration for a
// fork), so that the unwinder's lock is free in every child.
std::mutex& RegistrationLock() {
  static std::mutex Lock;
#if !defined(_WIN32)
  static const bool HeldAcrossFork =
      pthread_atfork([] { Lock.lock(); }, [] { Lock.unlock(); }, [] { Lock.unlock(); }) == 0;
  static_cast<void>(HeldAcrossFork);
#endif
  return Lock;
}

}  // namespace

bool UnwindInfo::Supported() { return true; }

UnwindInfo::UnwindInfo(const std::uint8_t* code, std::size_t size, std::span<const FrameStep> steps) {
  const std::vector<std::uint8_t> bytes = Describe(reinterpret_cast<std::uintptr_t>(code), size, steps);
  Storage.resize((bytes.size() + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t));
  std::memcpy(Storage.data(), bytes.data(), bytes.size());
  const std::lock_guard<std::mutex> registering(RegistrationLock());
  __register_frame(Storage.data());
  IsRegistered = true;
}

UnwindInfo::~UnwindInfo() {
  if (!IsRegistered) return;
  const std::lock_guard<std::mutex> deregistering(RegistrationLock());
  __deregister_frame(Storage.data());
}

#else

bool UnwindInfo::Supported() { return false; }
UnwindInfo::UnwindInfo(const std::uint8_t*, std::size_t, std::span<const FrameStep>) {}
UnwindInfo::~UnwindInfo() = default;

#endif

}  // namespace MathUtils::detail
