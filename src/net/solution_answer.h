// Decisions on what the solution server and the front end hand us: whether the server wants the minidump,
// and whether a link may be given to the browser.
#pragma once

#include <string_view>

namespace kx {

// The "Attach_Dump" answer: the dump is wanted unless the text begins with "N" or "n" or is exactly "-1"
// (no such header line, or no answer at all). An empty value counts as wanted.
bool IsDumpWanted(std::string_view attachDump);

// A link for the browser: begins with "https://" or "http://" (exactly these letters), and holds no double
// quote, no white space and no control character. The shell puts the link into the browser's command line,
// where a quote or a blank would end the argument and hand the rest to the browser as further arguments.
bool IsOpenableLink(std::string_view link);

}  // namespace kx
