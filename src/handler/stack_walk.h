// The crashed thread's call stack, unwound from its register context with the image's unwind tables.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "handler/crash_message.h"

namespace kx {

// Moves `context` to its caller's frame, reading only stack memory inside [stackLow, stackHigh). False when
// the stack ends there or looks corrupted; `context` is then of no further use.
bool UnwindFrame(CONTEXT& context, std::uintptr_t stackLow, std::uintptr_t stackHigh);

// Unwinds from `context` for at most maxFrames frames, reading only stack memory inside [stackLow, stackHigh)
// (the crashed thread's stack): a corrupted stack ends the walk instead of faulting. The crashed thread must
// not run meanwhile.
std::vector<StackFrame> WalkStack(const CONTEXT& context, std::uintptr_t stackLow, std::uintptr_t stackHigh,
                                  std::size_t maxFrames);

}  // namespace kx
