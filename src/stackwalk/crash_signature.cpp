#include "stackwalk/crash_signature.h"

#include <algorithm>

#include "common/hex_text.h"
#include "stackwalk/module_identity.h"

namespace kx {
namespace {

// Rules version 1: the modules Windows installs that applications crash in through their own mistakes
// (heap, strings, message loops, COM), the C and C++ runtimes in their versions, and the families of API
// sets.
constexpr std::string_view kSystemModules[] = {
    "ntdll.dll",     "kernel32.dll", "kernelbase.dll",       "user32.dll",   "win32u.dll",   "gdi32.dll",
    "gdi32full.dll", "advapi32.dll", "sechost.dll",          "rpcrt4.dll",   "combase.dll",  "ole32.dll",
    "oleaut32.dll",  "shell32.dll",  "shlwapi.dll",          "shcore.dll",   "ucrtbase.dll", "msvcrt.dll",
    "msvcp_win.dll", "ws2_32.dll",   "wininet.dll",          "dbghelp.dll",  "imm32.dll",    "version.dll",
    "crypt32.dll",   "bcrypt.dll",   "bcryptprimitives.dll", "comctl32.dll", "uxtheme.dll",  "winmm.dll",
};
constexpr std::string_view kSystemPrefixes[] = {"api-ms-win-", "ext-ms-", "msvcp1",   "msvcr1",
                                                "vcruntime1",  "concrt1", "vccorlib1"};
constexpr std::string_view kHandlerNamespace = "kx::";
// Runtime functions linked into the application's own module (MinGW-w64 links its C++ runtime and stack
// probes statically): where the application ended itself, threw, or probed its stack, never where it went
// wrong. By the name's start; the names are the symbolizer's.
constexpr std::string_view kRuntimePrefixes[] = {
    "_Unwind_",
    "__cxa_",
    "__cxxabiv1::",
    "__gxx_personality",
    "_GCC_specific_handler",
    "std::terminate",
    "std::rethrow_exception",
    "std::__throw_",
    "_CxxThrowException",
    "__CxxFrameHandler",
    "_invalid_parameter",
    "_invoke_watson",
    "__report_gsfailure",
    "___chkstk_ms",
    "__chkstk",
    "_alloca_probe",
};
constexpr std::string_view kRuntimeFunctions[] = {"abort", "raise", "_assert", "_wassert", "_purecall"};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

std::string SignatureText(const SignatureFrame& frame) {
  const std::string module = frame.module.empty() ? "(unknown)" : Lower(FileNameOfPath(frame.module));
  if (!frame.function.empty()) return module + "!" + frame.function;
  std::string text = module + "+0x";
  AppendHex(text, frame.offset, 1, true);
  return text;
}

}  // namespace

bool IsSystemModule(std::string_view module) {
  // Wine's Linux side appears with whole Unix paths (/lib/x86_64-linux-gnu/libc.so.6) or as "ntdll.so".
  const std::string name = Lower(FileNameOfPath(module));
  const std::size_t so = name.find(".so");
  if (module.find('/') != std::string_view::npos ||
      (so != std::string::npos && (so + 3 == name.size() || name[so + 3] == '.'))) {
    return true;
  }
  return std::find(std::begin(kSystemModules), std::end(kSystemModules), name) != std::end(kSystemModules) ||
         std::any_of(std::begin(kSystemPrefixes), std::end(kSystemPrefixes),
                     [&](std::string_view prefix) { return name.rfind(prefix, 0) == 0; });
}

bool IsHandlerFrame(const SignatureFrame& frame) { return frame.function.rfind(kHandlerNamespace, 0) == 0; }

bool IsRuntimeFrame(const SignatureFrame& frame) {
  const std::string_view function = frame.function;
  return std::find(std::begin(kRuntimeFunctions), std::end(kRuntimeFunctions), function) !=
             std::end(kRuntimeFunctions) ||
         std::any_of(std::begin(kRuntimePrefixes), std::end(kRuntimePrefixes),
                     [&](std::string_view prefix) { return function.rfind(prefix, 0) == 0; });
}

bool IsApplicationFrame(const SignatureFrame& frame) {
  return !frame.module.empty() && !IsSystemModule(frame.module) && !IsHandlerFrame(frame) &&
         !IsRuntimeFrame(frame);
}

CrashSignature ComputeCrashSignature(const std::vector<SignatureFrame>& frames) {
  CrashSignature signature;
  auto chosen = std::find_if(frames.begin(), frames.end(), IsApplicationFrame);
  if (chosen == frames.end()) {
    chosen = std::find_if(frames.begin(), frames.end(),
                          [](const SignatureFrame& f) { return !IsHandlerFrame(f); });
  }
  if (chosen == frames.end()) {
    signature.text = "(no frames)";
    return signature;
  }
  signature.frame = static_cast<std::size_t>(chosen - frames.begin());
  signature.text = SignatureText(*chosen);
  return signature;
}

}  // namespace kx
