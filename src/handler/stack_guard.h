// Room to report a stack overflow, on every thread of the application. Windows raises the overflow while
// the thread's stack guarantee is still free, and the handler runs in that room. Wine keeps the guarantee
// but commits each stack whole with a single guard page at its very bottom: the overflow comes with less
// than a page left, too little for the exception's own frame, and the thread is ended unreported. A guard
// page placed at the top of the guaranteed room makes Wine raise the overflow there instead.
#pragma once

#include <windows.h>

namespace kx {

// Stack kept free on each thread for the filter after a stack overflow.
inline constexpr ULONG kStackGuaranteeBytes = 64 * 1024;

// Gives the calling thread the guarantee, and a guard page at its top when the stack is committed down
// there (it never is on Windows, whose stacks grow page by page). Nothing when the stack is too small.
void GuardThreadStack();

// From now on every thread that starts in this process does GuardThreadStack first (a TLS callback of the
// executable or DLL that links the handler); threads already running are not reached.
void GuardNewThreads();

}  // namespace kx
