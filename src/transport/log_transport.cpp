#include "transport/log_transport.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/own_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/text_utils.h"
#include "common/win_handles.h"
#include "dispatch/report_names.h"
#include "net/http_client.h"
#include "prefs/client_config_file.h"
#include "prefs/preference_store.h"
#include "transport/upload_rules.h"

namespace kx {
namespace {

static_assert(kMaxUploadFileBytes == kMaxUploadBytes, "the queue's size rule is what a request can carry");

// The server's pause, shared by both copies and kept across runs: seconds since 1970 (UTC), REG_QWORD.
constexpr wchar_t kPauseKey[] = L"KXLog";
constexpr wchar_t kPauseValue[] = L"UploadNotBefore";

struct UploadSettings {
  std::wstring server;
  std::uint16_t port = 0;
  std::string guid;
};

// One finished file, held with no sharing from the listing to its fate.
struct QueueEntry {
  std::wstring name;
  UniqueFileHandle file;
  QueuedFile facts;
};

std::int64_t SecondsSince1970(const FILETIME& time) {
  const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;
}

std::int64_t Now() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  return SecondsSince1970(now);
}

std::int64_t RememberedPause() {
  const UniqueRegKey key = PreferenceStore::OpenCommonFilesKey(kPauseKey);
  ULONGLONG until = 0;
  DWORD type = 0;
  DWORD size = sizeof(until);
  if (!key || ::RegQueryValueExW(key.get(), kPauseValue, nullptr, &type, reinterpret_cast<BYTE*>(&until),
                                 &size) != ERROR_SUCCESS ||
      type != REG_QWORD || size != sizeof(until)) {
    return 0;
  }
  return static_cast<std::int64_t>(until);
}

void RememberPause(std::int64_t until) {
  const ULONGLONG value = static_cast<ULONGLONG>(LaterPause(RememberedPause(), until, Now()));
  const UniqueRegKey key = PreferenceStore::OpenCommonFilesKey(kPauseKey);
  if (key) {
    ::RegSetValueExW(key.get(), kPauseValue, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
}

// The storage folder the word names (any letter case, trailing backslashes allowed), or empty: the word
// comes from a command line, and an empty or relative one would reach whatever folder the process stands in.
std::wstring AcceptedFolder(std::wstring word) {
  while (!word.empty() && word.back() == L'\\') word.pop_back();
  if (word.empty()) return {};
  for (const std::wstring& folder : {StoragePaths::CrashLogFolder(), StoragePaths::DumpFolder()}) {
    if (!folder.empty() && SamePathText(word, folder)) return folder;
  }
  return {};
}

void ListFolder(const std::wstring& folder, std::vector<std::wstring>& finished,
                std::vector<std::wstring>& leftovers) {
  WIN32_FIND_DATAW found = {};
  const UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &found) != FALSE) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (IsFinishedFileName(found.cFileName)) finished.push_back(found.cFileName);
    if (IsLeftoverFileName(found.cFileName)) leftovers.push_back(found.cFileName);
  }
}

class TransportRun {
 public:
  TransportRun(const std::wstring& folder, const UploadSettings& settings, ComponentLog& log)
      : own_(folder), settings_(settings), log_(log) {}

  void Run(const std::vector<std::wstring>& finished, const std::vector<std::wstring>& leftovers) {
    if (!own_.valid()) return log_.Line("Cannot open the folder, nothing uploaded: ", own_.path());
    for (const std::wstring& name : leftovers) RemoveLeftover(name);
    std::vector<QueueEntry> queue = TakeQueue(finished);
    std::vector<QueuedFile> facts;
    for (const QueueEntry& entry : queue) facts.push_back(entry.facts);
    const std::vector<QueueFate> fates = PlanQueue(facts, Now());
    for (size_t i = 0; i < queue.size(); ++i) {
      switch (fates[i]) {
        case QueueFate::kUpload: Upload(queue[i]); break;
        case QueueFate::kLastAttempt:
          if (Upload(queue[i]) == UploadVerdict::kKept) SetAside(queue[i], kUnsentSuffix, "older than 30 days");
          break;
        case QueueFate::kTooLarge: SetAside(queue[i], kUnsentSuffix, "4 GiB or more"); break;
        case QueueFate::kBeyondFolderBound:
          SetAside(queue[i], kUnsentSuffix, "newer files fill the folder's 4 GiB");
          break;
      }
      queue[i].file.reset();
    }
  }

 private:
  std::wstring PathOf(const std::wstring& name) const { return own_.path() + L"\\" + name; }

  void LogForeign(const std::wstring& name) {
    log_.Line("Skipped, a link or a file with several names, never sent or changed: ", PathOf(name));
  }

  // A delivered file whose deletion failed, or an earlier version's lock: removed unless someone holds it.
  void RemoveLeftover(const std::wstring& name) {
    UniqueFileHandle file;
    BY_HANDLE_FILE_INFORMATION info = {};
    switch (own_.Open(name, DELETE | FILE_WRITE_ATTRIBUTES, 0, file, info)) {
      case OwnOpen::kOpened: break;
      case OwnOpen::kForeign: return LogForeign(name);
      case OwnOpen::kInUse:
      case OwnOpen::kGone: return;
    }
    if (DeleteOpenFile(file.get())) return log_.Line("Removed ", PathOf(name));
    log_.Line("Cannot remove (error ", LogNumber{::GetLastError()}, "): ", PathOf(name));
  }

