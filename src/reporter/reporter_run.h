// One report's steps after "createdump", carried out by KXCrashReporter.exe with the service as the ticket's
// policy plans them (frontend/report_plan.h, docs/reporter.md): under the asking policy its dialog asks.
#pragma once

#include "frontend/report_steps.h"
#include "frontend/reporter_ticket.h"

namespace kx {

// `say` receives one line per step, for the progress log. A ticket past the age limit (`stale`) is only
// discarded: whoever was to answer it has not in all that time.
void RunReporter(ReporterTicket ticket, bool stale, const SayLine& say);

}  // namespace kx
