// The sweep for what a broken hand-over left behind: a ticket whose reporter was never started, or ended
// with the application's job, a log-off or Task Manager; the report files of an application that ended
// before its report's hand-over. It runs when the handler is installed and when a reporter has taken its
// ticket, so that a stranded report is offered again at the next chance, under its own policy, or goes once
// it is past the age limit (stranded_reports.h). Files are opened without following links, as ours only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "frontend/report_steps.h"

namespace kx {

// Starts the reporter `reporterPath` on every ticket no reporter holds, one process each (so that one stuck
// report blocks no other), and removes the files of reports past the limit that no ticket is about.
void SweepStrandedReports(const std::wstring& reporterPath, const SayLine& say);

// The age of a file last written at `written`: negative when it is dated ahead of the clock.
std::int64_t AgeInSeconds(const FILETIME& written);

}  // namespace kx
