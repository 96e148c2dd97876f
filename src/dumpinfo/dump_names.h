// Display names for the numbers a minidump holds. Each returns nullptr for a number it does not know, so that
// the caller shows the number alone.
#pragma once

#include <cstdint>

namespace kx {

// EXCEPTION_* / STATUS_* names, and plain words for the codes that have no such name (C++, .NET).
const char* DumpExceptionName(std::uint32_t code);

// MINIDUMP_STREAM_TYPE names: "ThreadListStream", "ceStreamSystemInfo", ...
const char* DumpStreamTypeName(std::uint32_t type);

// "x86", "AMD64", "ARM64", ... for PROCESSOR_ARCHITECTURE_* values.
const char* DumpArchitectureName(std::uint16_t architecture);

// "read", "write" or "execute" for the first parameter of an access violation.
const char* DumpAccessKindName(std::uint64_t kind);

}  // namespace kx
