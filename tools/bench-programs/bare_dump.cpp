// The least a dumper must do: open the crashed process and write its minidump with the service's flags and
// the crash's exception information, rebuilt in this process as the service rebuilds it.
//   kx_bare_dump <process id> <thread id> <CONTEXT and EXCEPTION_RECORD in hex> <dump path>
// The dump path is the rest of the line, unquoted: the words are split here by hand, so that no library
// beyond the dumper's own is loaded. Exit code 0 when the dump was written.
#include <windows.h>
#include <dbghelp.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace {

constexpr MINIDUMP_TYPE kNormalDump = static_cast<MINIDUMP_TYPE>(0x1AD);

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

bool ReadHex(const wchar_t* text, void* bytes, size_t size) {
  if (std::wcslen(text) != size * 2) return false;
  auto* out = static_cast<unsigned char*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

struct Crash {
  CONTEXT context;
  EXCEPTION_RECORD record;
};

// The program name (quoted or not), then blank-separated words; the last word runs to the end of the line.
std::vector<std::wstring> SplitLine(const wchar_t* line, size_t words) {
  std::vector<std::wstring> split;
  const wchar_t* at = line;
  if (*at == L'"') {
    at = std::wcschr(at + 1, L'"');
    at = at ? at + 1 : line + std::wcslen(line);
  } else {
    while (*at != L'\0' && *at != L' ') ++at;
  }
  while (split.size() < words) {
    while (*at == L' ') ++at;
    if (*at == L'\0') break;
    const wchar_t* end = split.size() + 1 == words ? at + std::wcslen(at) : std::wcschr(at, L' ');
    if (end == nullptr) end = at + std::wcslen(at);
    split.emplace_back(at, end);
    at = end;
  }
  return split;
}

int Run() {
  const std::vector<std::wstring> words = SplitLine(::GetCommandLineW(), 4);
  if (words.size() != 4) return 1;
  const DWORD processId = std::wcstoul(words[0].c_str(), nullptr, 10);
  const DWORD threadId = std::wcstoul(words[1].c_str(), nullptr, 10);
  auto crash = std::make_unique<Crash>();  // on the heap for CONTEXT's 16-byte alignment
  if (!ReadHex(words[2].c_str(), crash.get(), sizeof(Crash))) return 2;
  const kx::UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, processId));
  if (!process) return 3;
  const kx::UniqueFileHandle file(::CreateFileW(words[3].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 4;
  EXCEPTION_POINTERS pointers = {&crash->record, &crash->context};
  MINIDUMP_EXCEPTION_INFORMATION exception = {threadId, &pointers, FALSE};
  return ::MiniDumpWriteDump(process.get(), processId, file.get(), kNormalDump, &exception, nullptr, nullptr)
             ? 0
             : 5;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return Run(); }
