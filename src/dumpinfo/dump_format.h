// The two outputs of kxdumpinfo for a parsed minidump (docs/kxdumpinfo.md shows both): text for people,
// UTF-8 with control characters of module names shown as '?', and one JSON object, all ASCII (other
// characters as \u escapes). Both end with a line feed.
#pragma once

#include <string>

#include "dumpinfo/minidump_parser.h"

namespace kx {

std::string FormatDumpText(const MinidumpInfo& info);
std::string FormatDumpJson(const MinidumpInfo& info);

}  // namespace kx
