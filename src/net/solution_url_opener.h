// The "opensolutionurl" processor: opens a help link read from the crash's pipe in the default browser.
#pragma once

#include <string>

namespace kx {

// Reads one message from the crash's pipe and opens it when it is a link the browser may be given
// (IsOpenableLink); anything else is dropped without a word. The crash identifier must be a plain name piece.
void openSolutionUrl(const std::string& crashIdentifier);

// Hands the link to the shell's "open" verb; the outcome is not examined.
void openUrlInBrowser(const std::wstring& link);

}  // namespace kx
