#include "stackwalk/module_identity.h"

#include "common/hex_text.h"
#include "stackwalk/little_endian.h"

namespace kx {
namespace {

constexpr std::uint32_t kRsdsSignature = 0x53445352u;  // "RSDS" read as a little-endian number
constexpr std::size_t kRsdsHeaderSize = 24;            // signature, GUID, age; the PDB path follows

}  // namespace

std::optional<CodeViewRecord> ParseCodeViewRecord(std::string_view bytes) {
  if (bytes.size() < kRsdsHeaderSize || Le32At(bytes, 0) != kRsdsSignature) return std::nullopt;
  CodeViewRecord record;
  for (std::size_t i = 0; i < record.guid.size(); ++i)
    record.guid[i] = static_cast<std::uint8_t>(bytes[4 + i]);
  record.age = Le32At(bytes, 20);
  const std::string_view path = bytes.substr(kRsdsHeaderSize);
  record.pdbPath = std::string(path.substr(0, path.find('\0')));
  return record;
}

std::string CodeIdText(std::uint32_t timeDateStamp, std::uint32_t sizeOfImage) {
  std::string text;
  AppendHex(text, timeDateStamp, 8, true);
  AppendHex(text, sizeOfImage, 1, false);
  return text;
}

std::string DebugIdText(const CodeViewRecord& record) {
  const std::string_view guid(reinterpret_cast<const char*>(record.guid.data()), record.guid.size());
  std::string text;
  AppendHex(text, Le32At(guid, 0), 8, true);
  AppendHex(text, Le16At(guid, 4), 4, true);
  AppendHex(text, Le16At(guid, 6), 4, true);
  for (std::size_t i = 8; i < record.guid.size(); ++i) AppendHex(text, record.guid[i], 2, true);
  AppendHex(text, record.age, 1, false);
  return text;
}

std::string_view FileNameOfPath(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace kx
