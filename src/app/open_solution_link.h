// "opensolutionurl": opens a help link read from the crash's pipe in the default browser.
#pragma once

#include <string>

namespace kx {

// Reads one message from the crash's pipe and hands it to the shell's "open" verb when it is a link the
// browser may be given (IsOpenableLink); anything else is dropped without a word, and the shell's outcome is
// not examined. The crash identifier must be a plain name piece.
void OpenSolutionLink(const std::string& crashIdentifier);

}  // namespace kx
