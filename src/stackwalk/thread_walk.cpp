#include "stackwalk/thread_walk.h"

#include <algorithm>
#include <utility>

#include "stackwalk/little_endian.h"

namespace kx {
namespace {

constexpr std::size_t kContextSize = 1232;       // the x64 CONTEXT record
constexpr std::size_t kContextRegisters = 0x78;  // Rax ... R15, in the order unwind codes number them
constexpr std::size_t kContextRip = 0xF8;

// The length of "call r/m64" (opcode FF, ModRM reg field 2) whose ModRM byte is `modrm` and whose SIB byte,
// when it has one, is `sib`: opcode, ModRM, SIB and displacement.
std::size_t IndirectCallLength(unsigned modrm, unsigned sib) {
  const unsigned mod = modrm >> 6;
  const unsigned rm = modrm & 7;
  std::size_t length = 2;
  if (mod != 3 && rm == 4) {
    length += 1;
    if (mod == 0 && (sib & 7) == 5) length += 4;
  }
  if (mod == 0 && rm == 5) length += 4;  // rip-relative
  if (mod == 1) length += 1;
  if (mod == 2) length += 4;
  return length;
}

// Whether the code just before `rva` ends with a call instruction: what makes a stack slot a return address
// rather than any pointer into the image.
bool FollowsCall(const PeImage& image, std::uint32_t rva) {
  const std::uint32_t available = std::min<std::uint32_t>(rva, 8);
  const std::optional<std::string_view> before = image.Read(rva - available, available);
  if (!before) return false;
  // The byte `back` bytes before rva.
  const auto at = [&](std::size_t back) { return static_cast<unsigned char>((*before)[available - back]); };
  if (available >= 5 && at(5) == 0xE8) return true;  // call rel32
  for (std::size_t length = 2; length <= available; ++length) {
    // "call r/m64" of `length` bytes, after a REX prefix or not.
    const std::size_t opcode = at(length) >= 0x40 && at(length) <= 0x4F ? length - 1 : length;
    if (opcode < 2 || at(opcode) != 0xFF) continue;
    const unsigned modrm = at(opcode - 1);
    const unsigned sib = opcode >= 3 ? at(opcode - 2) : 0;
    if (((modrm >> 3) & 7) == 2 && IndirectCallLength(modrm, sib) == opcode) return true;
  }
  return false;
}

// Whether `address` can be a return address: inside a module, and when its image is known, just after a
// call in its code.
bool LooksLikeReturnAddress(const ModuleMap& modules, std::uint64_t address) {
  const std::size_t index = modules.Find(address);
  if (index == ModuleMap::kNone) return false;
  const WalkModule& module = modules[index];
  if (module.image == nullptr) return true;
  const auto rva = static_cast<std::uint32_t>(address - module.base);
  return module.image->IsCode(rva) && FollowsCall(*module.image, rva);
}

// The caller of a frame whose stack pointer is `rsp`, from the first slot at or above it that looks like a
// return address. Only the instruction and the stack pointer are known in the frame found.
std::optional<X64Registers> ScanForCaller(std::uint64_t rsp, const MemoryRegions& memory,
                                          const ModuleMap& modules, std::size_t words) {
  for (std::size_t word = 0; word < words; ++word) {
    const std::uint64_t slot = rsp + 8 * word;
    const std::optional<std::uint64_t> value = memory.Read64(slot);
    if (!value) return std::nullopt;  // the end of the stack's memory
    if (!LooksLikeReturnAddress(modules, *value)) continue;
    X64Registers caller;
    caller.rip = *value;
    caller.Set(kRegisterRsp, slot + 8);
    return caller;
  }
  return std::nullopt;
}

// The caller with the unwind tables, when they give one that makes sense: a return address in a module (or 0,
// the end of the stack) below which the stack pointer has moved up, within the stack. `first`: the frame is
// the context's own, which alone may stop in a leaf function (a return address never lies in one); code
// without unwind information that pushed (a stack probe, hand-written assembly) looks like a leaf, and its
// pushed values are no return address.
std::optional<X64Registers> UnwindCaller(const X64Registers& frame, bool first, const MemoryRegions& memory,
                                         const ModuleMap& modules) {
  const std::size_t index = modules.Find(frame.rip);
  if (index == ModuleMap::kNone || modules[index].image == nullptr) return std::nullopt;
  X64Registers caller = frame;
  const UnwindStep step = UnwindFrame(*modules[index].image, modules[index].base, memory, caller);
  if (step == UnwindStep::kFailed || (step == UnwindStep::kLeaf && !first)) return std::nullopt;
  if (caller.rsp() <= frame.rsp() || !memory.RegionAt(caller.rsp() - 8)) return std::nullopt;
  if (caller.rip != 0 && modules.Find(caller.rip) == ModuleMap::kNone) return std::nullopt;
  return caller;
}

}  // namespace

const char* FrameTrustName(FrameTrust trust) {
  switch (trust) {
    case FrameTrust::kContext:
      return "context";
    case FrameTrust::kUnwindTables:
      return "unwind";
    case FrameTrust::kScan:
      return "scan";
  }
  return "scan";
}

ModuleMap::ModuleMap(std::vector<WalkModule> modules) : modules_(std::move(modules)) {
  for (std::size_t i = 0; i < modules_.size(); ++i) byBase_.push_back(i);
  std::stable_sort(byBase_.begin(), byBase_.end(),
                   [this](std::size_t a, std::size_t b) { return modules_[a].base < modules_[b].base; });
}

std::size_t ModuleMap::Find(std::uint64_t address) const {
  auto after =
      std::upper_bound(byBase_.begin(), byBase_.end(), address,
                       [this](std::uint64_t value, std::size_t i) { return value < modules_[i].base; });
  if (after == byBase_.begin()) return kNone;
  const WalkModule& module = modules_[*(after - 1)];
  return address - module.base < module.size ? *(after - 1) : kNone;
}

std::optional<X64Registers> RegistersOfContext(std::string_view context) {
  if (context.size() < kContextSize) return std::nullopt;
  X64Registers registers;
  for (int reg = 0; reg < 16; ++reg) registers.Set(reg, Le64At(context, kContextRegisters + 8 * reg));
  registers.rip = Le64At(context, kContextRip);
  return registers;
}

std::vector<WalkedFrame> WalkThread(const X64Registers& context, const MemoryRegions& memory,
                                    const ModuleMap& modules, const WalkLimits& limits) {
  std::vector<WalkedFrame> frames;
  X64Registers frame = context;
  FrameTrust trust = FrameTrust::kContext;
  while (frames.size() < limits.maxFrames && frame.rip != 0) {
    frames.push_back({frame.rip, frame.rsp(), trust, modules.Find(frame.rip)});
    std::optional<X64Registers> caller = UnwindCaller(frame, frames.size() == 1, memory, modules);
    trust = FrameTrust::kUnwindTables;
    if (!caller) {
      caller = ScanForCaller(frame.rsp(), memory, modules, limits.scanWords);
      trust = FrameTrust::kScan;
    }
    if (!caller) break;
    frame = *caller;
  }
  return frames;
}

}  // namespace kx
