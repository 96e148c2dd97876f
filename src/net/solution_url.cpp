#include "net/solution_url.h"

namespace kx {

// Does nothing yet: the HTTPS client and the report file names are not built.
void SolutionURL::fetchSolutionUrlForGeneratedCrashLog(std::string, std::wstring) {}

}  // namespace kx
