// Reads the machine's facts for the system element: registry, version, locales, memory and processor.
#pragma once

#include <string>

#include "report/system_info.h"

namespace kx {

// Each fact that cannot be read is left absent or empty; the rules in system_info.h give its fallback.
SystemFacts ProbeSystemFacts(const std::string& applicationLocale);

// The system element line for this machine.
std::string FormatSystemTag(const std::string& applicationLocale);

}  // namespace kx
