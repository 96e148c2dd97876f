#include "frontend/run_history_file.h"

#include <optional>

#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"

namespace kx {
namespace {

// Long enough for the other process's read and write; a file that stays locked is left alone.
constexpr DWORD kLockWaitMs = 5000;

// A mutex name holds no backslash after its namespace.
std::wstring MutexName(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');  // one file, one name
  }
  return L"Local\\KXRunHistory:" + path.substr(0, MAX_PATH - 32);
}

}  // namespace

std::wstring RunHistoryPathOfThisProgram() {
  const std::wstring root = StoragePaths::Root();
  wchar_t program[MAX_PATH * 2] = L"";
  const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
  if (root.empty() || length == 0 || length >= MAX_PATH * 2) return L"";
  const std::wstring full(program, length);
  return root + L"\\runs-" + full.substr(full.find_last_of(L"\\/") + 1);
}

bool UpdateRunHistory(const std::wstring& path, const std::function<void(RunHistory&)>& change) {
  if (path.empty()) return false;
  const UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, MutexName(path).c_str()));
  if (!mutex) return false;
  const DWORD waited = ::WaitForSingleObject(mutex.get(), kLockWaitMs);
  // An owner that ended while holding it leaves the file whole: it is only ever replaced by a rename.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  RunHistory history;
  if (const std::optional<std::string> bytes = ReadSharedFile(path, kMaxRunHistoryBytes)) {
    if (std::optional<RunHistory> read = ParseRunHistory(*bytes)) history = std::move(*read);
  }
  bool written = false;
  try {
    change(history);
    written = WriteThenMove(path + L".tmp", path, FormatRunHistory(history)) == ERROR_SUCCESS;
  } catch (...) {
    // Out of memory: the file stays as it was.
  }
  ::ReleaseMutex(mutex.get());
  return written;
}

std::int64_t RunHistoryNow() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks = (0ULL + now.dwHighDateTime) << 32 | now.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;  // 100 ns since 1601
}

}  // namespace kx
