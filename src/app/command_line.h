// Reads the process command line into an Invocation.
#pragma once

#include <optional>

#include "app/dispatch_plan.h"

namespace kx {

// Splits with the platform's quoting rules (CommandLineToArgvW). Nothing when splitting fails or the
// word count is not recognised. Words 2 to 4 are narrowed to the thread's ANSI code page.
std::optional<Invocation> ReadInvocation(const wchar_t* commandLine);

}  // namespace kx
