#include "common/system_libraries.h"

#include <windows.h>

#include <delayimp.h>

namespace kx {
namespace {

// The delay-load helpers (Visual C++'s and mingw-w64's alike) raise an exception when a library or one of
// its functions cannot be found, at a call that expected a return value. There is no sensible value to hand
// back for an arbitrary function, so the command ends there, as a killed run would, and with the exit code
// every command ends with: the files are left for the next run, and no crash dialog stands in front of the
// user for a library that the system failed to provide.
FARPROC WINAPI EndOnFailedDelayLoad(unsigned notification, PDelayLoadInfo) {
  if (notification == dliFailLoadLib || notification == dliFailGetProc) ::ExitProcess(0);
  return nullptr;
}

}  // namespace

bool RestrictLibraryLoadsToSystem32() {
  // The helpers load by bare name (mingw-w64's with LoadLibraryA). The service is installed in an
  // application folder that may be writable by others than the system; this keeps a planted wininet.dll
  // there, or in the current folder, from being loaded in its place.
  return ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace kx

// The helper reads this hook; defining it replaces the runtime's empty default. <delayimp.h> declared it
// extern "C": const in Visual C++ unless asked otherwise, writable in mingw-w64.
#if defined(_MSC_VER) && !defined(DELAYIMP_INSECURE_WRITABLE_HOOKS)
const PfnDliHook __pfnDliFailureHook2 = kx::EndOnFailedDelayLoad;
#else
PfnDliHook __pfnDliFailureHook2 = kx::EndOnFailedDelayLoad;
#endif
