// Taking a ticket from the user's reporter folder (docs/reporter.md). The path comes from the command line,
// which anyone can write, so it is trusted only for naming a file that really sits in that folder.
#pragma once

#include <string>

#include "frontend/reporter_ticket.h"

namespace kx {

struct TicketLoad {
  TicketRead read;     // the ticket, or why it was refused
  bool taken = false;  // the file was ours and is deleted now, readable or not
};

// Reads the ticket at `path` and deletes it. Refused without being touched: a path whose folder is not the
// reporter folder (compared as the file system resolves both), a name that does not end in ".ticket", a
// link or a file with several names, a file larger than kMaxTicketBytes.
TicketLoad TakeTicket(const std::wstring& path);

}  // namespace kx
