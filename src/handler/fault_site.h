// The application's own frame of a crash that the runtime reported through a function of ours (abort,
// std::terminate, an uncaught C++ exception): the crash's context is moved there from the handler's
// frames, so that the report points at the throw site or the caller, never at the handler.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kx {

struct FaultFunctions {
  const std::uintptr_t* handler = nullptr;  // the handler's functions that may be on the stack
  std::size_t handlerCount = 0;
  const std::uintptr_t* entries = nullptr;  // runtime functions an application calls to end itself
  std::size_t entryCount = 0;
};

// Unwinds `context` (a frame of the crashed thread, whose stack is [stackLow, stackHigh)) to the fault
// site that FaultFrameIndex names, Rip set to the call instruction there. Allocates nothing. False, and
// `context` unchanged, when no such frame was found within a few dozen frames.
bool MoveToFaultSite(CONTEXT& context, std::uintptr_t stackLow, std::uintptr_t stackHigh, bool calledByRuntime,
                     const FaultFunctions& functions);

}  // namespace kx
