#include "dispatch/transport_command.h"

#include "common/command_word.h"

namespace kx {
namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

bool IsDriveLetterPath(const std::wstring& path, std::size_t at) {
  if (path.size() < at + 3) return false;
  const wchar_t letter = path[at];
  const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
  return isLetter && path[at + 1] == L':' && path[at + 2] == L'\\';
}

}  // namespace

std::wstring TransportPathIn(const std::wstring& clientDirectory) {
  const bool separated = !clientDirectory.empty() && clientDirectory.back() == L'\\';
  return clientDirectory + (separated ? L"" : L"\\") + kLogTransportFileName;
}

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  if (StartsWith(path, kLongUncPrefix)) return L"\\\\" + path.substr(8);
  if (StartsWith(path, kLongPrefix) && IsDriveLetterPath(path, 4)) return path.substr(4);
  return path;
}

std::wstring WithLongPathPrefix(const std::wstring& path) {
  if (IsDriveLetterPath(path, 0)) return kLongPrefix + path;
  if (StartsWith(path, L"\\\\") && !StartsWith(path, kLongPrefix) && !StartsWith(path, L"\\\\.\\")) {
    return kLongUncPrefix + path.substr(2);
  }
  return path;
}

std::wstring TransportCommandLine(const std::wstring& programPath, const std::wstring& clientDirectory,
                                  const std::wstring& folder) {
  return QuoteCommandWord(programPath) + L" " + QuoteCommandWord(clientDirectory) + L" " +
         QuoteCommandWord(folder);
}

}  // namespace kx
