// The four exchanges of the client (docs/server-exchanges.md, docs/log-transport.md) and the server's own
// pages, each a handler of one request. Uploads are answered 2xx only once stored durably; every body is
// read under a limit, and whatever is refused is read and dropped first (up to a bound), so that the answer
// reaches a client still sending.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "intake/metrics.h"
#include "rules/rate_limit.h"
#include "store/store.h"

namespace kx::server {

struct IntakeLimits {
  std::uint64_t exchangeBytes = 1 << 20;    // a solution exchange's report, a preference list
  std::uint64_t eventBytes = 256 << 10;
  std::uint64_t reportBytes = 8 << 20;      // an uploaded report
  std::uint64_t attachmentBytes = 8 << 20;  // the client cuts attachments at 4 MiB
  std::uint64_t otherBytes = 8 << 20;
  std::uint64_t dumpBytes = 512ull << 20;
  // A refused body up to this size is read to its end before the answer; a larger one is not, and the
  // connection closes under the client's writes (the log transport still reads such an early answer).
  std::uint64_t drainBytes = 64 << 20;
};

struct ExchangeSettings {
  IntakeLimits limits;
  RateLimits rates;
  std::string ingestKey;  // the x-api-key event posts must carry
};

// What the log line and the metrics say of the request this thread serves.
struct RequestNote {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::string exchange = "other";
  std::string detail;
  std::uint64_t bytes = 0;
  bool routed = false;  // the request reached the routes (a malformed one is answered before)
};
RequestNote& CurrentRequest();

class Exchanges {
 public:
  Exchanges(Store& store, Metrics& metrics, ExchangeSettings settings, std::function<void()> queued);

  void Solution(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& body);
  void Preferences(const httplib::Request& request, httplib::Response& response,
                   const httplib::ContentReader& body);
  void Events(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& body);
  void Upload(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& body);
  void MetricsPage(const httplib::Request& request, httplib::Response& response);
  void Health(const httplib::Request& request, httplib::Response& response);

 private:
  std::uint64_t UploadLimit(const std::string& kind) const;
  // 429 with Retry-After when `wait` is above 0.
  bool Limited(std::int64_t wait, const char* scope, httplib::Response& response);
  void Unavailable(const std::exception& error, httplib::Response& response);
  bool StoreUpload(const UploadIdentity& upload, const httplib::ContentReader& body, std::uint64_t limit,
                   httplib::Response& response);

  Store& store_;
  Metrics& metrics_;
  const ExchangeSettings settings_;
  RateLimiter limiter_;
  std::function<void()> queued_;
};

}  // namespace kx::server
