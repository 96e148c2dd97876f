// The "opensolutionurl" processor: opens a help link read from the crash's pipe in the default browser.
#pragma once

#include <string>

namespace kx {

void openSolutionUrl(const std::string& crashIdentifier);

}  // namespace kx
