#include "app/post_events.h"

#include <windows.h>

#include <exception>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/own_file.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "common/wire_names.h"
#include "ingest/event_document.h"
#include "ingest/ingest_store.h"
#include "net/http_client.h"
#include "prefs/client_config_file.h"

namespace kx {
namespace {

// Event files are written by other programs in the ANSI code page.
std::wstring WidenEventText(std::string_view narrow) { return WidenFromCodePage(narrow, CP_ACP); }

std::wstring IngestHeaders() {
  const std::wstring key(std::begin(kIngestProject), std::end(kIngestProject) - 1);
  return L"content-type:application/json\n" + wire::AsciiWide(wire::kApiKeyHeader) + L":" + key + L"\n";
}

enum class PostOutcome { kAccepted, kRefused, kNothingToPost };

// Local time with milliseconds and the offset from UTC, e.g. "2024-01-31T14:05:09.123+0100".
std::string IsoTimestampNow() {
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

// Reads, builds and posts one event.
PostOutcome PostEvent(const std::wstring& path, const ClientConfig& config, LogStream& log) {
  const EventEntries entries = ReadEventFile(path);
  // Empty, unreadable or without a single entry: perhaps still being written. It waits for a later run.
  if (entries.empty()) return PostOutcome::kNothingToPost;
  const std::string document = BuildEventDocument(entries, IsoTimestampNow(), &WidenEventText);
  log.WriteLine("Processing ", path);

  const std::wstring server = ConfiguredServerUrl(config, kIngestServerUrlKey, kBuiltInIngestServerUrl);
  const std::uint16_t port = ConfiguredPort(config, kIngestServerPortKey);
  std::uint32_t status = 0;
  HttpClient().SendPostRequest(server, wire::AsciiWide(wire::kIngestPath), IngestHeaders(), document, port,
                               &status);
  return IsAcceptedStatus(status) ? PostOutcome::kAccepted : PostOutcome::kRefused;
}

// The lock of an event file: created with no sharing and deleted when its handle closes, so it goes with its
// run however that run ends. A lock file nobody holds was left by an earlier version or a lost deletion: it is
// taken over through a handle that follows no link. Empty when another run holds the lock.
UniqueFileHandle TakeEventLock(const OwnFolder& folder, const std::wstring& lockName) {
  UniqueFileHandle lock(::CreateFileW((folder.path() + L"\\" + lockName).c_str(), DELETE, 0, nullptr,
                                      CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (lock || ::GetLastError() != ERROR_FILE_EXISTS) return lock;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (folder.Open(lockName, DELETE, 0, lock, info) != OwnOpen::kOpened || !DeleteOpenFile(lock.get())) {
    lock.reset();
  }
  return lock;
}

// Locks, posts and releases one event file.
void ProcessEventFile(const OwnFolder& folder, const std::wstring& name, const ClientConfig& config,
                      LogStream& log) {
  const std::wstring path = folder.path() + L"\\" + name;
  const std::wstring lockPath = path + kLockSuffix;
  // Whoever holds the lock posts the event; everyone else leaves it alone.
  const UniqueFileHandle lock = TakeEventLock(folder, name + kLockSuffix);
  if (!lock) return;
  try {
    log.WriteLine("Acquired lock ", lockPath);
    // Another run may have posted and deleted the event between our listing and our lock.
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      switch (PostEvent(path, config, log)) {
        case PostOutcome::kAccepted:
          log.WriteLine("Successfully posted event for ", path);
          DeleteIngestFile(path);
          break;
        case PostOutcome::kRefused: log.WriteLine("Failed to posted event for ", path); break;
        case PostOutcome::kNothingToPost: log.WriteLine("Nothing to post yet in ", path); break;
      }
    }
  } catch (const std::exception&) {
    log.WriteLine("Exception occurred while processing log ", path);
  }
  // The lock goes as its handle closes; deleting it by name afterwards could hit the next run's lock.
}

void PostEventFiles(const std::wstring& clientDirectory, LogStream& log) {
  const std::wstring folder = ExistingIngestFolder();
  if (folder.empty()) return;
  std::vector<std::wstring> files;
  ListIngestFiles(folder, files);
  const ClientConfig config = ReadClientConfig(clientDirectory);
  const OwnFolder own(folder);
  for (const std::wstring& path : files) {
    // Another run's lock is no event: posting it would delete the lock that guards its event.
    if (!IsLockFileName(path)) ProcessEventFile(own, path.substr(folder.size() + 1), config, log);
  }
}

}  // namespace

void PostQueuedEvents(const std::wstring& clientDirectory) {
  LogStream& log = ComponentLogStream(LogComponent::IngestProcessor);
  log.Open();
  try {
    PurgeExpiredIngestFiles();
    PostEventFiles(clientDirectory, log);
  } catch (...) {
    log.WriteLine("Exception occurred in IngestProcessor::Run");
  }
  log.Close();
}

}  // namespace kx
