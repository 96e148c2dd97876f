// The call stack of one thread of a dump, from its register context: each caller found with the unwind tables
// of the module's image when the symbol store has it, else by scanning the stack for a return address; every
// frame says which (docs/kxdumpinfo.md). The work is bounded whatever the dump holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "stackwalk/memory_regions.h"
#include "stackwalk/pe_image.h"
#include "stackwalk/x64_unwind.h"

namespace kx {

enum class FrameTrust {
  kContext,       // the thread's own registers
  kUnwindTables,  // the caller of the frame below, found with its function's unwind information
  kScan,          // a stack slot that looks like a return address: possibly not a frame at all
};

// "context", "unwind" or "scan": the words kxdumpinfo's outputs use.
const char* FrameTrustName(FrameTrust trust);

struct WalkModule {
  std::uint64_t base = 0;
  std::uint64_t size = 0;
  const PeImage* image = nullptr;  // the module's image (from the symbol store); null when none was found
};

// The modules of a dump, to find which one holds an address.
class ModuleMap {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  explicit ModuleMap(std::vector<WalkModule> modules);
  // The index (in the order given) of the module holding `address`, or kNone.
  std::size_t Find(std::uint64_t address) const;
  const WalkModule& operator[](std::size_t index) const { return modules_[index]; }

 private:
  std::vector<WalkModule> modules_;
  std::vector<std::size_t> byBase_;
};

struct WalkedFrame {
  // Frame 0: the instruction the thread was at. Every other: the return address into it, one past the call;
  // look a caller up at address - 1, which lies inside its call instruction.
  std::uint64_t address = 0;
  std::uint64_t stackPointer = 0;
  FrameTrust trust = FrameTrust::kContext;
  std::size_t module = ModuleMap::kNone;
};

struct WalkLimits {
  std::size_t maxFrames = 256;
  std::size_t scanWords = 2048;  // 16 KiB of stack searched for each scanned frame
};

// The x64 general registers and rip of a CONTEXT record (1232 bytes); nothing when it is too short.
std::optional<X64Registers> RegistersOfContext(std::string_view context);

// Frames from the innermost (the context's) outwards.
std::vector<WalkedFrame> WalkThread(const X64Registers& context, const MemoryRegions& memory,
                                    const ModuleMap& modules, const WalkLimits& limits = {});

}  // namespace kx
