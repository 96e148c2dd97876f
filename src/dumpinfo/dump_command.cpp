#include "dumpinfo/dump_command.h"

namespace kx {

std::optional<DumpCommand> ReadDumpCommand(const std::vector<std::string>& words, bool symbols) {
  DumpCommand command;
  if (words.size() == 1 && (words[0] == "--help" || words[0] == "/?")) {
    command.help = true;
    return command;
  }
  bool path = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--json" && !command.json) {
      command.json = true;
    } else if (words[i] == "--symbols" && symbols && i + 1 < words.size() && !words[i + 1].empty()) {
      command.symbolFolders.push_back(words[++i]);
    } else if (!path && words[i] != "--json" && words[i] != "--symbols") {
      command.dumpPath = words[i];
      command.dumpPathWord = i;
      path = true;
    } else {
      return std::nullopt;
    }
  }
  if (!path) return std::nullopt;
  return command;
}

std::string DumpUsage(bool symbols) {
  return symbols ? "usage: kxdumpinfo [--json] [--symbols DIR]... <dump file>"
                 : "usage: kxdumpinfo [--json] <dump file>";
}

}  // namespace kx
