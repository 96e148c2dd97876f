// The crash group's key: the shared crash signature (src/stackwalk/crash_signature.h), computed from the
// report's stack text as the handler writes it (module and offset, no names), or taken from the dump's walk
// when symbols named it. A named signature replaces the unnamed one of the same build for good
// (Store::NameGroup).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stackwalk/crash_signature.h"
#include "wire/report_reader.h"

namespace kx::server {

// The frames of the handler's stack text, "<index> <module>+0x<offset> 0x<address>" or "<index> ?? 0x<address>"
// a line (src/handler/crash_message.h); lines of another shape are left out.
std::vector<SignatureFrame> StackTextFrames(std::string_view stackText);

// The signature of the report's crashed thread, unnamed.
std::string CrashSignature(const ReportFacts& facts);

// Whether symbols named the signature's frame ("module!function").
bool IsNamedSignature(std::string_view signature);

// The module part of a signature ("kxcrashdemo.exe" of "kxcrashdemo.exe+0x331C" or "kxcrashdemo.exe!Crash");
// empty when it names no module.
std::string SignatureModule(std::string_view signature);

}  // namespace kx::server
