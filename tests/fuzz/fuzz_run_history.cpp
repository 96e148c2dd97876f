// The run history file, which any of the user's programs may write: a file that reads writes back in the
// canonical form, which reads as the same history, within the bounds; the rules keep them too.
#include "fuzz_support.h"
#include "frontend/run_history.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(kx::fuzz::Bytes(data, size));
  std::optional<kx::RunHistory> history = kx::ParseRunHistory(bytes);
  if (!history) return 0;
  KX_FUZZ_CHECK(history->runs.size() <= kx::kMaxHistoryRuns);
  KX_FUZZ_CHECK(history->signatures.size() <= kx::kMaxHistorySignatures);
  const std::string canonical = kx::FormatRunHistory(*history);
  const std::optional<kx::RunHistory> again = kx::ParseRunHistory(canonical);
  // Percent escapes may make the canonical form longer than the limit.
  if (canonical.size() > kx::kMaxRunHistoryBytes) return 0;
  KX_FUZZ_CHECK(again.has_value() && kx::FormatRunHistory(*again) == canonical);
  // The rules on any history stay within the bounds.
  const std::string signature = bytes.substr(0, 300);
  kx::RecordReport(*history, signature, 1 << 30, true, kx::GuardLimits());
  kx::RecordSent(*history, signature, 1 << 30, 1);
  kx::StartRun(*history, 1 << 30, 7);
  KX_FUZZ_CHECK(history->runs.size() <= kx::kMaxHistoryRuns);
  KX_FUZZ_CHECK(history->signatures.size() <= kx::kMaxHistorySignatures);
  KX_FUZZ_CHECK(kx::FiguresOf(*history).crashed <= kx::kMaxHistoryRuns);
  return 0;
}
