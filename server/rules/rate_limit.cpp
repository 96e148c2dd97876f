#include "rules/rate_limit.h"

#include <algorithm>
#include <cmath>

namespace kx::server {

std::int64_t TokenBucket::Take(std::int64_t nowMs, double rate, double burst) {
  if (tokens_ < 0) tokens_ = burst;
  tokens_ = std::min(burst, tokens_ + std::max<std::int64_t>(0, nowMs - lastMs_) * rate / 1000.0);
  lastMs_ = nowMs;
  if (tokens_ >= 1) {
    tokens_ -= 1;
    return 0;
  }
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil((1 - tokens_) / rate)));
}

bool TokenBucket::Full(std::int64_t nowMs, double rate, double burst) const {
  return tokens_ < 0 || tokens_ + (nowMs - lastMs_) * rate / 1000.0 >= burst;
}

std::int64_t RateLimiter::AdmitOverall(std::int64_t nowMs) {
  if (limits_.overall <= 0) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  // A second's worth of requests may come at once.
  return overall_.Take(nowMs, limits_.overall, std::max(1.0, limits_.overall));
}

std::int64_t RateLimiter::Admit(std::string_view installation, std::int64_t nowMs) {
  if (limits_.perInstallation > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (installations_.size() >= kMaxTracked) Forget(nowMs);
    // A minute's worth of requests may come at once: one crash is a report, a dump and attachments.
    const double rate = limits_.perInstallation / 60.0;
    const double burst = std::max(1.0, limits_.perInstallation);
    const std::int64_t wait = installations_[std::string(installation)].Take(nowMs, rate, burst);
    if (wait > 0) return wait;
  }
  return AdmitOverall(nowMs);
}

// Full buckets say nothing a fresh one would not: they go first. If every bucket is in use, the map is
// emptied rather than grown: a storm of new installations must not take the memory.
void RateLimiter::Forget(std::int64_t nowMs) {
  const double rate = limits_.perInstallation / 60.0;
  const double burst = std::max(1.0, limits_.perInstallation);
  for (auto it = installations_.begin(); it != installations_.end();) {
    it = it->second.Full(nowMs, rate, burst) ? installations_.erase(it) : std::next(it);
  }
  if (installations_.size() >= kMaxTracked) installations_.clear();
}

}  // namespace kx::server
