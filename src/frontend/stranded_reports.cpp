#include "frontend/stranded_reports.h"

#include "dispatch/report_names.h"
#include "frontend/reporter_ticket.h"

namespace kx {
namespace {

bool EndsWith(std::wstring_view text, std::wstring_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
  return text.size() > start.size() && text.substr(0, start.size()) == start;
}

}  // namespace

std::wstring CrashIdentifierOfTicket(std::wstring_view name) {
  for (const std::wstring_view suffix : {std::wstring_view(kTicketSuffix), std::wstring_view(kTakenTicketSuffix)}) {
    if (EndsWith(name, suffix)) return std::wstring(name.substr(0, name.size() - suffix.size()));
  }
  return L"";
}

bool IsPastTheLimit(std::int64_t ageSeconds) {
  return ageSeconds > kStrandedLimitSeconds || ageSeconds < -kStrandedLimitSeconds;
}

bool IsStrandedReportFile(std::wstring_view name, std::int64_t ageSeconds,
                          const std::vector<std::wstring>& ticketCrashes) {
  if (!StartsWith(name, kReportStemStart) && !StartsWith(name, kDumpStemStart)) return false;
  if (name.find(kFinalSuffix) != std::wstring_view::npos || !IsPastTheLimit(ageSeconds)) return false;
  // The stems end "_<crash id>_abc": the crash's own ticket decides about its files.
  for (const std::wstring& crash : ticketCrashes) {
    if (name.find(L"_" + crash + L"_abc") != std::wstring_view::npos) return false;
  }
  return true;
}

}  // namespace kx
