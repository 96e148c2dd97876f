// kxdumpinfo's command line, read the same way by its Windows and its Linux build (docs/kxdumpinfo.md).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct DumpCommand {
  bool help = false;
  bool json = false;
  std::vector<std::string> symbolFolders;  // --symbols DIR, in the order given
  std::string dumpPath;
  std::size_t dumpPathWord = 0;  // its index among the words
};

// The words after the program's name: --json and --symbols DIR (repeatable; only where `symbols` is true) in
// any order and exactly one dump file; or --help (or /?) alone. Nothing for any other line.
std::optional<DumpCommand> ReadDumpCommand(const std::vector<std::string>& words, bool symbols);

std::string DumpUsage(bool symbols);

}  // namespace kx
