// A crash's signature: one line of text that groups the reports of one fault. The same code computes it from
// a report's stack text (the handler's module+offset lines, named by the symbolizer where symbols are) and
// from a dump's walked stack (kxdumpinfo), so that both agree for one crash when the same symbols are there.
// The rules are versioned; docs/symbols.md states them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// Raised with any change of the rules below, so that a server can tell signatures of different rules apart
// and compute the old ones again.
inline constexpr int kSignatureRulesVersion = 1;

struct SignatureFrame {
  std::string module;        // the module's file name (a path is cut to it); empty when in no module
  std::uint64_t offset = 0;  // the frame's address less the module's load address (the address when in none)
  std::string function;      // the innermost function at the frame, as the symbolizer names it; empty if none
};

struct CrashSignature {
  int rules = kSignatureRulesVersion;
  std::string text;                                  // "kxcrashdemo.exe!Crash", "kxcrashdemo.exe+0x33E5"
  std::size_t frame = static_cast<std::size_t>(-1);  // the index of the frame it names; -1 for no frames
};

// A module of the system (Windows' own DLLs, the C and C++ runtimes, Wine's Linux libraries), by its name in
// any letter case.
bool IsSystemModule(std::string_view module);

// A frame of the crash handler itself (a function of namespace kx).
bool IsHandlerFrame(const SignatureFrame& frame);

// A frame of a runtime function linked into the application's module (C++ throw and unwind, abort, stack
// probes), by its name.
bool IsRuntimeFrame(const SignatureFrame& frame);

// In a module, and neither a system module's frame, nor the handler's, nor a runtime function's.
bool IsApplicationFrame(const SignatureFrame& frame);

// From the frames of the crashed thread, innermost first: the first application frame's function, as
// "module!function", or "module+0xOFFSET" when it is not named; when no frame is an application frame, the
// first frame that is not the handler's, in the same forms. The module is in lower case.
CrashSignature ComputeCrashSignature(const std::vector<SignatureFrame>& frames);

}  // namespace kx
