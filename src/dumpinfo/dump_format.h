// The two outputs of kxdumpinfo for a parsed minidump (docs/kxdumpinfo.md shows both): text for people,
// UTF-8 with control characters of module names shown as '?', and one JSON object, all ASCII (other
// characters as \u escapes). Both end with a line feed.
#pragma once

#include <string>

#include "dumpinfo/dump_stacks.h"
#include "dumpinfo/minidump_parser.h"

namespace kx {

// `stacks`: the threads walked with a symbol store (--symbols); null when none was given.
std::string FormatDumpText(const MinidumpInfo& info, const DumpStacks* stacks = nullptr);
std::string FormatDumpJson(const MinidumpInfo& info, const DumpStacks* stacks = nullptr);

// UTF-16 text as UTF-8 that cannot drive a terminal: C0 and C1 controls as '?', a surrogate without its
// partner as U+FFFD.
std::string DisplayText(const std::u16string& text);

}  // namespace kx
