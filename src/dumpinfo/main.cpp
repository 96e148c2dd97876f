// kxdumpinfo [--json] <dump file>: shows what a minidump holds without a debugger (docs/kxdumpinfo.md).
// This file only reaches the platform: it maps the file, hands its bytes to the parser and writes the text.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/text_convert.h"
#include "common/win_handles.h"
#include "dumpinfo/dump_command.h"
#include "dumpinfo/dump_format.h"
#include "dumpinfo/mapped_file.h"
#include "dumpinfo/minidump_parser.h"

namespace {

enum ExitCode : int {
  kShown = 0,
  kUsage = 1,
  kUnreadable = 2,    // missing, unreadable, or cannot be mapped
  kNotAMinidump = 3,  // read, but refused by the parser
  kOutputFailed = 4,
};

// A console gets UTF-16 through WriteConsoleW, so that module names show whatever the console's code page;
// a file or pipe gets the UTF-8 bytes as they are.
bool Write(DWORD which, const std::string& utf8) {
  const HANDLE out = ::GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(out, &mode) != FALSE;
  const std::wstring wide = console ? kx::WidenFromCodePage(utf8, CP_UTF8) : std::wstring();
  // Pieces, because consoles refuse very large single writes; a piece never ends inside a surrogate pair.
  const std::size_t total = console ? wide.size() : utf8.size();
  for (std::size_t done = 0; done < total;) {
    std::size_t piece = total - done < 8192 ? total - done : 8192;
    if (console && piece > 1 && wide[done + piece - 1] >= 0xD800 && wide[done + piece - 1] <= 0xDBFF) --piece;
    DWORD written = 0;
    const BOOL ok =
        console ? ::WriteConsoleW(out, wide.data() + done, static_cast<DWORD>(piece), &written, nullptr)
                : ::WriteFile(out, utf8.data() + done, static_cast<DWORD>(piece), &written, nullptr);
    if (!ok || written == 0) return false;
    done += written;
  }
  return true;
}

int Fail(ExitCode code, const std::string& message) {
  Write(STD_ERROR_HANDLE, "kxdumpinfo: " + message + "\n");
  return code;
}

std::string Utf8(const std::wstring& text) { return kx::NarrowToCodePage(text, CP_UTF8); }

std::string ErrorText(DWORD error) {
  kx::UniqueLocalMem<wchar_t> text;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
  std::wstring message = length != 0 ? std::wstring(text.get(), length) : std::wstring();
  // One line: the system's text ends with a line break, and a few have more inside.
  for (wchar_t& c : message) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!message.empty() && message.back() == L' ') message.pop_back();
  return "error " + std::to_string(error) + (message.empty() ? "" : ": " + Utf8(message));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.push_back(Utf8(argv[i]));
  // Walking stacks needs the symbolizer, which only the Linux build has (docs/kxdumpinfo.md).
  const std::optional<kx::DumpCommand> command = kx::ReadDumpCommand(words, false);
  if (!command) return Fail(kUsage, kx::DumpUsage(false));
  if (command->help) return Write(STD_OUTPUT_HANDLE, kx::DumpUsage(false) + "\n") ? kShown : kOutputFailed;
  const bool json = command->json;
  // The word itself, not its UTF-8 form: a file name may hold UTF-16 that has none.
  const std::wstring path = argv[command->dumpPathWord + 1];

  kx::MappedFile file;
  if (const DWORD error = file.Open(path)) {
    return Fail(kUnreadable, "cannot read " + Utf8(path) + ": " + ErrorText(error));
  }
  const kx::MinidumpParse parse = kx::ParseMinidump(file.bytes());
  if (!parse.error.empty()) {
    return Fail(kNotAMinidump, Utf8(path) + " is not a usable minidump: " + parse.error);
  }
  const std::string output = json ? kx::FormatDumpJson(parse.info) : kx::FormatDumpText(parse.info);
  return Write(STD_OUTPUT_HANDLE, output) ? kShown : Fail(kOutputFailed, "cannot write the output");
}
