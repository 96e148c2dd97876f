#include "support/launch_records.h"

#include <algorithm>
#include <optional>

#include "common/win_handles.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

constexpr DWORD kPollMs = 20;

// launch_recorder.cpp tells the record's layout.
Launch ParseLaunch(const std::string& bytes) {
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(text.size() * sizeof(wchar_t)),
            reinterpret_cast<char*>(text.data()));
  Launch launch;
  bool first = true;
  for (size_t start = 0, end; (end = text.find(L'\0', start)) != std::wstring::npos; start = end + 1) {
    if (first) {
      launch.commandLine = text.substr(start, end - start);
      first = false;
    } else {
      launch.arguments.push_back(text.substr(start, end - start));
    }
  }
  return launch;
}

}  // namespace

std::wstring LaunchRecorderPath() { return ThisProgramFolder() + L"\\launch_recorder.exe"; }

std::vector<Launch> ReadLaunches(const std::wstring& recordFolder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found = {};
  const UniqueFindHandle find(::FindFirstFileW((recordFolder + L"\\*.launch").c_str(), &found));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &found) != FALSE) {
    names.push_back(found.cFileName);
  }
  std::sort(names.begin(), names.end());
  std::vector<Launch> launches;
  for (const std::wstring& name : names) {
    if (const std::optional<std::string> bytes = ReadFileBytes(recordFolder + L"\\" + name)) {
      launches.push_back(ParseLaunch(*bytes));
    }
  }
  return launches;
}

std::vector<Launch> WaitForLaunchRecords(const std::wstring& recordFolder, size_t count, DWORD limitMs) {
  std::vector<Launch> launches = ReadLaunches(recordFolder);
  for (DWORD waited = 0; launches.size() < count && waited < limitMs; waited += kPollMs) {
    ::Sleep(kPollMs);
    launches = ReadLaunches(recordFolder);
  }
  return launches;
}

}  // namespace kx::test
