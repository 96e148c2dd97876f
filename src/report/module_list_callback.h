// The minidump writer's callback that collects the binaryImage lines while the dump is written.
#pragma once

#include <windows.h>
#include <dbghelp.h>

namespace kx {

// For MINIDUMP_CALLBACK_INFORMATION. `parameter` is the std::wstring collector; each ModuleCallback appends
// one binaryImage line (module_list.h), in the order the platform reports the modules. Every other callback
// type is left to the platform's default handling. Always TRUE, and the output is never touched, so every
// module is written to the dump with the platform's default choices.
BOOL CALLBACK ModuleListCallback(PVOID parameter, const PMINIDUMP_CALLBACK_INPUT input,
                                 PMINIDUMP_CALLBACK_OUTPUT output);

}  // namespace kx
