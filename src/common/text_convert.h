// Conversions between the ANSI code pages and UTF-16. Each caller names the code page it needs
// (CP_ACP for the system code page, CP_THREAD_ACP for the current thread's).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kx {

// MultiByteToWideChar over the whole text (embedded NULs included); empty on failure.
std::wstring WidenFromCodePage(std::string_view text, UINT codePage);

// WideCharToMultiByte without flags: characters the code page lacks become its default character.
std::string NarrowToCodePage(std::wstring_view text, UINT codePage);

// UTF-8 text in a code page: what the code page lacks becomes its default character.
std::string ConvertFromUtf8(std::string_view utf8, UINT codePage);

// The narrow text only when it widens back to exactly the same text: nothing when the code page lacks a
// character or converts it to a look-alike.
std::optional<std::string> NarrowLosslessly(std::wstring_view text, UINT codePage);

}  // namespace kx
