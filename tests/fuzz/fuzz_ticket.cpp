// A reporter ticket from the user's reporter folder, which any of the user's programs may write: a ticket
// that reads writes back in the canonical form, which reads as the same ticket; any bytes escape and
// unescape to themselves.
#include "fuzz_support.h"
#include "frontend/reporter_ticket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(kx::fuzz::Bytes(data, size));
  KX_FUZZ_CHECK(kx::UnescapeTicketValue(kx::EscapeTicketValue(bytes)) == bytes);

  const kx::TicketRead read = kx::ParseTicket(bytes);
  KX_FUZZ_CHECK(read.ticket.has_value() == read.error.empty());
  if (!read.ticket) return 0;
  KX_FUZZ_CHECK(!read.ticket->crashIdentifier.empty() && !read.ticket->servicePath.empty());
  const std::string canonical = kx::FormatTicket(*read.ticket);
  // Defaults are written out, so a ticket near the limit may grow beyond it.
  if (canonical.size() > kx::kMaxTicketBytes) return 0;
  const kx::TicketRead again = kx::ParseTicket(canonical);
  KX_FUZZ_CHECK(again.ticket.has_value());
  KX_FUZZ_CHECK(kx::FormatTicket(*again.ticket) == canonical);
  return 0;
}
