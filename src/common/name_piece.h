// Texts from other processes (the crash identifier on the command line, file names sent over the pipe) are
// joined into file and pipe names. A piece that could leave its folder or name a device stream is refused.
#pragma once

#include <string_view>

namespace kx {

// True when the text holds no "\", "/", ":" and no control character (below 0x20, or 0x7F).
// Emptiness is the caller's concern: some callers accept an empty piece, others do not.
bool IsPlainNamePiece(std::string_view text);
bool IsPlainNamePiece(std::wstring_view text);

// A file name that may be joined to a folder and opened: not empty, a plain piece, free of the wildcard and
// redirection characters ? * < > | " (no file can carry them: creating it fails), not a DOS device name (CON,
// PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$ in any case, with or without an extension: "NUL.dmp" opens the
// device, and "COM1.dmp" a serial port), and not ending in "." or a blank (Windows drops those, so the file
// would get another name).
bool IsUsableFileName(std::wstring_view name);

}  // namespace kx
