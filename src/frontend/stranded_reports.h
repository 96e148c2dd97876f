// What the sweep of the storage folders does with each file it finds (docs/reporter.md): a ticket whose
// reporter is gone is offered again, and a report's file that never became ".final" goes once it is older
// than kStrandedLimitSeconds. Platform-free, so that one table tests the rules; report_sweep.* applies them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// A report not sent or discarded within this long is discarded: its dump and the copies of the user's files
// stay on the machine no longer. Seven days: a report waiting for consent is asked about again at every
// start of an application with the handler, and nobody who has not answered in a week will.
inline constexpr std::int64_t kStrandedLimitSeconds = 7LL * 86400;
// A ticket the reporter has taken: renamed from ".ticket" and held without sharing while it runs.
inline constexpr wchar_t kTakenTicketSuffix[] = L".taken";

// A ticket's name, waiting or taken: "<crash id>.ticket" or "<crash id>.taken"; empty for any other name.
std::wstring CrashIdentifierOfTicket(std::wstring_view name);

// Either way of the clock: a file dated too far ahead is as stale as one too far back.
bool IsPastTheLimit(std::int64_t ageSeconds);

// For a file of the crash log or dump folder: a file of a report before "sendlog" (its name starts with a
// report's or a dump's stem and holds no ".final"), past the limit, of a crash no ticket in `ticketCrashes`
// is about. The transport's files (".final" and what it sets aside) are its own.
bool IsStrandedReportFile(std::wstring_view name, std::int64_t ageSeconds,
                          const std::vector<std::wstring>& ticketCrashes);

}  // namespace kx
