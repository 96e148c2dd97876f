// Stands in for a program that the product starts: the browser (the opensolutionurl test and tools/demo
// register it as the "open" command of http and https links) and the log transport (copied into a client
// directory as KXLogTransport.exe, which is started with the client directory as its first word). It records
// how it was started and ends at once; launch_records.h reads the records.
//
//   launch_recorder <record folder> <further words...>
//
// Each start leaves <record folder>\<time>-<process id>.launch: the whole command line, then each word
// after the record folder, every one followed by a NUL, in UTF-16LE. It is written under another name and
// renamed, so a reader never sees half of it. A GUI program, so that Wine opens no console for it.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "common/win_handles.h"

namespace {

bool WriteRecord(const std::wstring& path, const std::wstring& record) {
  kx::UniqueFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD size = static_cast<DWORD>(record.size() * sizeof(wchar_t));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), record.data(), size, &written, nullptr) && written == size;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const wchar_t* commandLine = ::GetCommandLineW();
  int count = 0;
  const kx::UniqueLocalMem<LPWSTR> words(::CommandLineToArgvW(commandLine, &count));
  if (!words || count < 2) return 1;

  std::wstring record = commandLine + std::wstring(1, L'\0');
  for (int i = 2; i < count; ++i) record += words.get()[i] + std::wstring(1, L'\0');

  // Names in start order, so that a reader can list the launches in order.
  FILETIME now = {};
  ::GetSystemTimePreciseAsFileTime(&now);
  wchar_t stamp[40];
  std::swprintf(stamp, 40, L"\\%08lX%08lX-%lu", now.dwHighDateTime, now.dwLowDateTime, ::GetCurrentProcessId());
  const std::wstring name = words.get()[1] + std::wstring(stamp);
  const std::wstring temporary = name + L".tmp";
  if (!WriteRecord(temporary, record)) return 2;
  return ::MoveFileExW(temporary.c_str(), (name + L".launch").c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
