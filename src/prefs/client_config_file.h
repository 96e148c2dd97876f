// Reading the client configuration file, and the server settings the exchanges take from it.
#pragma once

#include <string>
#include <string_view>

#include "prefs/client_config.h"

namespace kx {

// Reads client directory + "\" + "kx_win_client_config.cfg" (the directory text used as given). A missing or
// unreadable file gives an empty configuration; a read error keeps the lines read before it. Read afresh at
// every call; the file is shared with other readers and writers while it is read.
ClientConfig ReadClientConfig(const std::wstring& clientDirectory);

// The server URL configured under `key`, widened with the system ANSI code page; `builtIn` when the key is
// absent or its value empty.
std::wstring ConfiguredServerUrl(const ClientConfig& config, std::string_view key, std::wstring_view builtIn);

}  // namespace kx
