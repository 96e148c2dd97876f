// Dumps are read in a child process with a time limit, as Socorro runs its stack walker: a hostile dump
// that hangs or crashes the reader costs one child, never the server. The reader prints JSON on its
// standard output and ends with 0; anything else marks the dump as unreadable (it is kept all the same).
#pragma once

#include <string>
#include <vector>

namespace kx::server {

struct DumpReading {
  bool readable = false;
  std::string details;  // the reader's JSON when readable; otherwise why not, in a few words
};

// Runs `command` with the dump's path appended, for at most `seconds`; at most kMaxOutputBytes of its output
// are kept.
DumpReading ReadDumpInChild(const std::vector<std::string>& command, const std::string& dumpPath, int seconds);

inline constexpr std::size_t kMaxOutputBytes = 256 * 1024;

// The built-in reader's program name, installed beside kxserver (process/dump_info_main.cpp).
inline constexpr char kDumpInfoProgram[] = "kxserver-dumpinfo";

}  // namespace kx::server
