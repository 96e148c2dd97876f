#include "handler/fault_site.h"

#include <cstring>

#include "handler/fault_site_rule.h"
#include "handler/stack_walk.h"

namespace kx {
namespace {

// Enough for the handler's frames, the runtime's and a few of the application's.
constexpr std::size_t kMaxScannedFrames = 32;

// The start of the function holding `address`; 0 for code without unwind data. Functions are compared by
// their start, since a frame's address lies anywhere inside its function.
DWORD64 FunctionStart(DWORD64 address) {
  DWORD64 imageBase = 0;
  const PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(address, &imageBase, nullptr);
  return function == nullptr ? 0 : imageBase + function->BeginAddress;
}

// A C runtime function taken by address in the application may be its import stub, "jmp [rip+offset]"
// (FF 25 and a 32-bit offset): the function that runs is the one the stub's slot names.
std::uintptr_t ThroughImportStub(std::uintptr_t function) {
  const auto* code = reinterpret_cast<const unsigned char*>(function);
  if (code[0] != 0xFF || code[1] != 0x25) return function;
  std::int32_t offset = 0;
  std::memcpy(&offset, code + 2, sizeof(offset));
  return *reinterpret_cast<const std::uintptr_t*>(function + 6 + offset);
}

bool StartsOneOf(DWORD64 start, const std::uintptr_t* functions, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (start != 0 && start == FunctionStart(ThroughImportStub(functions[i]))) return true;
  }
  return false;
}

FrameRole RoleOf(DWORD64 address, const FaultFunctions& functions) {
  const DWORD64 start = FunctionStart(address);
  if (StartsOneOf(start, functions.handler, functions.handlerCount)) return FrameRole::kHandler;
  if (StartsOneOf(start, functions.entries, functions.entryCount)) return FrameRole::kEntry;
  return FrameRole::kOther;
}

}  // namespace

bool MoveToFaultSite(CONTEXT& context, std::uintptr_t stackLow, std::uintptr_t stackHigh, bool calledByRuntime,
                     const FaultFunctions& functions) {
  // Fixed room: this runs on the crashed thread, where the heap may be what failed.
  FrameRole roles[kMaxScannedFrames];
  std::size_t count = 0;
  CONTEXT walker = context;
  do {
    roles[count++] = RoleOf(walker.Rip, functions);
  } while (count < kMaxScannedFrames && UnwindFrame(walker, stackLow, stackHigh) && walker.Rip != 0);
  const std::size_t target = FaultFrameIndex(roles, count, calledByRuntime);
  if (target == 0 || target >= count) return false;

  walker = context;
  for (std::size_t i = 0; i < target; ++i) UnwindFrame(walker, stackLow, stackHigh);
  unsigned char before[6] = {};
  std::memcpy(before, reinterpret_cast<const void*>(walker.Rip - sizeof(before)), sizeof(before));
  walker.Rip = CallSiteAddress(walker.Rip, before);
  context = walker;
  return true;
}

}  // namespace kx
