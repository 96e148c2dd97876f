// The crash data parser as the "createdump" run uses it: file names widened with the thread's ANSI code
// page, and the parser's lines written to the run's own log ("DumpRequestProcessor.txt").
#pragma once

#include <string_view>

#include "common/diagnostic_log.h"
#include "intake/crash_data.h"

namespace kx {

// Fills `data` from the message (see crash_data_message.h). Returns false when ProcessId or ThreadId is
// unusable: no report can be made, and the caller says so in its log. The parsed fields are logged only
// when the message is usable, since the caller logs the received text in any case.
[[nodiscard]] bool ParseCrashData(std::string_view message, CrashData& data, ComponentLog& log);

}  // namespace kx
