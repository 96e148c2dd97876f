// The steps of one crash after "createdump", carried out by KXCrashReporter.exe with the service, as the
// ticket's policy says (docs/reporter.md).
#pragma once

#include <functional>
#include <string>

#include "handler/reporter_ticket.h"

namespace kx {

// `say` receives one line per step, for the progress log.
void RunReporter(const ReporterTicket& ticket, const std::function<void(const std::string&)>& say);

}  // namespace kx
