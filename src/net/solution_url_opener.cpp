#include "net/solution_url_opener.h"

namespace kx {

// Does nothing yet: the pipe channel is not built.
void openSolutionUrl(const std::string&) {}

}  // namespace kx
