// How the pieces of a diagnostic log line become the bytes stored on disk. Log files hold 8-bit text: each
// character up to U+00FF is stored as one byte of the same value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// A 32-bit count or identifier: decimal, no leading zeros.
struct LogNumber {
  std::uint32_t value;
};

// A signed value (a preference read from text): decimal with "-" when negative.
struct LogInteger {
  std::int64_t value;
};

// A boolean: "1" or "0".
struct LogFlag {
  bool value;
};

// A handle, as a stream prints a pointer: 16 upper-case hexadecimal digits, zero-padded, no prefix.
struct LogHandle {
  std::uintptr_t value;
};

// Narrow text: every byte stored unchanged.
void AppendLogPiece(std::string& line, std::string_view narrow);
inline void AppendLogPiece(std::string& line, const char* narrow) {
  AppendLogPiece(line, std::string_view(narrow));
}
inline void AppendLogPiece(std::string& line, const std::string& narrow) {
  AppendLogPiece(line, std::string_view(narrow));
}

// Wide text: characters up to U+00FF stored as their byte; any other character (a surrogate pair counts as
// one) stored as "?".
void AppendLogPiece(std::string& line, std::wstring_view wide);
inline void AppendLogPiece(std::string& line, const wchar_t* wide) {
  AppendLogPiece(line, std::wstring_view(wide));
}
inline void AppendLogPiece(std::string& line, const std::wstring& wide) {
  AppendLogPiece(line, std::wstring_view(wide));
}

void AppendLogPiece(std::string& line, LogNumber number);
void AppendLogPiece(std::string& line, LogInteger number);
void AppendLogPiece(std::string& line, LogFlag flag);
void AppendLogPiece(std::string& line, LogHandle handle);

}  // namespace kx
