// Texts from other processes (the crash identifier on the command line, file names sent over the pipe) are
// joined into file and pipe names. A piece that could leave its folder or name a device stream is refused.
#pragma once

#include <string_view>

namespace kx {

// True when the text holds no "\", "/", ":" and no control character (below 0x20, or 0x7F).
// Emptiness is the caller's concern: some callers accept an empty piece, others do not.
bool IsPlainNamePiece(std::string_view text);
bool IsPlainNamePiece(std::wstring_view text);

}  // namespace kx
