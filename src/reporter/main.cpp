// KXCrashReporter: carries one crash's steps after "createdump" in a healthy process of its own, so that the
// crashed application can end as soon as its dump is written. One word: the ticket the handler left. Opens
// a window only to ask the user (the ask policy) and always exits with code 0: outcomes show in the files
// it leaves and its progress lines.
#include <windows.h>
// After windows.h, which they need.
#include <share.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "common/diagnostic_log.h"
#include "common/system_libraries.h"
#include "common/utf8.h"
#include "common/win_handles.h"
#include "frontend/child_process.h"
#include "frontend/report_sweep.h"
#include "frontend/stranded_reports.h"
#include "reporter/reporter_run.h"
#include "reporter/ticket_file.h"

namespace {

// Progress lines go to the log file the ticket names, and to the diagnostic log when logging is on.
class Progress {
 public:
  Progress() : diagnostic_(L"KXCrashReporter.txt") {
    if (kx::IsLoggingSwitchOn()) diagnostic_.Open(true);
  }

  void OpenTicketLog(const std::wstring& path) {
    if (!path.empty()) file_.reset(::_wfsopen(path.c_str(), L"ab", _SH_DENYNO));
  }

  void Say(const std::string& line) {
    diagnostic_.WriteLine(line);
    if (!file_) return;
    const std::string bytes = "KXCrashReporter: " + line + "\r\n";
    std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
    std::fflush(file_.get());
  }

 private:
  kx::LogStream diagnostic_;
  kx::UniqueCrtFile file_;
};

void Report(const wchar_t* commandLine) {
  Progress progress;
  int count = 0;
  kx::UniqueLocalMem<LPWSTR> words(::CommandLineToArgvW(commandLine, &count));
  if (!words || count != 2) return progress.Say("the command line must hold one word: the ticket's path");
  kx::TicketLoad load = kx::TakeTicket(words.get()[1]);
  if (!load.read.ticket) return progress.Say("ticket refused: " + load.read.error);
  const kx::ReporterTicket& ticket = *load.read.ticket;
  progress.OpenTicketLog(ticket.progressLog);
  progress.Say("ticket read for crash " + kx::Utf8FromWide(ticket.crashIdentifier).value_or("?"));
  const kx::SayLine say = [&progress](const std::string& line) { progress.Say(line); };
  // Only a reporter that holds a ticket sweeps: one that lost its ticket to another starts nothing.
  kx::SweepStrandedReports(kx::ThisProgramPath(), say);
  kx::RunReporter(ticket, kx::IsPastTheLimit(load.ageSeconds), say);
  // Its steps are done: only now may the ticket go, so that a reporter killed before this point leaves it
  // for the next sweep.
  kx::ReleaseTicket(load);
  progress.Say("done");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The reporter starts in the crashed application's current folder: libraries loaded later (the dialog's
  // own) come from System32 only.
  kx::RestrictLibraryLoadsToSystem32();
  try {
    Report(::GetCommandLineW());
  } catch (...) {
    // Nothing to report to: the exit code stays 0 whatever happened.
  }
  return 0;
}
