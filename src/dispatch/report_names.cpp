#include "dispatch/report_names.h"

namespace kx {

std::wstring ReportStem(std::wstring_view guid, std::wstring_view crashIdentifier) {
  std::wstring stem = L"kxWinLog_";
  stem.append(guid).append(L"_").append(crashIdentifier).append(L"_abc.xml");
  return stem;
}

std::wstring DumpStem(std::wstring_view guid, std::wstring_view crashIdentifier) {
  std::wstring stem = L"kxWinDump_";
  stem.append(guid).append(L"_").append(crashIdentifier).append(L"_abc");
  return stem;
}

std::wstring WidenTextModeBytes(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
  }
  return text;
}

}  // namespace kx
