#include "app/preference_sync.h"

#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/text_convert.h"
#include "common/wire_names.h"
#include "net/http_client.h"
#include "prefs/answer_readers.h"
#include "prefs/client_config_file.h"
#include "prefs/preference_request.h"
#include "prefs/preference_store.h"

namespace kx {
namespace {

constexpr wchar_t kFormHeader[] = L"Content-Type: application/x-www-form-urlencoded";

// The store's texts were narrowed with the thread's code page.
std::wstring WidenStoreText(std::string_view narrow) { return WidenFromCodePage(narrow, CP_THREAD_ACP); }

// The whole exchange; how many new builds the store's bound left out.
size_t ExchangePreferences(const std::wstring& clientDirectory) {
  PreferenceMap preferences = PreferenceStore::ReadAllPreferences();
  if (preferences.empty()) return 0;
  const std::string body = BuildPreferenceRequestBody(preferences, &WidenStoreText);

  const ClientConfig config = ReadClientConfig(clientDirectory);
  const std::wstring server =
      ConfiguredServerUrl(config, kPreferencesServerUrlKey, kBuiltInPreferencesServerUrl);
  const std::uint16_t port = ConfiguredPort(config, kPreferencesServerPortKey);
  const std::wstring answer =
      HttpClient().SendPostRequest(server, wire::AsciiWide(wire::kPreferencesPath), kFormHeader, body, port);

  ReadUpdatedPreferences(answer, preferences);
  return PreferenceStore::WriteAllPreferences(preferences);
}

}  // namespace

void SyncPreferences(const std::wstring& clientDirectory) {
  ComponentLog log(LogComponent::InitialDataSyncProcessor);
  log.Start();
  const size_t leftOut = ExchangePreferences(clientDirectory);
  if (leftOut > 0) {
    log.Line("The preference store is full: ", LogNumber{static_cast<std::uint32_t>(leftOut)},
             " new product builds left out");
  }
}


}  // namespace kx
