#include "net/http_client.h"

#include <windows.h>

#include <wininet.h>

#include <cstring>
#include <vector>

#include "net/internet_handle.h"
#include "net/server_address.h"

namespace kx {
namespace {

constexpr wchar_t kUserAgent[] = L"KXWindowsClient";

// Every request is TLS, never served from or stored in the cache, never authenticated on its own and never
// shows UI. Certificate name and date errors are not ignored: the answers delete dumps and put links into the
// browser, so they must come from the real server.
//
// No redirect is followed; a 3xx answer is the answer. Leaving out INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP is
// not enough: some WinINet implementations (Wine's) still follow a redirect from https to http, and would
// send a 307's report in plain text. Following is worth nothing here anyway: a 301 or 302 turns the POST
// into a GET without the report.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_AUTH |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | INTERNET_FLAG_HYPERLINK |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kRequestFlags == 0x84A44700, "the request flags of every exchange");

// A server that accepts and never answers must not keep the service alive: some WinINet implementations wait
// for ever by default. Set on the request handle, where every implementation honours them.
constexpr DWORD kTimeoutMs = 30000;

// Header queries are retried with the size the platform asks for; it settles after one round, so a few
// rounds are plenty and a platform that keeps asking for more cannot keep us here.
constexpr int kHeaderQueryRounds = 8;

// The raw header block (query level 22, lines ended by CR LF); kNoAnswer when none can be read.
std::wstring QueryRawHeaders(HINTERNET request) {
  std::vector<wchar_t> buffer;
  DWORD size = 0;
  for (int round = 0; round < kHeaderQueryRounds; ++round) {
    if (::HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.empty() ? nullptr : buffer.data(), &size,
                         nullptr)) {
      break;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    // `size` is in bytes; one more character keeps the text terminated whatever the platform wrote.
    buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
  }
  if (buffer.empty()) return kNoAnswer;
  return std::wstring(buffer.data());
}

std::uint32_t QueryStatusCode(HINTERNET request) {
  DWORD code = 0;
  DWORD size = sizeof(code);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) {
    return 0;
  }
  return code;
}

}  // namespace

std::wstring HttpClient::sendPostRequest(const std::wstring& server, const std::wstring& path,
                                         const std::wstring& headers, const std::string& body,
                                         std::uint16_t port, std::uint32_t* status) {
  // WinINet reads port 0 as "the scheme's default port": an unusable configured port would quietly reach
  // port 443 of the server instead of failing.
  if (port == 0) {
    if (status) *status = 0;
    return kNoAnswer;
  }

  const UniqueInternetHandle internet(
      ::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) return {};
  const std::wstring host = ServerHostFromValue(server);
  const UniqueInternetHandle connection(::InternetConnectW(internet.get(), host.c_str(), port, nullptr, nullptr,
                                                           INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return {};
  const UniqueInternetHandle request(::HttpOpenRequestW(connection.get(), L"POST", path.c_str(), nullptr, nullptr,
                                                        nullptr, kRequestFlags, 0));
  if (!request) return {};

  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD timeout = kTimeoutMs;
    ::InternetSetOptionW(request.get(), option, &timeout, sizeof(timeout));
  }

  // A failed send (no server, a refused certificate, a connection closed without an answer) has no header
  // block, though some implementations still hand out an empty one; and so has an answer without a status
  // line. The body ends at its first NUL.
  const size_t bodyLength = std::strlen(body.c_str());
  const bool sent =
      headers.size() <= MAXDWORD && bodyLength <= MAXDWORD &&
      ::HttpSendRequestW(request.get(), headers.empty() ? nullptr : headers.c_str(),
                         static_cast<DWORD>(headers.size()),
                         bodyLength == 0 ? nullptr : const_cast<char*>(body.c_str()), static_cast<DWORD>(bodyLength));
  const std::uint32_t code = sent ? QueryStatusCode(request.get()) : 0;
  if (status) *status = code;
  if (code == 0) return kNoAnswer;
  return QueryRawHeaders(request.get());
}

}  // namespace kx
