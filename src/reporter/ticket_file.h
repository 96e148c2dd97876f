// Taking a ticket from the user's reporter folder (docs/reporter.md). The path comes from the command line,
// which anyone can write, so it is trusted only for naming a file that really sits in that folder.
#pragma once

#include <cstdint>
#include <string>

#include "common/win_handles.h"
#include "frontend/reporter_ticket.h"

namespace kx {

struct TicketLoad {
  TicketRead read;     // the ticket, or why it was refused
  // A ticket read is held here, renamed "<crash id>.taken", with no sharing: a sweep sees it in use for as
  // long as this reporter lives, and finds it free when the reporter was killed. One that could not be
  // read is deleted at once.
  UniqueFileHandle held;
  std::int64_t ageSeconds = 0;  // since the handler wrote it
};

// Reads the ticket at `path` and holds it (TicketLoad::held). Refused without being touched: a path whose
// folder is not the reporter folder (compared as the file system resolves both), a name that does not end
// in ".ticket" or ".taken", a link or a file with several names, a file larger than kMaxTicketBytes, a
// ticket another reporter holds.
TicketLoad TakeTicket(const std::wstring& path);

// Deletes the held ticket: its steps are done.
void ReleaseTicket(TicketLoad& load);

}  // namespace kx
