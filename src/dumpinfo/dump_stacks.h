// Every thread of a parsed dump walked and named: the crashed thread first (from the exception's context),
// then the others in the dump's order, and the crash's signature. What a symbol store gives is asked through
// StackSymbols, so that this stays platform-free; kxdumpinfo's Linux build answers it with the symbolizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dumpinfo/minidump_parser.h"
#include "stackwalk/crash_signature.h"
#include "stackwalk/pe_image.h"
#include "stackwalk/source_frame.h"
#include "stackwalk/symbol_store.h"
#include "stackwalk/thread_walk.h"

namespace kx {

// What walking and naming need of a symbol store.
class StackSymbols {
 public:
  virtual ~StackSymbols() = default;
  // The module's image, for its unwind tables; null when the store has none of this build. Valid as long as
  // the StackSymbols object.
  virtual const PeImage* Image(const ModuleKey& module) = 0;
  // The functions at `offset` in the module, innermost first; empty when unnamed.
  virtual std::vector<SourceFrame> Names(const ModuleKey& module, std::uint64_t offset) = 0;
};

struct NamedFrame {
  WalkedFrame walked;
  std::uint64_t offset = 0;  // from the module's load address (the address when in no module)
  std::vector<SourceFrame> names;
};

struct ThreadStack {
  std::uint32_t id = 0;
  bool crashed = false;
  std::vector<NamedFrame> frames;  // empty when the thread has no x64 context
};

struct DumpStacks {
  std::vector<ModuleKey> modules;    // in the dump's order
  std::vector<bool> moduleImages;    // whether the store had each module's image
  std::vector<ThreadStack> threads;  // the crashed thread first
  std::size_t threadsLeftOut = 0;    // beyond the bound on threads walked
  CrashSignature signature;          // of the crashed thread; "(no frames)" without one
};

// At most this many threads are walked, the crashed one first: a hostile dump's thread count cannot make
// the work unbounded.
inline constexpr std::size_t kMostThreadsWalked = 256;

DumpStacks WalkDump(const MinidumpInfo& info, StackSymbols& symbols);

}  // namespace kx
