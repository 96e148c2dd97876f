// The parts of the report's lines that come from the running system: the clock and time zone, and the
// register values of a thread context.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "report/crash_report_writer.h"

namespace kx {

struct TimeZoneInfo {
  std::int32_t offsetMinutes = 0;  // standard offset from UTC, positive east; the daylight bias is not added
  std::wstring name = L"N/A";      // standard name, or daylight name while daylight saving time is in force
};

// "N/A" and offset 0 when the zone cannot be read.
TimeZoneInfo GetTimeZoneInfo();

// The time element for now, in local time.
std::string FormatTimeTag();

// The registers the report shows, from an x64 thread context.
RegisterValues RegisterValuesFromContext(const CONTEXT& context);

}  // namespace kx
