#include "support/launch_records.h"

#include <algorithm>

#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {

std::wstring LaunchRecorderPath() { return ThisProgramFolder() + L"\\launch_recorder.exe"; }

std::vector<Launch> ReadLaunches(const std::wstring& recordFolder) {
  std::vector<Launch> launches;
  for (const std::wstring& name : ListTree(recordFolder)) {  // sorted: in start order
    if (name.size() < 7 || name.compare(name.size() - 7, 7, L".launch") != 0) continue;
    const std::optional<std::string> bytes = ReadFileBytes(recordFolder + L"\\" + name);
    if (!bytes) continue;
    // launch_recorder.cpp tells the record's layout: the whole command line first, then the words.
    std::wstring text(bytes->size() / sizeof(wchar_t), L'\0');
    std::copy_n(bytes->data(), text.size() * sizeof(wchar_t), reinterpret_cast<char*>(text.data()));
    Launch& words = launches.emplace_back();
    for (size_t start = text.find(L'\0') + 1, end;
         start != 0 && (end = text.find(L'\0', start)) != std::wstring::npos; start = end + 1) {
      words.push_back(text.substr(start, end - start));
    }
  }
  return launches;
}

std::vector<Launch> WaitForLaunchRecords(const std::wstring& recordFolder, size_t count, DWORD limitMs) {
  std::vector<Launch> launches;
  WaitUntil(std::to_string(count) + " launch records", std::chrono::milliseconds(limitMs), [&] {
    launches = ReadLaunches(recordFolder);
    return launches.size() >= count;
  });
  return launches;
}

}  // namespace kx::test
