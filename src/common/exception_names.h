// The names of exception codes, one table for every program: kxdumpinfo shows them all, and the XML report
// names those its DTD lists (docs/OrvanKestrix.dtd), EXCEPTION_UNKNOWN the rest.
#pragma once

#include <cstdint>

namespace kx {

// EXCEPTION_* / STATUS_* names as the Windows headers spell them, and plain words for the codes that have no
// such name (C++, .NET); nullptr for a code it does not know.
const char* ExceptionName(std::uint32_t code);

// The name the crash report gives the code: one of its DTD's list, "EXCEPTION_UNKNOWN" for any other.
const char* ReportExceptionName(std::uint32_t code);

}  // namespace kx
