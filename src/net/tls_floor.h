// The oldest protocol an HTTPS exchange may run over: TLS 1.2. WinINet takes no per-program list of
// protocols, so the client asks, once the handshake is over and before any byte of the body leaves, which
// protocol the connection runs over; this decides from the answer whether the exchange goes on.
#pragma once

#include <cstdint>

namespace kx {

// WinINet's answers to "which protocol does this connection run over?".
inline constexpr std::uint32_t kInternetInvalidOption = 12009;        // ERROR_INTERNET_INVALID_OPTION
inline constexpr std::uint32_t kInternetIncorrectHandleType = 12018;  // ERROR_INTERNET_INCORRECT_HANDLE_TYPE

struct ConnectionProtocolReport {
  bool answered = false;       // the query succeeded
  std::uint32_t error = 0;     // its error code when it did not
  bool secure = false;         // the connection runs over TLS at all
  std::uint32_t protocol = 0;  // the SP_PROT_* bits of the protocol in use
};

// True when the exchange may go on: TLS 1.2 or 1.3 reported for a secure connection, or a platform that has
// no such query at all (one of the two errors above; Wine's WinINet), where the machine's protocol settings
// are the only floor there is. Every other protocol (SSL, TLS 1.0, 1.1, none, several, unknown) and every
// other failure of the query stop it.
bool MeetsTlsFloor(const ConnectionProtocolReport& report);

}  // namespace kx
