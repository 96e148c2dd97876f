#include "report/module_ids_win.h"

#include <optional>

#include "report/dump_codeview.h"
#include "stackwalk/pe_image.h"

namespace kx {
namespace {

// The first page holds every header a linker writes.
constexpr std::size_t kHeaderBytes = 4096;
constexpr std::uint32_t kMostDebugEntryBytes = 28 * 16;
constexpr std::uint32_t kMostRecordBytes = 1024;

std::optional<std::string> ReadMemory(HANDLE process, std::uint64_t address, std::size_t size) {
  std::string bytes(size, '\0');
  SIZE_T read = 0;
  if (!::ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)),
                           bytes.data(), size, &read) ||
      read != size) {
    return std::nullopt;
  }
  return bytes;
}

std::optional<PeImage> ReadHeaders(HANDLE process, std::uint64_t base, std::string& headers) {
  const std::optional<std::string> bytes = ReadMemory(process, base, kHeaderBytes);
  if (!bytes) return std::nullopt;
  headers = *bytes;
  return PeImage::Parse(headers, PeLayout::kMapped);
}

std::string CodeViewOf(HANDLE process, std::uint64_t base, const PeImage& image) {
  const PeDirectory& debug = image.debugDirectory();
  if (debug.size == 0 || debug.size > kMostDebugEntryBytes) return {};
  const std::optional<std::string> entries = ReadMemory(process, base + debug.rva, debug.size);
  const std::optional<PeDirectory> record = entries ? CodeViewEntry(*entries, false) : std::nullopt;
  if (!record || record->size == 0 || record->size > kMostRecordBytes) return {};
  return ReadMemory(process, base + record->rva, record->size).value_or("");
}

}  // namespace

std::string ReadCodeViewRecord(HANDLE process, std::uint64_t base) {
  std::string headers;
  const std::optional<PeImage> image = ReadHeaders(process, base, headers);
  return image ? CodeViewOf(process, base, *image) : std::string();
}

BinaryImageIds ReadModuleIds(HANDLE process, std::uint64_t base) {
  BinaryImageIds ids;
  std::string headers;
  const std::optional<PeImage> image = ReadHeaders(process, base, headers);
  if (!image) return ids;
  ids.timeDateStamp = image->timeDateStamp();
  ids.codeView = ParseCodeViewRecord(CodeViewOf(process, base, *image));
  return ids;
}

bool AddCodeViewRecords(HANDLE dumpFile, HANDLE process) {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(dumpFile, &size)) return false;
  const auto read = [dumpFile](std::uint64_t offset, std::uint64_t length) -> std::optional<std::string> {
    std::string bytes(static_cast<std::size_t>(length), '\0');
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (length > 0xFFFFFFFFu || !::ReadFile(dumpFile, bytes.data(), static_cast<DWORD>(length), &got, &at) ||
        got != length) {
      return std::nullopt;
    }
    return bytes;
  };
  const auto recordOf = [process](std::uint64_t base) { return ReadCodeViewRecord(process, base); };
  for (const DumpWrite& write :
       PlanCodeViewRecords(read, static_cast<std::uint64_t>(size.QuadPart), recordOf)) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(write.offset);
    at.OffsetHigh = static_cast<DWORD>(write.offset >> 32);
    DWORD wrote = 0;
    if (!::WriteFile(dumpFile, write.bytes.data(), static_cast<DWORD>(write.bytes.size()), &wrote, &at) ||
        wrote != write.bytes.size()) {
      return false;
    }
  }
  return true;
}

}  // namespace kx