  // Every finished file this copy can hold, oldest first.
  std::vector<QueueEntry> TakeQueue(const std::vector<std::wstring>& names) {
    std::vector<QueueEntry> queue;
    for (const std::wstring& name : names) {
      QueueEntry entry{name, UniqueFileHandle(), QueuedFile()};
      BY_HANDLE_FILE_INFORMATION info = {};
      switch (own_.Open(name, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_FLAG_SEQUENTIAL_SCAN, entry.file,
                        info)) {
        case OwnOpen::kOpened:
          entry.facts.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
          entry.facts.time = SecondsSince1970(info.ftLastWriteTime);
          queue.push_back(std::move(entry));
          break;
        case OwnOpen::kForeign: LogForeign(name); break;
        case OwnOpen::kInUse: log_.Line("In use, left for a later run: ", PathOf(name)); break;
        case OwnOpen::kGone: break;
      }
    }
    std::stable_sort(queue.begin(), queue.end(),
                     [](const QueueEntry& a, const QueueEntry& b) { return a.facts.time < b.facts.time; });
    return queue;
  }

  bool Paused() {
    const std::int64_t until = RememberedPause();
    if (!IsPauseInForce(until, Now())) return false;
    if (!pauseLogged_) {
      log_.Line("The server asked for no upload before ", LogInteger{until}, " (seconds since 1970, UTC)");
      pauseLogged_ = true;
    }
    return true;
  }

  // What became of the file: kKept also when a pause held it back.
  UploadVerdict Upload(QueueEntry& entry) {
    const std::wstring path = PathOf(entry.name);
    if (Paused()) {
      log_.Line("Kept for a later run: ", path);
      return UploadVerdict::kKept;
    }
    log_.Line("Uploading ", path);
    const std::string headers =
        UploadHeaders(NarrowToCodePage(entry.name, CP_UTF8), UploadKindOf(entry.name), settings_.guid,
                      NarrowToCodePage(ReportNameOfAttachment(entry.name), CP_UTF8));
    std::uint32_t status = 0;
    const std::wstring answer =
        HttpClient().SendFileRequest(settings_.server, kUploadPath, std::wstring(headers.begin(), headers.end()),
                                     entry.file.get(), entry.facts.size, settings_.port, &status);
    const UploadVerdict verdict = JudgeUploadStatus(status);
    switch (verdict) {
      case UploadVerdict::kDelivered: Delivered(entry); break;
      case UploadVerdict::kRejected:
        log_.Line("Rejected by the server with status ", LogNumber{status});
        SetAside(entry, kRejectedSuffix, "refused by the server");
        break;
      case UploadVerdict::kKept:
        log_.Line("Not uploaded (status ", LogNumber{status}, "), kept for a later run: ", path);
        KeepPause(answer);
        break;
    }
    return verdict;
  }

  void KeepPause(const std::wstring& answer) {
    const std::optional<std::int64_t> until = RetryAfterFromHeaders(NarrowByTruncation(answer), Now());
    if (!until) return;
    RememberPause(*until);
    log_.Line("The server asked for no upload before ", LogInteger{*until}, " (seconds since 1970, UTC)");
    pauseLogged_ = true;
  }

  // Recorded under the delivered name first: whatever becomes of the deletion, it is never sent again.
  void Delivered(QueueEntry& entry) {
    const std::wstring path = PathOf(entry.name);
    const bool recorded = RenameOpenFile(entry.file.get(), path + kDeliveredSuffix, true);
    if (DeleteOpenFile(entry.file.get())) return log_.Line("Uploaded and removed: ", path);
    const DWORD error = ::GetLastError();
    if (recorded) {
      return log_.Line("Uploaded; cannot remove it (error ", LogNumber{error}, "), the next run will: ", path,
                       kDeliveredSuffix);
    }
    log_.Line("Uploaded, but can neither rename nor remove it (error ", LogNumber{error},
              "), it will be uploaded again: ", path);
  }

  // Under the first free name "<name>[.N]<suffix>"; never over another file.
  void SetAside(QueueEntry& entry, const wchar_t* suffix, const char* why) {
    const std::wstring path = PathOf(entry.name);
    for (int attempt = 0; attempt < kSetAsideNameAttempts; ++attempt) {
      const std::wstring target = PathOf(SetAsideName(entry.name, suffix, attempt));
      if (RenameOpenFile(entry.file.get(), target, false)) {
        return log_.Line("Set aside (", why, "): ", path, " -> ", target);
      }
      const DWORD error = ::GetLastError();
      if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
        return log_.Line("Cannot set aside (", why, "; error ", LogNumber{error}, "), kept: ", path);
      }
    }
    log_.Line("Cannot set aside (", why, "; every name taken), kept: ", path);
  }

  OwnFolder own_;
  const UploadSettings& settings_;
  ComponentLog& log_;
  bool pauseLogged_ = false;
};

}  // namespace

void RunLogTransport(const std::wstring& clientDirectory, const std::wstring& folderWord) {
  ComponentLog log(LogComponent::KXLogTransport);
  // Two copies run at once (one per folder): each adds its lines instead of emptying the other's.
  log.Start(ComponentLog::OpenRule::kAppendWhenSwitchOn);
  log.Line("Log transport started for ", folderWord);
  const std::wstring folder = AcceptedFolder(folderWord);
  if (folder.empty()) {
    log.Line("Not a storage folder of this user, nothing uploaded: \"", folderWord, "\"");
  } else {
    const ClientConfig config = ReadClientConfig(clientDirectory);
    UploadSettings settings;
    settings.server = ConfiguredServerUrl(config, kUploadServerUrlKey, kBuiltInUploadServerUrl);
    settings.port = ConfiguredPort(config, kUploadServerPortKey);
    settings.guid = NarrowToCodePage(PreferenceStore::GetInstallationGuid(), CP_UTF8);
    std::vector<std::wstring> finished, leftovers;
    ListFolder(folder, finished, leftovers);
    TransportRun(folder, settings, log).Run(finished, leftovers);
  }
  log.Line("Log transport done for ", folderWord);
  log.Close();
}

}  // namespace kx
