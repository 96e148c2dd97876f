#include "net/http_client.h"

#include <windows.h>

#include <wincrypt.h>
#include <schannel.h>
#include <wininet.h>

#include <cstring>
#include <vector>

#include "net/internet_handle.h"
#include "net/server_address.h"
#include "net/tls_floor.h"

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

// A file body goes out in pieces of this size, so that a dump of gigabytes never sits in memory.
constexpr DWORD kUploadPieceBytes = 256 * 1024;

// Header queries are retried with the size the platform asks for; it settles after one round, so a few
// rounds are plenty and a platform that keeps asking for more cannot keep us here.
constexpr int kHeaderQueryRounds = 8;

// INTERNET_OPTION_SECURITY_CONNECTION_INFO and INTERNET_SECURITY_CONNECTION_INFO, from the Windows SDK's
// winineti.h, which MinGW-w64 does not have: the SChannel details of the connection a request went over.
constexpr DWORD kSecurityConnectionInfoOption = 66;
struct SecurityConnectionInfo {
  DWORD size;
  BOOL secure;
  SecPkgContext_ConnectionInfo connection;
  SecPkgContext_CipherInfo cipher;
};
static_assert(kInternetInvalidOption == static_cast<std::uint32_t>(ERROR_INTERNET_INVALID_OPTION),
              "a platform without the protocol query");
static_assert(kInternetIncorrectHandleType ==
                  static_cast<std::uint32_t>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE),
              "a platform without the protocol query");

bool ConnectionMeetsTlsFloor(HINTERNET request) {
  SecurityConnectionInfo info = {};
  info.size = sizeof(info);
  DWORD size = sizeof(info);
  ConnectionProtocolReport report;
  report.answered = ::InternetQueryOptionW(request, kSecurityConnectionInfoOption, &info, &size) != FALSE;
  report.error = report.answered ? 0 : ::GetLastError();
  report.secure = info.secure != FALSE;
  report.protocol = info.connection.dwProtocol;
  return MeetsTlsFloor(report);
}

// Connects, shakes hands and sends the request line and the headers for a body of `bodyLength` bytes.
// False when that failed, or when the connection runs below TLS 1.2: then no byte of the body has left
// (WinINet may fall back to an older protocol on its own, and offers no way to forbid it beforehand).
bool BeginRequest(HINTERNET request, const std::wstring& headers, DWORD bodyLength) {
  INTERNET_BUFFERSW buffers = {};
  buffers.dwStructSize = sizeof(buffers);
  buffers.lpcszHeader = headers.empty() ? nullptr : headers.c_str();
  buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
  buffers.dwBufferTotal = bodyLength;
  return ::HttpSendRequestExW(request, &buffers, nullptr, 0, 0) && ConnectionMeetsTlsFloor(request);
}

bool WriteAll(HINTERNET request, const char* data, DWORD length) {
  for (DWORD done = 0; done < length;) {
    DWORD written = 0;
    if (!::InternetWriteFile(request, data + done, length - done, &written) || written == 0) return false;
    done += written;
  }
  return true;
}

