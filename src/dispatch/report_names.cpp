#include "dispatch/report_names.h"

#include <algorithm>

namespace kx {
namespace {

constexpr std::size_t kMaxSafeNameLength = 32;

bool IsSafeNameCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
         c == L'-';
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
  return text.size() >= start.size() && text.substr(0, start.size()) == start;
}

}  // namespace

std::wstring AttachmentFileName(std::wstring_view reportStem, std::size_t index, std::wstring_view sourceName,
                                std::size_t maxLength) {
  std::wstring name(reportStem);
  name += kAttachmentInfix + std::to_wstring(index) + L".";
  if (name.size() >= maxLength) return {};
  std::wstring safe;
  for (const wchar_t c : sourceName) safe.push_back(IsSafeNameCharacter(c) ? c : L'_');
  if (safe.empty()) safe = L"file";
  safe.resize(std::min({safe.size(), kMaxSafeNameLength, maxLength - name.size()}));
  return name + safe;
}

AttachmentFileState AttachmentStateOf(std::wstring_view reportStem, std::wstring_view fileName) {
  if (!StartsWith(fileName, reportStem)) return AttachmentFileState::kNone;
  std::wstring_view rest = fileName.substr(reportStem.size());
  if (!StartsWith(rest, kAttachmentInfix)) return AttachmentFileState::kNone;
  rest.remove_prefix(std::wstring_view(kAttachmentInfix).size());
  std::size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= L'0' && rest[digits] <= L'9') ++digits;
  if (digits == 0 || digits > 2 || rest.size() == digits || rest[digits] != L'.')
    return AttachmentFileState::kNone;
  rest.remove_prefix(digits + 1);
  std::size_t safe = 0;
  while (safe < rest.size() && IsSafeNameCharacter(rest[safe])) ++safe;
  if (safe == 0) return AttachmentFileState::kNone;
  rest.remove_prefix(safe);
  if (rest.empty()) return AttachmentFileState::kCopy;
  if (rest == kWritingSuffix) return AttachmentFileState::kWriting;
  if (rest == kFinalSuffix) return AttachmentFileState::kFinal;
  return AttachmentFileState::kNone;
}

std::wstring ReportNameOfAttachment(std::wstring_view fileName) {
  // The attachment's own part holds no dot: the last ".xml.att" ends the report's stem.
  const std::wstring infix = L".xml" + std::wstring(kAttachmentInfix);
  const std::size_t at = fileName.rfind(infix);
  if (!StartsWith(fileName, kReportStemStart) || at == std::wstring_view::npos) return {};
  return std::wstring(fileName.substr(0, at + 4)) + kFinalSuffix;
}

std::wstring ReportStem(std::wstring_view guid, std::wstring_view crashIdentifier) {
  std::wstring stem = kReportStemStart;
  stem.append(guid).append(L"_").append(crashIdentifier).append(L"_abc.xml");
  return stem;
}

std::wstring DumpStem(std::wstring_view guid, std::wstring_view crashIdentifier) {
  std::wstring stem = kDumpStemStart;
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
