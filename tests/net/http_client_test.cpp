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

TestAnswer Answer(int status, std::vector<std::string> headerLines, std::string body = "") {
  TestAnswer answer;
  answer.status = status;
  answer.headerLines = std::move(headerLines);
  answer.body = std::move(body);
  return answer;
}

class HttpClientTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ("", server_.failure()); }

  std::wstring Post(const std::wstring& path, const std::string& body, std::uint32_t* status = nullptr,
                    const std::wstring& server = L"localhost") {
    return HttpClient().sendPostRequest(server, path, kFormHeader, body, server_.port(), status);
  }

  HttpsTestServer server_;
};

TEST_F(HttpClientTest, TheRequestArrivesAsGivenAndTheRawHeaderBlockComesBack) {
  server_.SetAnswer(
      "/solution-url/win/intel",
      Answer(200, {"Solution_url: https://help.example/1", "Attach_Dump: yes"}, "body is not read"));
  // The body ends at its first NUL; any other byte goes as it is.
  const std::string body = std::string("<?xml?>\n<a b=\"\xe9&amp;\"/>\n\0tail", 28);
  std::uint32_t status = 7;
  // A server value with a scheme, a port and a path reaches the host; the port argument decides.
  const std::wstring answer =
      Post(L"/solution-url/win/intel", body, &status, L"HTTPS://localhost:1/elsewhere");

  EXPECT_EQ(200u, status);
  EXPECT_EQ(0u, answer.find(L"HTTP/1.1 200 OK\r\n")) << answer;
  EXPECT_NE(std::wstring::npos,
            answer.find(L"\r\nSolution_url: https://help.example/1\r\nAttach_Dump: yes\r\n"));
  EXPECT_EQ(answer.size() - 4, answer.rfind(L"\r\n\r\n"));
  EXPECT_EQ(std::wstring::npos, answer.find(L"body is not read"));

  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("/solution-url/win/intel", requests[0].path);
  EXPECT_EQ("application/x-www-form-urlencoded", test::FindHeader(requests[0], "Content-Type").value_or(""));
  EXPECT_EQ("KXWindowsClient", test::FindHeader(requests[0], "User-Agent").value_or(""));
  EXPECT_EQ(body.substr(0, body.find('\0')), requests[0].body);
  EXPECT_EQ(std::nullopt, test::FindHeader(requests[0], "Authorization"));
}

TEST_F(HttpClientTest, AHeaderBlockBeyondAnyFixedBufferIsReadWhole) {
  std::vector<std::string> lines;
  for (int i = 0; i < 700; ++i)
    lines.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f'));
  lines.push_back("Solution_url: https://help.example/last");
  server_.SetAnswer("/big", Answer(200, lines));
  const std::wstring answer = Post(L"/big", "x");
  EXPECT_GT(answer.size(), 70000u);
  EXPECT_NE(std::wstring::npos, answer.find(L"\r\nSolution_url: https://help.example/last\r\n"));
}

TEST_F(HttpClientTest, NoAnswerGivesMinusOneAndStatusZero) {
  // A server that closes at once, and one that never answers (given up after the receive time-out).
  for (const TestAnswer::Kind kind : {TestAnswer::Kind::kClose, TestAnswer::Kind::kSilent}) {
    TestAnswer answer;
    answer.kind = kind;
    server_.SetAnswer("/unanswered", answer);
    std::uint32_t status = 7;
    EXPECT_EQ(L"-1", Post(L"/unanswered", "x", &status));
    EXPECT_EQ(0u, status);
  }

  EXPECT_EQ(2u, server_.Requests().size());
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
  EXPECT_EQ(L"-1", HttpClient().sendPostRequest(server, L"/x", kFormHeader, "x", 0, &status));
  EXPECT_EQ(0u, status);
  done = true;
  watcher.join();
  EXPECT_FALSE(reached) << "a connection reached a default port";
  for (u_int i = 0; i < listeners.fd_count; ++i) ::closesocket(listeners.fd_array[i]);
  ::WSACleanup();
}

TEST(HttpClientTrustTest, CertificatesThatFailThePlatformChecksAreRefused) {
  for (const TestCertificate certificate : {TestCertificate::kOtherHost, TestCertificate::kExpired}) {
    SCOPED_TRACE(certificate == TestCertificate::kOtherHost ? "another host's certificate" : "expired");
    HttpsTestServer server(certificate);
    ASSERT_EQ("", server.failure());
    server.SetAnswer("/x", Answer(200, {"Solution_url: https://evil.example/"}));
    std::uint32_t status = 7;
    EXPECT_EQ(L"-1",
              HttpClient().sendPostRequest(L"localhost", L"/x", kFormHeader, "x", server.port(), &status));
    EXPECT_EQ(0u, status);
    EXPECT_TRUE(server.Requests().empty());
  }
}

TEST(HttpClientTrustTest, ARedirectIsNotFollowedLeastOfAllToPlainHttp) {
  HttpsTestServer plain(TestCertificate::kPlainHttp);
  HttpsTestServer server;
  ASSERT_EQ("", plain.failure());
  ASSERT_EQ("", server.failure());
  plain.SetAnswer("/downgraded", Answer(200, {"Solution_url: http://evil.example/"}));
  server.SetAnswer(
      "/x", Answer(302, {"Location: http://127.0.0.1:" + std::to_string(plain.port()) + "/downgraded"}));
  std::uint32_t status = 0;
  const std::wstring answer =
      HttpClient().sendPostRequest(L"localhost", L"/x", kFormHeader, "x", server.port(), &status);
  EXPECT_EQ(302u, status);
  EXPECT_EQ(0u, answer.find(L"HTTP/1.1 302 Found\r\n")) << answer;
  EXPECT_TRUE(plain.Requests().empty());
}

// Which reports of the connection's protocol let the body go; under Wine only the handle-type row occurs.
TEST(TlsFloorTest, OnlyTls12OrLaterLetsTheBodyGoUnlessThePlatformCannotTell) {
  const std::tuple<const char*, ConnectionProtocolReport, bool> cases[] = {
      {"TLS 1.2", {true, 0, true, SP_PROT_TLS1_2_CLIENT}, true},
      {"TLS 1.3", {true, 0, true, SP_PROT_TLS1_3_CLIENT}, true},
      {"TLS 1.2, named by its server bit", {true, 0, true, SP_PROT_TLS1_2_SERVER}, true},
      {"TLS 1.1", {true, 0, true, SP_PROT_TLS1_1_CLIENT}, false},
      {"TLS 1.0", {true, 0, true, SP_PROT_TLS1_0_CLIENT}, false},
      {"TLS 1.2 and 1.0 at once", {true, 0, true, SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_0_CLIENT}, false},
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
