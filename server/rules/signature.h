// The crash group's key. Until the shared stack-walking code gives named signatures, a crash is signed by
// the first frame of its report's stack text, "<module>+0x<offset>", as the crash handler writes it
// (src/handler/crash_message.h): the one place to change when the shared signature arrives.
#pragma once

#include <string>
#include <string_view>

#include "wire/report_reader.h"

namespace kx::server {

// "<module>+0x<offset>" of the first frame; "?? <exception code>" when the first frame lies in no module or
// the report has no stack text.
std::string CrashSignature(const ReportFacts& facts);

// The module part of a signature ("KXCrashDemo.exe" of "KXCrashDemo.exe+0x331C"); empty when it has none.
std::string SignatureModule(std::string_view signature);

}  // namespace kx::server
