// Retention by age and by total size. Each crash group keeps its first and latest dumps whatever their age
// or size (the caller leaves them out of the candidates); everything else goes when it is older than the
// age limit, and dumps, oldest first, then other files, while the store holds more than its size limit.
#pragma once

#include <cstdint>
#include <vector>

namespace kx::server {

struct StoredFile {
  std::int64_t id = 0;
  std::int64_t received = 0;  // seconds since 1970
  std::uint64_t size = 0;
  bool dump = false;
};

struct RetentionLimits {
  std::int64_t cutoff = 0;      // files received before this go; 0: no age limit
  std::uint64_t maxBytes = 0;   // 0: no size limit
};

struct RetentionPlan {
  std::vector<std::int64_t> removed;
  std::uint64_t bytesLeft = 0;  // what the store holds once they are gone
};

// What to remove of `candidates` (oldest first) when the store holds `totalBytes`.
RetentionPlan PlanRetention(const std::vector<StoredFile>& candidates, std::uint64_t totalBytes,
                            const RetentionLimits& limits);

}  // namespace kx::server
