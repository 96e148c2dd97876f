// Which frame of a crashed thread's stack is the application's own fault site, decided from what each frame
// is, without any platform call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

enum class FrameRole {
  kHandler,  // a function of the crash handler itself
  kEntry,    // a runtime function an application calls to end itself: std::terminate, __cxa_throw, abort...
  kOther,    // anything else: the application, or a runtime function we do not name
};

// The index of the fault site among frames listed from the innermost. The handler's frames come first;
// when the runtime called the handler (abort, std::terminate, the C runtime's handlers), the frame after
// them is that runtime function, whatever it is; then come the entry functions the application called; the
// next frame is the application's. `count` when the list ends first.
std::size_t FaultFrameIndex(const FrameRole* roles, std::size_t count, bool calledByRuntime);

// The address of the call instruction that returns to `returnAddress`, given the six code bytes before it:
// a direct call (E8 and four bytes) or an indirect one through memory (FF 15 and four bytes), as compilers
// emit for calls into the runtime; for any other form, the return address less one, which still lies inside
// the call. The return address itself may already belong to the next function after a call that never
// returns.
std::uint64_t CallSiteAddress(std::uint64_t returnAddress, const unsigned char (&before)[6]);

// Copies at most capacity - 1 bytes of the NUL-terminated `source` and a NUL into `destination`; nothing
// is allocated, so a crashed thread may use it. A null source gives an empty text.
void CopyBoundedText(char* destination, std::size_t capacity, const char* source);

}  // namespace kx
