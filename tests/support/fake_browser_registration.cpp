#include "support/fake_browser_registration.h"

#include <atomic>
#include <filesystem>

#include "common/win_handles.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

std::wstring CommandKey(const std::wstring& scheme) {
  return L"Software\\Classes\\" + scheme + L"\\shell\\open\\command";
}

bool KeyExists(const std::wstring& path) {
  UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

}  // namespace

FakeBrowser::FakeBrowser() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  records_ = std::wstring(temp) + L"kx-browser-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(counter++);
  std::error_code error;
  std::filesystem::remove_all(records_, error);
  if (!std::filesystem::create_directories(records_, error)) {
    failure_ = "cannot make the record folder: " + error.message();
    return;
  }
  const std::wstring program = LaunchRecorderPath();
  if (!IsFile(program)) {
    failure_ = "launch_recorder.exe is missing next to the test program";
    return;
  }
  const std::wstring command = L"\"" + program + L"\" \"" + records_ + L"\" \"%1\"";
  for (const wchar_t* scheme : {L"http", L"https"}) {
    failure_ = Register(scheme, command);
    if (!failure_.empty()) return;
  }
}

FakeBrowser::~FakeBrowser() {
  for (const Saved& saved : saved_) Restore(saved);
  std::error_code ignored;
  std::filesystem::remove_all(records_, ignored);
}

std::string FakeBrowser::Register(const std::wstring& scheme, const std::wstring& command) {
  Saved saved;
  saved.scheme = scheme;
  // The topmost missing key of the path: removing it removes all that the registration adds.
  for (const std::wstring& path :
       {L"Software\\Classes\\" + scheme, L"Software\\Classes\\" + scheme + L"\\shell",
        L"Software\\Classes\\" + scheme + L"\\shell\\open", CommandKey(scheme)}) {
    if (!KeyExists(path)) {
      saved.createdKey = path;
      break;
    }
  }
  UniqueRegKey key;
  LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, CommandKey(scheme).c_str(), 0, nullptr, 0,
                                     KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) {
    return "RegCreateKeyExW HKLM\\" + std::string(scheme.begin(), scheme.end()) + "...: " +
           Win32ErrorText(static_cast<DWORD>(status));
  }
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
    saved.data.resize(size);
    saved.hadCommand = ::RegQueryValueExW(key.get(), nullptr, nullptr, &saved.type, saved.data.data(),
                                          &size) == ERROR_SUCCESS;
    saved.data.resize(size);
  }
  // Saved before the change, so that even a failed change is undone.
  saved_.push_back(saved);
  status = ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return "RegSetValueExW: " + Win32ErrorText(static_cast<DWORD>(status));
  return "";
}

void FakeBrowser::Restore(const Saved& saved) {
  if (!saved.createdKey.empty()) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, saved.createdKey.c_str());
    return;
  }
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, CommandKey(saved.scheme).c_str(), 0, KEY_SET_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return;
  }
  if (saved.hadCommand) {
    ::RegSetValueExW(key.get(), nullptr, 0, saved.type, saved.data.data(),
                     static_cast<DWORD>(saved.data.size()));
  } else {
    ::RegDeleteValueW(key.get(), nullptr);
  }
}

std::vector<BrowserLaunch> FakeBrowser::Launches() const { return ReadLaunches(records_); }

std::vector<BrowserLaunch> FakeBrowser::WaitForLaunches(size_t count, DWORD limitMs) const {
  return WaitForLaunchRecords(records_, count, limitMs);
}

}  // namespace kx::test
