#include "ingest/ingest_processor.h"

#include <windows.h>

#include <exception>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "ingest/event_document.h"
#include "ingest/ingest_store.h"
#include "net/http_client.h"
#include "prefs/client_config_file.h"

namespace kx {
namespace {

constexpr wchar_t kIngestPath[] = L"/ingest";

// Event files are written by other programs in the ANSI code page.
std::wstring WidenEventText(std::string_view narrow) { return WidenFromCodePage(narrow, CP_ACP); }

std::wstring IngestHeaders() {
  const std::wstring key(std::begin(kIngestProject), std::end(kIngestProject) - 1);
  return L"content-type:application/json\nx-api-key:" + key + L"\n";
}

enum class PostOutcome { kAccepted, kRefused, kNothingToPost };

// Reads, builds and posts one event.
PostOutcome postEvent(const std::wstring& path, const ClientConfig& config, LogStream& log) {
  const EventEntries entries = readEventFile(path);
  // Empty, unreadable or without a single entry: perhaps still being written. It waits for a later run.
  if (entries.empty()) return PostOutcome::kNothingToPost;
  const std::string document = BuildEventDocument(entries, makeIsoTimestamp(), &WidenEventText);
  log.WriteLine("Processing ", path);

  const std::wstring server = ConfiguredServerUrl(config, kIngestServerUrlKey, kBuiltInIngestServerUrl);
  const std::uint16_t port = ConfiguredPort(config, kIngestServerPortKey);
  std::uint32_t status = 0;
  HttpClient().sendPostRequest(server, kIngestPath, IngestHeaders(), document, port, &status);
  return IsAcceptedStatus(status) ? PostOutcome::kAccepted : PostOutcome::kRefused;
}

// Locks, posts and releases one event file.
void processEventFile(const std::wstring& path, const ClientConfig& config, LogStream& log) {
  const std::wstring lockPath = path + kLockSuffix;
  // Whoever creates the lock posts the event; everyone else leaves it alone.
  UniqueFileHandle lock(::CreateFileW(lockPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!lock) return;
  try {
    log.WriteLine("Acquired lock ", lockPath);
    // Another run may have posted and deleted the event between our listing and our lock.
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      switch (postEvent(path, config, log)) {
        case PostOutcome::kAccepted:
          log.WriteLine("Successfully posted event for ", path);
          deleteIngestFile(path);
          break;
        case PostOutcome::kRefused: log.WriteLine("Failed to posted event for ", path); break;
        case PostOutcome::kNothingToPost: log.WriteLine("Nothing to post yet in ", path); break;
      }
    }
  } catch (const std::exception&) {
    log.WriteLine("Exception occurred while processing log ", path);
  }
  lock.reset();
  deleteIngestFile(lockPath);
}

void postQueuedEvents(const std::wstring& clientDirectory, LogStream& log) {
  const std::wstring folder = ExistingIngestFolder();
  if (folder.empty()) return;
  std::vector<std::wstring> files;
  listIngestFiles(folder, files);
  const ClientConfig config = readClientConfig(clientDirectory);
  for (const std::wstring& path : files) {
    // Another run's lock is no event: posting it would delete the lock that guards its event.
    if (!IsLockFileName(path)) processEventFile(path, config, log);
  }
}

}  // namespace

std::string makeIsoTimestamp() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  SYSTEMTIME utc = {};
  SYSTEMTIME local = {};
  FILETIME localTime = {};
  if (!::FileTimeToSystemTime(&now, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
      !::SystemTimeToFileTime(&local, &localTime)) {
    return {};
  }
  // Both readings are whole milliseconds of the same instant, so their difference is the zone's offset.
  const auto ticks = [](const FILETIME& time) {
    return static_cast<long long>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  };
  const long long offsetMinutes = (ticks(localTime) - ticks(now) / 10000 * 10000) / 600000000;
  return FormatIsoTimestamp({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                             local.wMilliseconds, static_cast<int>(offsetMinutes)});
}

void IngestProcessor::Run(const std::wstring& clientDirectory) {
  LogStream& log = ComponentLogStream(LogComponent::IngestProcessor);
  log.Open();
  try {
    purgeExpiredIngestFiles();
    postQueuedEvents(clientDirectory, log);
  } catch (...) {
    log.WriteLine("Exception occurred in IngestProcessor::Run");
  }
  log.Close();
}

}  // namespace kx
