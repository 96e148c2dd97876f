#include "frontend/report_sweep.h"

#include <vector>

#include "common/own_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "frontend/child_process.h"
#include "frontend/stranded_reports.h"

namespace kx {
namespace {

struct Listed {
  std::wstring name;
  std::int64_t ageSeconds = 0;
};

std::vector<Listed> FilesOf(const std::wstring& folder) {
  std::vector<Listed> files;
  WIN32_FIND_DATAW found = {};
  const UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return files;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      files.push_back({found.cFileName, AgeInSeconds(found.ftLastWriteTime)});
  } while (::FindNextFileW(find.get(), &found));
  return files;
}

// Opened as ours, without sharing: a ticket a reporter holds is in use, a link is foreign.
OwnOpen Probe(const OwnFolder& folder, const std::wstring& name, UniqueFileHandle& file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return folder.Open(name, DELETE | FILE_WRITE_ATTRIBUTES, 0, file, info);
}

bool Remove(const OwnFolder& folder, const std::wstring& name) {
  UniqueFileHandle file;
  return Probe(folder, name, file) == OwnOpen::kOpened && DeleteOpenFile(file.get());
}

std::string Utf8(const std::wstring& text) { return NarrowToCodePage(text, CP_UTF8); }

}  // namespace

std::int64_t AgeInSeconds(const FILETIME& written) {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& time) {
    return static_cast<std::int64_t>((0ULL + time.dwHighDateTime) << 32 | time.dwLowDateTime);
  };
  return (ticks(now) - ticks(written)) / 10000000;
}

void SweepStrandedReports(const std::wstring& reporterPath, const SayLine& say) {
  const std::wstring folder = StoragePaths::ReporterFolder();
  const OwnFolder tickets(folder);
  if (!tickets.valid()) return;
  std::vector<std::wstring> crashes;  // every ticket's, held or not: its report files are the ticket's
  for (const Listed& file : FilesOf(folder)) {
    const std::wstring crash = CrashIdentifierOfTicket(file.name);
    if (crash.empty()) {
      // A ticket half written when its application ended.
      if (IsPastTheLimit(file.ageSeconds) && Remove(tickets, file.name)) say("sweep: removed " + Utf8(file.name));
      continue;
    }
    crashes.push_back(crash);
    UniqueFileHandle probe;
    if (Probe(tickets, file.name, probe) != OwnOpen::kOpened) continue;
    probe.reset();
    // The reporter takes it as it would have; past the limit, it discards it.
    const DWORD error = StartDetached(reporterPath, {folder + L"\\" + file.name});
    say("sweep: " + Utf8(file.name) + " had no reporter; " +
        (error == ERROR_SUCCESS ? "one is started on it" : "none could be started (error " + std::to_string(error) + ")"));
  }
  for (const std::wstring& reports : {StoragePaths::CrashLogFolder(), StoragePaths::DumpFolder()}) {
    const OwnFolder place(reports);
    if (!place.valid()) continue;
    for (const Listed& file : FilesOf(reports)) {
      if (IsStrandedReportFile(file.name, file.ageSeconds, crashes) && Remove(place, file.name))
        say("sweep: removed " + Utf8(file.name) + ", never sent nor discarded");
    }
  }
}

}  // namespace kx
