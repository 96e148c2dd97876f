// Puts into a written minidump the CodeView records its writer left out of the module list (Wine's writes
// none; Windows' writes them itself), so that the dump says which build of each module crashed, as readers of
// the format (kxdumpinfo, Breakpad, WinDbg) expect to find it: the records appended to the file, each module
// entry pointing at its record.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct DumpWrite {
  std::uint64_t offset = 0;
  std::string bytes;
};

// `read(offset, size)` gives the dump file's bytes there (nothing beyond its end), `fileSize` its size and
// `recordOf(base)` the raw CodeView record of the module loaded at `base` (empty when it has none). The
// writes to make, in order; none when the module list cannot be read or no entry lacks a record that exists.
std::vector<DumpWrite> PlanCodeViewRecords(
    const std::function<std::optional<std::string>(std::uint64_t, std::uint64_t)>& read,
    std::uint64_t fileSize, const std::function<std::string(std::uint64_t)>& recordOf);

}  // namespace kx
