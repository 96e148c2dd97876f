#include "transport/upload_rules.h"

namespace kx {

const char* UploadKindOf(std::wstring_view fileName) {
  if (fileName.rfind(L"kxWinLog_", 0) == 0) return "report";
  if (fileName.rfind(L"kxWinDump_", 0) == 0) return "dump";
  return "other";
}

std::string PercentEncode(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                            byte == '~';
    if (unreserved) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kDigits[byte >> 4]);
      encoded.push_back(kDigits[byte & 0xF]);
    }
  }
  return encoded;
}

std::string UploadHeaders(std::string_view utf8FileName, std::string_view kind, std::string_view guid) {
  std::string headers = "Content-Type: application/octet-stream\r\nX-KX-File-Name: ";
  headers.append(PercentEncode(utf8FileName)).append("\r\nX-KX-File-Kind: ").append(kind);
  headers.append("\r\nX-KX-Installation-Guid: ").append(PercentEncode(guid)).append("\r\n");
  return headers;
}

bool IsFinishedFileName(std::wstring_view fileName) {
  const std::wstring_view suffix = kFinishedSuffix;
  return fileName.size() > suffix.size() && fileName.substr(fileName.size() - suffix.size()) == suffix;
}

UploadVerdict JudgeUploadStatus(std::uint32_t status) {
  if (status >= 200 && status <= 299) return UploadVerdict::kDelivered;
  if (status >= 400 && status <= 499) return UploadVerdict::kRejected;
  return UploadVerdict::kRetry;
}

}  // namespace kx
