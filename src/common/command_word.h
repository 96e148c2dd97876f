// Command-line words as Windows splits them (CommandLineToArgvW, the C runtime's argv): the one place where
// the service, the crash handler and their tests quote a word for a program they start.
#pragma once

#include <string>

namespace kx {

// Quotes one command-line word so that CommandLineToArgvW gives it back unchanged, whatever it holds: blanks,
// quotes, backslashes before a quote or at its end (a folder ending in "\"), or nothing at all.
std::wstring QuoteCommandWord(const std::wstring& word);

}  // namespace kx
