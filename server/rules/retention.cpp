#include "rules/retention.h"

#include <algorithm>

namespace kx::server {

RetentionPlan PlanRetention(const std::vector<StoredFile>& candidates, std::uint64_t totalBytes,
                            const RetentionLimits& limits) {
  std::vector<std::int64_t> removed;
  std::vector<bool> taken(candidates.size(), false);
  auto take = [&](std::size_t at) {
    taken[at] = true;
    removed.push_back(candidates[at].id);
    totalBytes -= std::min(totalBytes, candidates[at].size);
  };
  const bool overSize = limits.maxBytes > 0;
  for (std::size_t at = 0; at < candidates.size(); ++at) {
    if (candidates[at].received < limits.cutoff) take(at);
  }
  // Dumps are the bulk of what is stored and the least of what each crash says.
  for (const bool dumps : {true, false}) {
    for (std::size_t at = 0; at < candidates.size() && overSize && totalBytes > limits.maxBytes; ++at) {
      if (!taken[at] && candidates[at].dump == dumps) take(at);
    }
  }
  return {removed, totalBytes};
}

}  // namespace kx::server
