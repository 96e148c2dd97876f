// The HTTPS client against local test servers: the request as it arrives, the answer as it comes back, and
// the certificates and redirects it must refuse.
#include "net/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <wincrypt.h>
#include <schannel.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "net/tls_floor.h"
#include "support/https_test_server.h"

namespace kx {
namespace {

using test::HttpsTestServer;
using test::RecordedRequest;
using test::TestAnswer;
using test::TestCertificate;

constexpr wchar_t kFormHeader[] = L"Content-Type: application/x-www-form-urlencoded";

// The header block is larger than any fixed buffer would be.
TEST(HttpClientTest, TheRequestArrivesAsGivenAndTheRawHeaderBlockComesBackWhole) {
  HttpsTestServer server;
  ASSERT_EQ("", server.failure());
  std::vector<std::string> lines;
  for (int i = 0; i < 700; ++i)
    lines.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f'));
  lines.insert(lines.end(), {"Solution_url: https://help.example/1", "Attach_Dump: yes"});
  server.SetAnswer("/solution-url/win/intel", {TestAnswer::Kind::kAnswer, 200, lines, "body is not read"});
  // The body ends at its first NUL; any other byte goes as it is.
  const std::string body = std::string("<?xml?>\n<a b=\"\xe9&amp;\"/>\n\0tail", 28);
  std::uint32_t status = 7;
  // A server value with a scheme, a port and a path reaches the host; the port argument decides.
  const std::wstring answer =
      HttpClient().SendPostRequest(L"HTTPS://localhost:1/elsewhere", L"/solution-url/win/intel", kFormHeader,
                                   body, server.port(), &status);

  EXPECT_EQ(200u, status);
  EXPECT_EQ(0u, answer.find(L"HTTP/1.1 200 OK\r\n")) << answer.substr(0, 100);
  EXPECT_NE(std::wstring::npos,
            answer.find(L"\r\nSolution_url: https://help.example/1\r\nAttach_Dump: yes\r\n"));

  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST /solution-url/win/intel application/x-www-form-urlencoded KXWindowsClient " +
                body.substr(0, body.find('\0')),
            requests[0].method + " " + requests[0].path + " " +
                test::FindHeader(requests[0], "Content-Type").value_or("") + " " +
                test::FindHeader(requests[0], "User-Agent").value_or("") + " " + requests[0].body);
}

// A server that closes at once or never answers (given up after the receive time-out), and certificates
// that fail the platform's checks (which no request passes): "-1" and status 0. A redirect is not followed,
// least of all to plain HTTP: its own answer comes back.
TEST(HttpClientTrustTest, NoAnswerRefusedCertificatesAndRedirectsGoNoFurther) {
  HttpsTestServer plain(TestCertificate::kPlainHttp);
  ASSERT_EQ("", plain.failure());
  const std::string location = "Location: http://127.0.0.1:" + std::to_string(plain.port()) + "/downgraded";
  using Cert = TestCertificate;
  using Kind = TestAnswer::Kind;
  // The certificate, the answer's kind, status and header line; the requests that arrive; what comes back.
  const std::tuple<const char*, Cert, Kind, int, std::string, size_t, std::uint32_t, std::wstring> cases[] = {
      {"closed at once", Cert::kLocalhost, Kind::kClose, 200, "X: y", 1, 0, L"-1"},
      {"never answered", Cert::kLocalhost, Kind::kSilent, 200, "X: y", 1, 0, L"-1"},
      {"another host's certificate", Cert::kOtherHost, Kind::kAnswer, 200, "X: y", 0, 0, L"-1"},
      {"expired certificate", Cert::kExpired, Kind::kAnswer, 200, "X: y", 0, 0, L"-1"},
      {"redirect", Cert::kLocalhost, Kind::kAnswer, 302, location, 1, 302, L"HTTP/1.1 302 Found\r\n"},
  };
  for (const auto& [what, certificate, kind, answerStatus, header, requests, status, answer] : cases) {
    SCOPED_TRACE(what);
    HttpsTestServer server(certificate);
    ASSERT_EQ("", server.failure());
    server.SetAnswer("/x", {kind, answerStatus, {header}, ""});
    std::uint32_t got = 7;
    const std::wstring text =
        HttpClient().SendPostRequest(L"localhost", L"/x", kFormHeader, "x", server.port(), &got);
    EXPECT_EQ(answer, text.substr(0, answer.size()));
    EXPECT_EQ(status, got);
    EXPECT_EQ(requests, server.Requests().size());
  }
  EXPECT_TRUE(plain.Requests().empty());
}

// Port 0 means a default port to the platform: listeners on ports 80 and 443 of a loopback address of this
// test's own must see no connection at all.
TEST(HttpClientPortTest, PortZeroConnectsNowhere) {
  WSADATA wsa;
  ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &wsa));
  const DWORD pid = ::GetCurrentProcessId();
  const std::string address =
      "127.2." + std::to_string(pid % 250 + 1) + "." + std::to_string(pid / 250 % 250 + 1);
  fd_set listeners;
  FD_ZERO(&listeners);
  for (const u_short port : {80, 443}) {
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = ::htons(port);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof(local))) << ::WSAGetLastError();
    ASSERT_EQ(0, ::listen(listener, 4));
    FD_SET(listener, &listeners);
  }

  // A connection is taken and closed at once, so that a request that went out fails fast.
  std::atomic<bool> done{false}, reached{false};
  std::thread watcher([&] {
    while (!done) {
      fd_set ready = listeners;
      timeval tick = {0, 50000};
      if (::select(0, &ready, nullptr, nullptr, &tick) <= 0) continue;
      reached = true;
      for (u_int i = 0; i < ready.fd_count; ++i) ::closesocket(::accept(ready.fd_array[i], nullptr, nullptr));
    }
  });
  std::uint32_t status = 7;
  const std::wstring server(address.begin(), address.end());
  EXPECT_EQ(L"-1", HttpClient().SendPostRequest(server, L"/x", kFormHeader, "x", 0, &status));
  EXPECT_EQ(0u, status);
  done = true;
  watcher.join();
  EXPECT_FALSE(reached) << "a connection reached a default port";
  for (u_int i = 0; i < listeners.fd_count; ++i) ::closesocket(listeners.fd_array[i]);
  ::WSACleanup();
}

// Which reports of the connection's protocol let the body go; under Wine only the handle-type row occurs.
TEST(TlsFloorTest, OnlyTls12OrLaterLetsTheBodyGoUnlessThePlatformCannotTell) {
  const std::tuple<const char*, ConnectionProtocolReport, bool> cases[] = {
      {"TLS 1.2", {true, 0, true, SP_PROT_TLS1_2_CLIENT}, true},
      {"TLS 1.3", {true, 0, true, SP_PROT_TLS1_3_CLIENT}, true},
      {"TLS 1.1", {true, 0, true, SP_PROT_TLS1_1_CLIENT}, false},
      {"TLS 1.0", {true, 0, true, SP_PROT_TLS1_0_CLIENT}, false},
      {"TLS 1.2 on a connection not secure", {true, 0, false, SP_PROT_TLS1_2_CLIENT}, false},
      {"the query is unknown to the platform", {false, ERROR_INTERNET_INVALID_OPTION}, true},
      {"the handle type has no such query", {false, ERROR_INTERNET_INCORRECT_HANDLE_TYPE}, true},
      {"the query failed otherwise", {false, ERROR_INSUFFICIENT_BUFFER}, false},
  };
  for (const auto& [name, report, goesOn] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(goesOn, MeetsTlsFloor(report));
  }
}

}  // namespace
}  // namespace kx
