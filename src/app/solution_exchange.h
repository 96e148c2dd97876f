// "solutionurl": posts the crash report to the solution server and hands the returned help link to the front
// end over the crash's pipe. The server's answer also decides whether the minidump travels: wanted, the report
// is renamed to its ".solurl.dmpattached" name; not wanted, the dump is deleted. Logs to "SolutionURL.txt"
// when logging is on.
#pragma once

#include <string>

namespace kx {

// The crash identifier must be a plain name piece (the dispatcher refuses others). The pipe gets the link, or
// "-1" when none was obtained; it gets nothing when the crash log folder is unavailable or the report's state
// cannot be told, and then no file changes either.
void ExchangeSolutionLink(const std::string& crashIdentifier, const std::wstring& clientDirectory);

}  // namespace kx