// The raw header block (query level 22, lines ended by CR LF); kNoAnswer when none can be read.
std::wstring QueryRawHeaders(HINTERNET request) {
  std::vector<wchar_t> buffer;
  DWORD size = 0;
  for (int round = 0; round < kHeaderQueryRounds; ++round) {
    if (::HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.empty() ? nullptr : buffer.data(),
                         &size, nullptr)) {
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

// The three handles of one request, closed in reverse order of opening.
struct OpenedRequest {
  UniqueInternetHandle internet;
  UniqueInternetHandle connection;
  UniqueInternetHandle request;
};

// False when a handle could not be opened.
bool OpenPostRequest(const std::wstring& server, const std::wstring& path, std::uint16_t port,
                     OpenedRequest& opened) {
  opened.internet.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!opened.internet) return false;
  const std::wstring host = ServerHostFromValue(server);
  opened.connection.reset(::InternetConnectW(opened.internet.get(), host.c_str(), port, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!opened.connection) return false;
  opened.request.reset(::HttpOpenRequestW(opened.connection.get(), L"POST", path.c_str(), nullptr, nullptr,
                                          nullptr, kRequestFlags, 0));
  if (!opened.request) return false;
  for (const DWORD option :
       {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD timeout = kTimeoutMs;
    ::InternetSetOptionW(opened.request.get(), option, &timeout, sizeof(timeout));
  }
  return true;
}

// How far a request went out.
enum class Sending {
  kFailed,    // no request, or one the server cannot answer (no connection, refused certificate, TLS floor)
  kBodyCut,   // the request line and headers went out, a write of the body failed
  kComplete,  // the whole body went out and the request was ended
};

// Ends a request whose body went out whole; the answer's header block is read here.
Sending EndRequest(HINTERNET request) {
  return ::HttpEndRequestW(request, nullptr, 0, 0) ? Sending::kComplete : Sending::kFailed;
}

// The answer of a request whose sending ended as `sending` says. A failed send has no header block, though
// some implementations still hand out an empty one; and so has an answer without a status line.
//
// A body write fails when the server answered early and closed (a 413 for a body over its limit, a 503 with
// Retry-After): that answer counts. The platform then reads it when the request is ended, if it arrived. A
// success that came before the server had the whole body cannot cover that body, and counts as none.
std::wstring ReadAnswer(HINTERNET request, Sending sending, std::uint32_t* status) {
  std::uint32_t code = 0;
  if (sending == Sending::kBodyCut) {
    ::HttpEndRequestW(request, nullptr, 0, 0);
    code = QueryStatusCode(request);
    if (code >= 200 && code <= 299) code = 0;
  } else if (sending == Sending::kComplete) {
    code = QueryStatusCode(request);
  }
  if (status) *status = code;
  if (code == 0) return kNoAnswer;
  return QueryRawHeaders(request);
}

// Sends the file's bytes from its start, a piece at a time. A file that cannot be read gives kFailed: the
// server waits for the rest of a body that will not come, so there is no answer to wait for.
Sending SendFileBody(HINTERNET request, const std::wstring& headers, HANDLE file, std::uint64_t size) {
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
      !BeginRequest(request, headers, static_cast<DWORD>(size))) {
    return Sending::kFailed;
  }
  std::vector<char> piece(kUploadPieceBytes);
  for (std::uint64_t left = size; left > 0;) {
    const DWORD wanted = static_cast<DWORD>(left < piece.size() ? left : piece.size());
    DWORD read = 0;
    if (!::ReadFile(file, piece.data(), wanted, &read, nullptr) || read != wanted) return Sending::kFailed;
    if (!WriteAll(request, piece.data(), read)) return Sending::kBodyCut;
    left -= read;
  }
  return EndRequest(request);
}

}  // namespace

std::wstring HttpClient::SendPostRequest(const std::wstring& server, const std::wstring& path,
                                         const std::wstring& headers, const std::string& body,
                                         std::uint16_t port, std::uint32_t* status) {
  // WinINet reads port 0 as "the scheme's default port": an unusable configured port would quietly reach
  // port 443 of the server instead of failing.
  if (port == 0) {
    if (status) *status = 0;
    return kNoAnswer;
  }
  OpenedRequest opened;
  if (!OpenPostRequest(server, path, port, opened)) return {};

  // The body ends at its first NUL. It is written apart from the headers, after the protocol check.
  const size_t bodyLength = std::strlen(body.c_str());
  const HINTERNET request = opened.request.get();
  Sending sending = Sending::kFailed;
  if (headers.size() <= MAXDWORD && bodyLength <= MAXDWORD &&
      BeginRequest(request, headers, static_cast<DWORD>(bodyLength))) {
    sending = WriteAll(request, body.c_str(), static_cast<DWORD>(bodyLength)) ? EndRequest(request)
                                                                              : Sending::kBodyCut;
  }
  return ReadAnswer(request, sending, status);
}

std::wstring HttpClient::SendFileRequest(const std::wstring& server, const std::wstring& path,
                                         const std::wstring& headers, HANDLE file, std::uint64_t size,
                                         std::uint16_t port, std::uint32_t* status) {
  if (port == 0 || size > kMaxUploadBytes || headers.size() > MAXDWORD) {
    if (status) *status = 0;
    return kNoAnswer;
  }
  OpenedRequest opened;
  if (!OpenPostRequest(server, path, port, opened)) return {};
  const Sending sending = SendFileBody(opened.request.get(), headers, file, size);
  return ReadAnswer(opened.request.get(), sending, status);
}

}  // namespace kx
