// One step of an x64 stack walk with the unwind tables of Windows images: from a frame of a function to its
// caller's frame, as the system's own unwinder does it (the function table in .pdata, its unwind codes in
// .xdata, chained unwind information, epilogues, frame registers and machine frames).
#pragma once

#include <array>
#include <cstdint>

#include "stackwalk/memory_regions.h"
#include "stackwalk/pe_image.h"

namespace kx {

// The general registers in the order unwind codes number them: rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi,
// r8 ... r15.
inline constexpr int kRegisterRsp = 4;

struct X64Registers {
  std::uint64_t rip = 0;
  std::array<std::uint64_t, 16> gpr{};
  std::uint16_t known = 0;  // bit n set: gpr[n] holds the register's value in this frame
  std::uint64_t rsp() const { return gpr[kRegisterRsp]; }
  bool IsKnown(int reg) const { return (known >> reg) & 1; }
  void Set(int reg, std::uint64_t value) {
    gpr[static_cast<std::size_t>(reg)] = value;
    known = static_cast<std::uint16_t>(known | (1u << reg));
  }
};

enum class UnwindStep {
  kUnwound,  // by the function's unwind information
  kLeaf,     // the image has no entry for the function: a leaf, whose return address is on top of the stack
  kFailed,   // the unwind information, the code or the stack memory it needs is missing or broken
};

// Moves `registers` (a frame whose rip lies in `image`, loaded at `imageBase`) to its caller's frame,
// reading the stack from `memory`. On kFailed `registers` is unchanged.
UnwindStep UnwindFrame(const PeImage& image, std::uint64_t imageBase, const MemoryRegions& memory,
                       X64Registers& registers);

}  // namespace kx
