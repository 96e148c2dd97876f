#include "intake/metrics.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace kx::server {
namespace {

std::uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.6g", value);
  return text;
}

}  // namespace

void Metrics::CountRequest(const std::string& exchange, int status, double seconds, std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[{exchange, status}];
  Timing& timing = timings_[exchange];
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) ++timing.buckets[i];
  }
  ++timing.count;
  timing.sum += seconds;
  timing.bytes += bytes;
}

void Metrics::CountUpload(const std::string& kind, bool stored) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++uploads_[{kind, stored}];
}

void Metrics::CountRefusal(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++refusals_[reason];
}

std::string Metrics::Text(std::int64_t queued) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text = "# HELP kxserver_requests_total Requests answered, by exchange and status.\n"
                     "# TYPE kxserver_requests_total counter\n";
  for (const auto& [key, count] : requests_) {
    text += "kxserver_requests_total{exchange=\"" + key.first + "\",status=\"" + std::to_string(key.second) +
            "\"} " + std::to_string(count) + "\n";
  }
  text += "# HELP kxserver_request_seconds Time from the request's header block to its answer.\n"
          "# TYPE kxserver_request_seconds histogram\n";
  for (const auto& [exchange, timing] : timings_) {
    const std::string label = "exchange=\"" + exchange + "\"";
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
      text += "kxserver_request_seconds_bucket{" + label + ",le=\"" + Number(kBuckets[i]) + "\"} " +
              std::to_string(timing.buckets[i]) + "\n";
    }
    text += "kxserver_request_seconds_bucket{" + label + ",le=\"+Inf\"} " + std::to_string(timing.count) + "\n";
    text += "kxserver_request_seconds_sum{" + label + "} " + Number(timing.sum) + "\n";
    text += "kxserver_request_seconds_count{" + label + "} " + std::to_string(timing.count) + "\n";
  }
  text += "# HELP kxserver_received_bytes_total Request body bytes received, by exchange.\n"
          "# TYPE kxserver_received_bytes_total counter\n";
  for (const auto& [exchange, timing] : timings_) {
    text += "kxserver_received_bytes_total{exchange=\"" + exchange + "\"} " + std::to_string(timing.bytes) + "\n";
  }
  text += "# HELP kxserver_uploads_total Uploads by kind: stored, or a repeat of a stored file.\n"
          "# TYPE kxserver_uploads_total counter\n";
  for (const auto& [key, count] : uploads_) {
    text += "kxserver_uploads_total{kind=\"" + key.first + "\",outcome=\"" +
            (key.second ? "stored" : "duplicate") + "\"} " + std::to_string(count) + "\n";
  }
  text += "# HELP kxserver_refusals_total Requests refused, by reason.\n# TYPE kxserver_refusals_total counter\n";
  for (const auto& [reason, count] : refusals_) {
    text += "kxserver_refusals_total{reason=\"" + reason + "\"} " + std::to_string(count) + "\n";
  }
  text += "# HELP kxserver_in_flight_requests Requests being read or answered.\n"
          "# TYPE kxserver_in_flight_requests gauge\nkxserver_in_flight_requests " +
          std::to_string(inFlight_.load()) + "\n";
  text += "# HELP kxserver_queued_jobs Uploads waiting for processing (the whole store's queue).\n"
          "# TYPE kxserver_queued_jobs gauge\nkxserver_queued_jobs " + std::to_string(queued) + "\n";
  text += "# HELP kxserver_resident_bytes Resident memory of this process.\n"
          "# TYPE kxserver_resident_bytes gauge\nkxserver_resident_bytes " + std::to_string(ResidentBytes()) + "\n";
  return text;
}

}  // namespace kx::server
