#include "net/solution_url_opener.h"

namespace kx {

// Does nothing yet: the link opener is not built.
void openSolutionUrl(const std::string&) {}

}  // namespace kx
