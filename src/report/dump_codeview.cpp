#include "report/dump_codeview.h"

#include "stackwalk/little_endian.h"

namespace kx {
namespace {

// The parts of the minidump format this needs: the header's stream count and directory, the module list
// stream (type 4) and, in each 108-byte module entry, the base and the CodeView record's size and RVA.
constexpr std::uint64_t kHeaderSize = 32;
constexpr std::uint64_t kDirectoryEntrySize = 12;
constexpr std::uint32_t kModuleListStream = 4;
constexpr std::uint64_t kModuleSize = 108;
constexpr std::uint64_t kModuleCodeView = 76;
// Records larger than this are no CodeView record a linker writes.
constexpr std::size_t kMostRecordBytes = 1024;

std::string LittleEndian32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  return bytes;
}

}  // namespace

std::vector<DumpWrite> PlanCodeViewRecords(
    const std::function<std::optional<std::string>(std::uint64_t, std::uint64_t)>& read,
    std::uint64_t fileSize, const std::function<std::string(std::uint64_t)>& recordOf) {
  const std::optional<std::string> header = read(0, kHeaderSize);
  if (!header) return {};
  const std::uint32_t streams = Le32At(*header, 8);
  const std::optional<std::string> directory = read(Le32At(*header, 12), streams * kDirectoryEntrySize);
  if (!directory) return {};
  std::optional<std::string> modules;
  std::uint64_t modulesAt = 0;
  for (std::uint64_t at = 0; at < directory->size() && !modules; at += kDirectoryEntrySize) {
    if (Le32At(*directory, at) != kModuleListStream) continue;
    modulesAt = Le32At(*directory, at + 8);
    modules = read(modulesAt, Le32At(*directory, at + 4));
  }
  if (!modules || modules->size() < 4 || Le32At(*modules, 0) > (modules->size() - 4) / kModuleSize) return {};

  std::vector<DumpWrite> records;
  std::vector<DumpWrite> entries;
  std::uint64_t end = fileSize;
  for (std::uint64_t i = 0; i < Le32At(*modules, 0); ++i) {
    const std::uint64_t entry = 4 + i * kModuleSize;
    if (Le32At(*modules, entry + kModuleCodeView) != 0) continue;
    std::string record = recordOf(Le64At(*modules, entry));
    // An RVA is 32 bits: past 4 GiB (a full dump's memory comes last) no record can be pointed at.
    if (record.empty() || record.size() > kMostRecordBytes || end + record.size() > 0xFFFFFFFFu) continue;
    entries.push_back(
        {modulesAt + entry + kModuleCodeView, LittleEndian32(static_cast<std::uint32_t>(record.size())) +
                                                  LittleEndian32(static_cast<std::uint32_t>(end))});
    const std::uint64_t size = record.size();
    records.push_back({end, std::move(record)});
    end += size;
  }
  // The records first: a dump cut off between the two steps still reads as before.
  records.insert(records.end(), entries.begin(), entries.end());
  return records;
}

}  // namespace kx
