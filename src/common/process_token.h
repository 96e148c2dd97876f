// Reading what a process token says about who runs it.
#pragma once

#include <windows.h>

#include <vector>

namespace kx {

// One kind of a token's information (TokenUser, TokenIntegrityLevel, ...) as the platform lays it out, in a
// buffer of the size it asks for; empty when it cannot be read.
std::vector<unsigned char> TokenInformationOf(HANDLE token, TOKEN_INFORMATION_CLASS kind);

}  // namespace kx
