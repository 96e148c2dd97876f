// What the connection is opened to. Server values come from the build settings or the client configuration
// and are written as URLs ("https://host", "HTTPS://host:8443/"); the connection wants a bare host name.
#pragma once

#include <string>
#include <string_view>

namespace kx {

// The host of a server value: a leading "https://" or "http://" (any letter case) removed, then everything
// from the first "/", "?" or "#" on, then a ":port" (the configured or default port rules, not the value).
// A bracketed IPv6 literal ("[::1]:8443") keeps its brackets. A bare host comes back unchanged.
std::wstring ServerHostFromValue(std::wstring_view value);

}  // namespace kx
