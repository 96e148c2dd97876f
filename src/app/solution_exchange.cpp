#include "app/solution_exchange.h"

#include <windows.h>

#include <cstdio>
#include <optional>

#include "common/diagnostic_log.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/text_utils.h"
#include "common/wire_names.h"
#include "dispatch/report_file_set.h"
#include "dispatch/report_names.h"
#include "intake/named_pipe.h"
#include "net/http_client.h"
#include "net/solution_answer.h"
#include "prefs/answer_readers.h"
#include "prefs/client_config_file.h"
#include "prefs/preference_store.h"

namespace kx {
namespace {

constexpr wchar_t kFormHeader[] = L"Content-Type: application/x-www-form-urlencoded";

// Acts on the server's dump decision. False when the report's state could not be told; nothing was changed.
bool ApplyDumpDecision(bool dumpWanted, const std::wstring& guid, const std::wstring& crashIdentifier,
                       const std::wstring& crashLogFolder, ComponentLog& log) {
  if (dumpWanted) {
    const std::optional<std::wstring> current = ReportFileSet::GetCrashLogFilePath(guid, crashIdentifier);
    if (!current) return false;
    const std::wstring attached =
        crashLogFolder + L"\\" + ReportStem(guid, crashIdentifier) + kDumpAttachedReportSuffix;
    // _wrename never replaces an existing file; a failed move leaves the report as it was.
    ::_wrename(current->c_str(), attached.c_str());
    return true;
  }
  const std::optional<std::wstring> dump = ReportFileSet::GetDumpFilePath(guid, crashIdentifier);
  if (!dump) return false;
  ::_wremove(dump->c_str());
  log.Line("Deleting the dump file: ", *dump);
  return true;
}

// Everything before the pipe answer. Returns the link for the front end; nothing when the run must stop
// without answering.
std::optional<std::string> ExchangeReport(const std::string& crashIdentifier, const std::wstring& clientDirectory,
                                          const std::wstring& crashLogFolder, ComponentLog& log) {
  const std::wstring guid = PreferenceStore::GetInstallationGuid();
  // The command line was narrowed with the thread's code page; the same code page gives the word back.
  const std::wstring wideIdentifier = WidenFromCodePage(crashIdentifier, CP_THREAD_ACP);

  const std::optional<std::wstring> reportPath = ReportFileSet::GetCrashLogFilePath(guid, wideIdentifier);
  if (!reportPath) {
    log.Line("Could not tell whether the crash log exists, leaving the report files as they are");
    return std::nullopt;
  }
  const std::string body = NarrowByTruncation(ReportFileSet::ReadFileContents(*reportPath));
  std::string solutionUrl = kNoHeaderValue;
  if (body.empty()) return solutionUrl;

  const ClientConfig config = ReadClientConfig(clientDirectory);
  const std::wstring server = ConfiguredServerUrl(config, kSolutionServerUrlKey, kBuiltInSolutionServerUrl);
  const std::uint16_t port = ConfiguredPort(config, kSolutionServerPortKey);

  log.Line("Going to POST Request");
  log.Line(body);
  const std::wstring answer =
      HttpClient().SendPostRequest(server, wire::AsciiWide(wire::kSolutionPath), kFormHeader, body, port);
  solutionUrl = ExtractHeaderValue(answer, wire::kSolutionUrlHeader);
  log.Line(answer);
  log.Line("Response = ", NarrowByTruncation(answer), solutionUrl);

  const std::string attachDump = ExtractHeaderValue(answer, wire::kAttachDumpHeader);
  log.Line("Attach dump preference ?? ", attachDump);
  if (!ApplyDumpDecision(IsDumpWanted(attachDump), guid, wideIdentifier, crashLogFolder, log)) {
    log.Line("Could not tell which report files exist, leaving them as they are");
    return std::nullopt;
  }
  return solutionUrl;
}

}  // namespace

void ExchangeSolutionLink(const std::string& crashIdentifier, const std::wstring& clientDirectory) {
  ComponentLog log(LogComponent::SolutionURL);
  log.Start();
  log.Line("Inside fetchSolutionUrlForGeneratedCrashLog Solution");

  const std::wstring crashLogFolder = StoragePaths::CrashLogFolder();
  if (crashLogFolder.empty()) {
    log.Close();
    return;
  }

  const std::optional<std::string> solutionUrl =
      ExchangeReport(crashIdentifier, clientDirectory, crashLogFolder, log);
  if (solutionUrl) {
    // The front end waits for this message, so it goes out even when there is no link ("-1"). Without a
    // connection the write is skipped.
    NamedPipe pipe;
    pipe.Connect(crashIdentifier);
    pipe.WriteMessage(*solutionUrl);
  }
  log.Line("End fetchSolutionUrlForGeneratedCrashLog ");
  log.Close();
}

}  // namespace kx
