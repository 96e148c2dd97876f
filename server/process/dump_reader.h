// Dumps are read in a child process with a time limit, as Socorro runs its stack walker: a hostile dump
// that hangs or crashes the reader costs one child, never the server. The reader is kxdumpinfo's Linux
// build, `kxdumpinfo --json [--symbols DIR]... DUMP` (docs/kxdumpinfo.md): it walks every thread and, with
// symbol folders, names the frames and signs the crash by the shared rules. It prints JSON on its standard
// output and ends with 0; anything else marks the dump as unreadable (it is kept all the same).
#pragma once

#include <string>
#include <vector>

namespace kx::server {

struct DumpReading {
  bool readable = false;
  std::string details;    // the reader's JSON when readable; otherwise why not, in a few words
  std::string signature;  // the JSON's signature text; empty without one (no symbol folders, no exception)
};

// Runs `command` with the dump's path appended, for at most `seconds`; at most kMaxOutputBytes of its output
// are kept.
DumpReading ReadDumpInChild(const std::vector<std::string>& command, const std::string& dumpPath, int seconds);

inline constexpr std::size_t kMaxOutputBytes = 256 * 1024;

// The signature text of kxdumpinfo's JSON; empty when it has none or is not such JSON.
std::string SignatureOfDumpJson(const std::string& json);

// The default reader's program name, installed beside kxserver (with kxsymbolizer, which it starts).
inline constexpr char kDumpInfoProgram[] = "kxdumpinfo";

}  // namespace kx::server
