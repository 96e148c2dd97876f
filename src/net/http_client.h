// The one HTTPS client of the service: one blocking POST per call, answered by the raw response header block.
// The response body is never read; callers look for their answer in the header lines (or the status code).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kx {

// The text returned when no header block was obtained: the server could not be reached, its certificate
// failed the platform's checks, the connection runs over a protocol older than TLS 1.2, or the server closed
// the connection or stayed silent without answering.
inline constexpr wchar_t kNoAnswer[] = L"-1";

inline constexpr std::uint64_t kMaxUploadBytes = 0xFFFFFFFFull;

class HttpClient {
 public:
  // Connects to `server` (a bare host, or a URL of which only the host is used) on `port` with TLS whatever
  // the port, and posts `body` (its bytes up to the first NUL) to `path` with `headers` added unchanged.
  //
  // Returns:
  //   the raw header block   the server answered: status line and header lines, each ended by CR LF, and the
  //                          empty line that ends the block; whatever the status code. Also an answer that
  //                          came before the whole body went out (the server closed the connection under
  //                          the body's writes), when the platform could read it, but never a 2xx one;
  //   kNoAnswer ("-1")       no header block (see above), and when `port` is 0;
  //   empty                  the internet, connection or request handle could not be opened.
  // When `status` is given it receives the numeric status code, 0 with kNoAnswer; it is left untouched when
  // a handle could not be opened. Blocks until the exchange has ended, at most about 30 s for each of
  // connecting, sending and receiving; no retry, no cache, no credentials, no user interface, and no
  // redirect followed (a 3xx answer is handed back like any other). The request line and headers go first;
  // the body follows only once the platform has reported TLS 1.2 or 1.3 for the connection (see
  // net/tls_floor.h for a platform that cannot tell).
  std::wstring SendPostRequest(const std::wstring& server, const std::wstring& path,
                               const std::wstring& headers, const std::string& body, std::uint16_t port,
                               std::uint32_t* status = nullptr);

  // The same exchange with the body read from an open file, `size` bytes from its start, sent a piece at a
  // time. Files beyond kMaxUploadBytes are not sent (kNoAnswer): the platform takes a 32-bit body length.
  std::wstring SendFileRequest(const std::wstring& server, const std::wstring& path,
                               const std::wstring& headers, HANDLE file, std::uint64_t size,
                               std::uint16_t port, std::uint32_t* status = nullptr);
};

}  // namespace kx
