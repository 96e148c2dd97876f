// The programs load most system libraries when they first call into them (cmake/KxDelayLoad.cmake), so that
// a command pays only for the libraries it uses. This is the entry point's half of that arrangement.
#pragma once

namespace kx {

// Call first thing in wWinMain, before any call into a delay-loaded library. From then on a library named
// without a path (each first call into a delay-loaded one is such a load) comes from System32 only, never
// from the program's folder or the current one; and a library that cannot be loaded then ends the process
// with exit code 0 instead of an unhandled exception. False when the search order could not be restricted.
bool RestrictLibraryLoadsToSystem32();

}  // namespace kx
