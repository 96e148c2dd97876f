// Counters of this instance in Prometheus' text format (/metrics): requests by exchange and status, their
// time to the answer, bytes received, uploads stored and repeated, rate-limit refusals. Debian ships no C++
// Prometheus client; the format is a few lines of text.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kx::server {

class Metrics {
 public:
  void CountRequest(const std::string& exchange, int status, double seconds, std::uint64_t bytes);
  void CountUpload(const std::string& kind, bool stored);
  void CountRefusal(const std::string& reason);
  void AddInFlight(int change) { inFlight_ += change; }

  // The exposition text; `queued` is the processing queue's length, read by the caller from the store.
  std::string Text(std::int64_t queued) const;

 private:
  static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                       0.1,   0.25,   0.5,   1,    2.5,   10};
  struct Timing {
    std::array<std::uint64_t, kBuckets.size()> buckets{};
    std::uint64_t count = 0;
    double sum = 0;
    std::uint64_t bytes = 0;
  };

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, std::uint64_t> requests_;
  std::map<std::string, Timing> timings_;
  std::map<std::pair<std::string, bool>, std::uint64_t> uploads_;
  std::map<std::string, std::uint64_t> refusals_;
  std::atomic<int> inFlight_{0};
};

}  // namespace kx::server
