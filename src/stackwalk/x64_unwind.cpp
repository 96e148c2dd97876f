#include "stackwalk/x64_unwind.h"

#include <optional>
#include <string_view>

#include "stackwalk/little_endian.h"

namespace kx {
namespace {

// Unwind operation codes (UNWIND_CODE.UnwindOp) of Microsoft's "x64 exception handling" documentation.
enum UnwindOp : std::uint8_t {
  kPushNonvol = 0,
  kAllocLarge = 1,
  kAllocSmall = 2,
  kSetFpreg = 3,
  kSaveNonvol = 4,
  kSaveNonvolFar = 5,
  kEpilog = 6,     // version 2: where the epilogues are; nothing to undo
  kSpareCode = 7,  // version 1's obsolete far xmm save; nothing to undo
  kSaveXmm128 = 8,
  kSaveXmm128Far = 9,
  kPushMachframe = 10,
};
constexpr std::uint8_t kChainInfoFlag = 4;
// Chains longer than any compiler writes: a table that loops back on itself ends here.
constexpr int kMostChainLinks = 32;
// Jumps followed while reading an epilogue; a jump to itself must not keep the walk here.
constexpr int kMostEpilogueSteps = 64;

struct UnwindInfo {
  std::uint8_t version = 0;
  std::uint8_t flags = 0;
  std::uint8_t prologSize = 0;
  std::uint8_t frameRegister = 0;
  std::uint8_t frameOffset = 0;
  std::string_view codes;  // two bytes a slot
  std::optional<RuntimeFunction> chained;
};

std::optional<UnwindInfo> ReadUnwindInfo(const PeImage& image, std::uint32_t rva) {
  const std::optional<std::string_view> header = image.Read(rva, 4);
  if (!header) return std::nullopt;
  UnwindInfo info;
  info.version = static_cast<std::uint8_t>((*header)[0] & 0x07);
  info.flags = static_cast<std::uint8_t>(static_cast<unsigned char>((*header)[0]) >> 3);
  info.prologSize = static_cast<std::uint8_t>((*header)[1]);
  const std::size_t count = static_cast<unsigned char>((*header)[2]);
  info.frameRegister = static_cast<std::uint8_t>((*header)[3] & 0x0F);
  info.frameOffset = static_cast<std::uint8_t>(static_cast<unsigned char>((*header)[3]) >> 4);
  if (info.version != 1 && info.version != 2) return std::nullopt;
  const std::optional<std::string_view> codes = image.Read(std::uint64_t{rva} + 4, 2 * count);
  if (!codes) return std::nullopt;
  info.codes = *codes;
  if (info.flags & kChainInfoFlag) {
    // The chained entry follows the codes, which take an even number of slots.
    const std::optional<std::string_view> entry =
        image.Read(std::uint64_t{rva} + 4 + 2 * ((count + 1) & ~1u), 12);
    if (!entry) return std::nullopt;
    info.chained = RuntimeFunction{Le32At(*entry, 0), Le32At(*entry, 4), Le32At(*entry, 8)};
  }
  return info;
}

// How many slots an operation takes, itself included.
std::size_t SlotsOf(std::uint8_t op, std::uint8_t opInfo) {
  switch (op) {
    case kAllocLarge:
      return opInfo == 0 ? 2 : 3;
    case kSaveNonvol:
    case kSaveXmm128:
    case kEpilog:
      return 2;
    case kSaveNonvolFar:
    case kSaveXmm128Far:
    case kSpareCode:
      return 3;
    default:
      return 1;
  }
}

// An entry whose unwind data has its low bit set holds another entry's RVA, not unwind information.
std::optional<RuntimeFunction> Resolve(const PeImage& image, RuntimeFunction function) {
  for (int link = 0; function.unwindInfo & 1; ++link) {
    const std::optional<std::string_view> entry = image.Read(function.unwindInfo & ~1u, 12);
    if (!entry || link == kMostChainLinks) return std::nullopt;
    function = RuntimeFunction{Le32At(*entry, 0), Le32At(*entry, 4), Le32At(*entry, 8)};
  }
  return function;
}

// The code of `function` from `at` (an offset into it) is an epilogue when it is, in this order: at most one
// "add rsp, n" or "lea rsp, [reg + n]", then pops, then a return; jumps within the function are followed.
// This is the system unwinder's reading, so a frame stopped anywhere in an epilogue unwinds as it would.
// Executes it on `registers` when it is one and every value it needs is known.
enum class Epilogue { kNone, kDone, kFailed };
Epilogue RunEpilogue(std::string_view code, std::size_t at, const MemoryRegions& memory,
                     X64Registers& registers) {
  const auto byte = [&](std::size_t offset) -> int {
    return offset < code.size() ? static_cast<unsigned char>(code[offset]) : -1;
  };
  X64Registers next = registers;
  const int rex = byte(at);
  if (rex >= 0x48 && rex <= 0x4F) {
    const int op = byte(at + 1);
    const int modrm = byte(at + 2);
    if ((op == 0x81 || op == 0x83) && rex == 0x48 && modrm == 0xC4) {  // add rsp, n
      const std::size_t width = op == 0x81 ? 4 : 1;
      if (at + 3 + width > code.size()) return Epilogue::kNone;
      const std::uint64_t raw = LittleEndianAt(code, at + 3, width);
      const std::int64_t value = width == 4 ? static_cast<std::int32_t>(raw) : static_cast<std::int8_t>(raw);
      next.Set(kRegisterRsp, next.rsp() + static_cast<std::uint64_t>(value));
      at += 3 + width;
    } else if (op == 0x8D && (rex & 0x06) == 0 && modrm >= 0 && ((modrm >> 3) & 7) == 4 && (modrm & 7) != 4 &&
               ((modrm >> 6) == 1 || (modrm >> 6) == 2)) {  // lea rsp, [reg + n]
      const std::size_t width = (modrm >> 6) == 1 ? 1 : 4;
      const int base = (modrm & 7) + (rex & 1) * 8;
      if (at + 3 + width > code.size()) return Epilogue::kNone;
      const std::uint64_t raw = LittleEndianAt(code, at + 3, width);
      const std::int64_t value = width == 4 ? static_cast<std::int32_t>(raw) : static_cast<std::int8_t>(raw);
      if (!next.IsKnown(base)) return Epilogue::kFailed;
      next.Set(kRegisterRsp, next.gpr[static_cast<std::size_t>(base)] + static_cast<std::uint64_t>(value));
      at += 3 + width;
    } else if (op == 0x81 || op == 0x83 || op == 0x8D) {
      return Epilogue::kNone;
    }
  }
  for (int step = 0; step < kMostEpilogueSteps; ++step) {
    const int prefix = byte(at);
    const int extended = (prefix & 0xF0) == 0x40 ? (prefix & 1) * 8 : 0;
    if ((prefix & 0xF0) == 0x40) ++at;
    const int op = byte(at);
    if (op >= 0x58 && op <= 0x5F) {  // pop
      const std::optional<std::uint64_t> value = memory.Read64(next.rsp());
      if (!value) return Epilogue::kFailed;
      const std::uint64_t rsp = next.rsp();
      next.Set(op - 0x58 + extended, *value);
      if (op - 0x58 + extended != kRegisterRsp) next.Set(kRegisterRsp, rsp + 8);
      at += 1;
      continue;
    }
    if (op == 0xC3 || op == 0xC2 || (op == 0xF3 && byte(at + 1) == 0xC3)) {  // ret, ret n, rep ret
      if (op == 0xC2 && at + 3 > code.size()) return Epilogue::kNone;
      const std::optional<std::uint64_t> returnAddress = memory.Read64(next.rsp());
      if (!returnAddress) return Epilogue::kFailed;
      const std::uint64_t popped = op == 0xC2 ? Le16At(code, at + 1) : 0;
      next.rip = *returnAddress;
      next.Set(kRegisterRsp, next.rsp() + 8 + popped);
      registers = next;
      return Epilogue::kDone;
    }
    if (op == 0xE9 || op == 0xEB) {  // a jump, part of the epilogue only when it stays in the function
      const std::size_t width = op == 0xE9 ? 4 : 1;
      if (at + 1 + width > code.size()) return Epilogue::kNone;
      const std::uint64_t raw = LittleEndianAt(code, at + 1, width);
      const std::int64_t distance =
          width == 4 ? static_cast<std::int32_t>(raw) : static_cast<std::int8_t>(raw);
      const std::int64_t target = static_cast<std::int64_t>(at + 1 + width) + distance;
      if (target < 0 || static_cast<std::uint64_t>(target) >= code.size()) return Epilogue::kNone;
      at = static_cast<std::size_t>(target);
      continue;
    }
    return Epilogue::kNone;
  }
  return Epilogue::kNone;
}

// Undoes the prolog operations that `info` describes and that had run at `prologOffset` (all of them when it
// is past the prolog), as the system unwinder does. `frame` is the establisher frame: the frame register's
// value less its offset when the function has one, else the stack pointer the step started from.
bool UndoProlog(const UnwindInfo& info, std::uint32_t prologOffset, std::uint64_t frame,
                const MemoryRegions& memory, X64Registers& next, bool& machineFrame) {
  const std::size_t slots = info.codes.size() / 2;
  for (std::size_t i = 0; i < slots;) {
    const std::uint8_t offset = static_cast<std::uint8_t>(info.codes[2 * i]);
    const std::uint8_t op = static_cast<std::uint8_t>(info.codes[2 * i + 1] & 0x0F);
    const std::uint8_t opInfo =
        static_cast<std::uint8_t>(static_cast<unsigned char>(info.codes[2 * i + 1]) >> 4);
    const std::size_t size = SlotsOf(op, opInfo);
    if (i + size > slots) return false;
    const std::size_t operand = 2 * (i + 1);  // the byte offset of the slot after the operation
    i += size;
    if (offset > prologOffset) continue;  // not executed yet
    std::optional<std::uint64_t> value;
    switch (op) {
      case kPushNonvol:
        if (!(value = memory.Read64(next.rsp()))) return false;
        next.Set(kRegisterRsp, next.rsp() + 8);
        next.Set(opInfo, *value);
        break;
      case kAllocLarge:
        next.Set(kRegisterRsp,
                 next.rsp() + (opInfo == 0 ? Le16At(info.codes, operand) * 8u : Le32At(info.codes, operand)));
        break;
      case kAllocSmall:
        next.Set(kRegisterRsp, next.rsp() + opInfo * 8u + 8u);
        break;
      case kSetFpreg:
        next.Set(kRegisterRsp, frame);
        break;
      case kSaveNonvol:
      case kSaveNonvolFar:
        value = memory.Read64(
            frame + (op == kSaveNonvol ? Le16At(info.codes, operand) * 8u : Le32At(info.codes, operand)));
        if (!value) return false;
        next.Set(opInfo, *value);
        break;
      case kPushMachframe: {
        // The processor's frame of an interrupt or exception: an error code when opInfo is 1, then the
        // return address, the code segment, the flags and the old stack pointer.
        const std::uint64_t at = next.rsp() + (opInfo == 1 ? 8 : 0);
        const std::optional<std::uint64_t> rip = memory.Read64(at);
        const std::optional<std::uint64_t> rsp = memory.Read64(at + 24);
        if (!rip || !rsp) return false;
        next.rip = *rip;
        next.Set(kRegisterRsp, *rsp);
        machineFrame = true;
        break;
      }
      default:  // xmm saves, epilogue descriptions: nothing of the general registers to undo
        break;
    }
  }
  return true;
}

}  // namespace

UnwindStep UnwindFrame(const PeImage& image, std::uint64_t imageBase, const MemoryRegions& memory,
                       X64Registers& registers) {
  if (registers.rip < imageBase || registers.rip - imageBase >= image.sizeOfImage() ||
      !registers.IsKnown(kRegisterRsp)) {
    return UnwindStep::kFailed;
  }
  const auto rva = static_cast<std::uint32_t>(registers.rip - imageBase);
  const std::optional<RuntimeFunction> found = image.FunctionAt(rva);
  if (!found) {
    const std::optional<std::uint64_t> returnAddress = memory.Read64(registers.rsp());
    if (!returnAddress) return UnwindStep::kFailed;
    registers.rip = *returnAddress;
    registers.Set(kRegisterRsp, registers.rsp() + 8);
    return UnwindStep::kLeaf;
  }

  X64Registers next = registers;
  std::optional<RuntimeFunction> function = Resolve(image, *found);
  bool machineFrame = false;
  std::uint64_t frame = registers.rsp();
  for (int link = 0; function; ++link) {
    const std::optional<UnwindInfo> info = ReadUnwindInfo(image, function->unwindInfo);
    if (!info || link == kMostChainLinks) return UnwindStep::kFailed;
    if (info->frameRegister != 0) {
      if (!next.IsKnown(info->frameRegister)) return UnwindStep::kFailed;
      frame = next.gpr[info->frameRegister] - 16u * info->frameOffset;
    }
    std::uint32_t prologOffset = ~0u;
    // Only the function the frame stopped in can be inside its prolog or an epilogue; the entries it
    // chains to describe prologs that had run in full.
    if (link == 0 && rva - function->begin < info->prologSize) {
      prologOffset = rva - function->begin;
    } else if (link == 0 && !info->codes.empty() && rva >= function->begin && rva < function->end) {
      const std::optional<std::string_view> code =
          image.Read(function->begin, function->end - function->begin);
      const Epilogue epilogue =
          code ? RunEpilogue(*code, rva - function->begin, memory, next) : Epilogue::kNone;
      if (epilogue == Epilogue::kFailed) return UnwindStep::kFailed;
      if (epilogue == Epilogue::kDone) {
        registers = next;
        return UnwindStep::kUnwound;
      }
    }
    if (!UndoProlog(*info, prologOffset, frame, memory, next, machineFrame)) return UnwindStep::kFailed;
    if (!info->chained) break;
    function = Resolve(image, *info->chained);
    if (!function) return UnwindStep::kFailed;
  }
  if (!machineFrame) {
    const std::optional<std::uint64_t> returnAddress = memory.Read64(next.rsp());
    if (!returnAddress) return UnwindStep::kFailed;
    next.rip = *returnAddress;
    next.Set(kRegisterRsp, next.rsp() + 8);
  }
  registers = next;
  return UnwindStep::kUnwound;
}

}  // namespace kx
