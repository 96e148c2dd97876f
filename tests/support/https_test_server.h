// A local HTTPS (or plain HTTP) server for tests of the product's web requests: it answers each request
// target as the test says, and records every request exactly as it arrived. It is tools/https-test-server
// (Debian's python3 on 127.0.0.1, a free port), driven through files in a control folder (the script's
// header describes them), since Wine gives no handle to Linux programs. It ends by itself after ten minutes,
// and the test_pki fixture's cleanup ends any left over. A test program using it needs that fixture
// (kx_add_test ... HTTPS), which makes the certificates and trusts their CA in the prefix.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::test {

enum class TestCertificate {
  kLocalhost,  // "localhost" and 127.0.0.1, valid now
  kOtherHost,  // valid now, but for another host name only (other.invalid)
  kExpired,    // "localhost" and 127.0.0.1, but its validity ended 30 days ago
  kPlainHttp,  // no TLS at all: a plain HTTP server (for example a redirect's target)
};

struct TestAnswer {
  enum class Kind {
    kAnswer,  // a response: status line, headerLines, Content-Length, "Connection: close", body
    kEarly,   // a kAnswer sent on the request's header block alone; the body is left unread (not recorded)
    kCut,     // the status line and headerLines, the last one without its line end, then close
    kClose,   // read the request, then close the connection without a word
    kSilent,  // read the request, then keep the connection open, unanswered, until the server ends
  };
  Kind kind = Kind::kAnswer;
  int status = 200;
  // "Name: value" each, sent in this order after the status line; none may be empty or hold CR or LF.
  std::vector<std::string> headerLines;
  std::string body;
};

struct RecordedRequest {
  std::string method;
  std::string path;                      // the request target as sent, query included
  std::vector<std::string> headerLines;  // as received, in order, without their CRLF
  std::string body;                      // exactly the Content-Length bytes; empty without that header
  unsigned long long received = 0;       // when the server had it whole: its record's write time (FILETIME)
};

// The value of the first header line with this name (any letter case), without the blanks around it.
std::optional<std::string> FindHeader(const RecordedRequest& request, const std::string& name);

class HttpsTestServer {
 public:
  // Starts the server and waits (a bounded time) until it listens. Check failure() before use.
  explicit HttpsTestServer(TestCertificate certificate = TestCertificate::kLocalhost);
  // Tells the server to stop, waits a few seconds for it to go, and removes the control folder.
  ~HttpsTestServer();
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  // Empty when the server listens; otherwise why it does not.
  const std::string& failure() const { return failure_; }
  std::uint16_t port() const { return port_; }

  // Sets (or replaces) the answer to requests for this target, as sent or else without its query, from the
  // next request on; a target without one gets 404 and an empty body.
  void SetAnswer(const std::string& path, const TestAnswer& answer);

  // Every request so far, in arrival order. A request is recorded before it is answered, so one that the
  // client has seen answered (or closed, or left hanging) is always here.
  std::vector<RecordedRequest> Requests() const;

 private:
  std::string Start(TestCertificate certificate);

  std::wstring control_;  // the control folder; empty until it is made
  std::string failure_;
  std::uint16_t port_ = 0;
};

}  // namespace kx::test
