// Rate limits that a crash storm cannot break: token buckets per installation and one for the whole
// instance. A request that finds its bucket empty is answered 429 with Retry-After, which the log transport
// and the event poster honour; its tokens are not spent. Buckets live in this process: each instance behind
// a load balancer limits what reaches it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kx::server {

struct RateLimits {
  double perInstallation = 0;  // requests per minute and installation; 0: no limit
  double overall = 0;          // requests per second for the instance; 0: no limit
};

class TokenBucket {
 public:
  // Takes a token for a bucket of `rate` tokens a second holding at most `burst`: 0 when one was there,
  // otherwise the whole seconds until one will be (at least 1), and nothing is taken.
  std::int64_t Take(std::int64_t nowMs, double rate, double burst);
  bool Full(std::int64_t nowMs, double rate, double burst) const;

 private:
  double tokens_ = -1;  // below 0: not used yet, full
  std::int64_t lastMs_ = 0;
};

class RateLimiter {
 public:
  explicit RateLimiter(RateLimits limits) : limits_(limits) {}

  // 0 when the request may go on, else the seconds to send in Retry-After. The overall bucket is asked
  // first; an installation over its own limit leaves the overall tokens to the others.
  std::int64_t Admit(std::string_view installation, std::int64_t nowMs);
  std::int64_t AdmitOverall(std::int64_t nowMs);

 private:
  static constexpr std::size_t kMaxTracked = 100000;  // installations remembered at once
  void Forget(std::int64_t nowMs);

  RateLimits limits_;
  std::mutex mutex_;
  TokenBucket overall_;
  std::unordered_map<std::string, TokenBucket> installations_;
};

}  // namespace kx::server
