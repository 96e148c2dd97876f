#include "transport/log_transport.h"

#include <windows.h>

#include <vector>

#include "common/diagnostic_log.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "net/http_client.h"
#include "prefs/client_config_file.h"
#include "prefs/preference_store.h"
#include "transport/upload_rules.h"

namespace kx {
namespace {

struct UploadSettings {
  std::wstring server;
  std::uint16_t port = 0;
  std::string guid;
};

std::vector<std::wstring> FinishedFileNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found = {};
  const UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &found) != FALSE) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsFinishedFileName(found.cFileName)) {
      names.push_back(found.cFileName);
    }
  }
  return names;
}

// Uploads one file under its lock; the file is opened only for the length of the upload.
UploadVerdict Upload(const std::wstring& path, const std::wstring& name, const UploadSettings& settings,
                     std::uint32_t& status) {
  // No write sharing: a file someone is still writing fails to open and waits for a later run.
  const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.get(), &size)) return UploadVerdict::kRetry;
  const std::string headers =
      UploadHeaders(NarrowToCodePage(name, CP_UTF8), UploadKindOf(name), settings.guid);
  HttpClient().sendFileRequest(settings.server, kUploadPath, std::wstring(headers.begin(), headers.end()),
                               file.get(), static_cast<std::uint64_t>(size.QuadPart), settings.port, &status);
  return JudgeUploadStatus(status);
}

void ProcessFile(const std::wstring& folder, const std::wstring& name, const UploadSettings& settings,
                 ComponentLog& log) {
  const std::wstring path = folder + L"\\" + name;
  const std::wstring lockPath = path + L".lck";
  UniqueFileHandle lock(::CreateFileW(lockPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!lock) return;  // another copy is on it
  std::uint32_t status = 0;
  // Another copy may have uploaded and deleted the file between our listing and our lock.
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    log.Line("Uploading ", path);
    switch (Upload(path, name, settings, status)) {
      case UploadVerdict::kDelivered:
        log.Line("Uploaded ", path);
        ::DeleteFileW(path.c_str());
        break;
      case UploadVerdict::kRejected:
        log.Line("Rejected by the server with status ", LogNumber{status}, ", set aside: ", path);
        ::MoveFileW(path.c_str(), (path + kRejectedSuffix).c_str());
        break;
      case UploadVerdict::kRetry:
        log.Line("Not uploaded (status ", LogNumber{status}, "), kept for the next run: ", path);
        break;
    }
  }
  lock.reset();
  ::DeleteFileW(lockPath.c_str());
}

}  // namespace

void RunLogTransport(const std::wstring& clientDirectory, const std::wstring& folder) {
  ComponentLog log(LogComponent::KXLogTransport);
  // Two copies run at once (one per folder): each adds its lines instead of emptying the other's.
  log.Start(ComponentLog::OpenRule::kAppendWhenSwitchOn);
  log.Line("Log transport started for ", folder);

  const ClientConfig config = readClientConfig(clientDirectory);
  UploadSettings settings;
  settings.server = ConfiguredServerUrl(config, kUploadServerUrlKey, kBuiltInUploadServerUrl);
  settings.port = ConfiguredPort(config, kUploadServerPortKey);
  settings.guid = NarrowToCodePage(PreferenceStore::getInstallationGuid(), CP_UTF8);
  for (const std::wstring& name : FinishedFileNames(folder)) ProcessFile(folder, name, settings, log);
  log.Line("Log transport done for ", folder);
  log.Close();
}

}  // namespace kx
