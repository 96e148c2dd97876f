#include "transport/upload_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace kx {
namespace {

// Which statuses set a file aside for ever: a refusal does, a rate limit or a server's trouble does not.
TEST(UploadRulesTest, TheStatusDecidesTheFilesFate) {
  const std::tuple<std::uint32_t, UploadVerdict> statuses[] = {
      {200, UploadVerdict::kDelivered}, {204, UploadVerdict::kDelivered}, {400, UploadVerdict::kRejected},
      {404, UploadVerdict::kRejected},  {413, UploadVerdict::kRejected},  {0, UploadVerdict::kKept},
      {302, UploadVerdict::kKept},      {407, UploadVerdict::kKept},      {408, UploadVerdict::kKept},
      {425, UploadVerdict::kKept},      {429, UploadVerdict::kKept},      {500, UploadVerdict::kKept},
      {503, UploadVerdict::kKept},      {600, UploadVerdict::kKept},
  };
  for (const auto& [status, verdict] : statuses) EXPECT_EQ(verdict, JudgeUploadStatus(status)) << status;
}

TEST(UploadRulesTest, RetryAfterPausesForItsDelayOrUntilItsDateAtMostADay) {
  constexpr std::int64_t kNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  const std::pair<const char*, std::optional<std::int64_t>> values[] = {
      {"  3600 ", 3600},
      {"99999999999999999999999999", kMaxRetryAfterSeconds},
      {"Sun, 06 Nov 1994 08:59:37 GMT", 600},
      {"Sun Nov  6 08:59:37 1994", 600},
      {"Sun, 06 Nov 1994 08:49:37 GMT", std::nullopt},  // not after now
      {"1.5", std::nullopt},
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
  };
  for (const auto& [value, delay] : values) {
    const std::string block = "HTTP/1.1 503 Busy\r\nServer: x\r\nretry-AFTER:" + std::string(value) +
                              "\r\nRetry-After: 7\r\n\r\n";
    const std::optional<std::int64_t> until = RetryAfterFromHeaders(block, kNow);
    EXPECT_EQ(delay, until ? std::optional<std::int64_t>(*until - kNow) : std::nullopt) << value;
  }
  EXPECT_EQ(std::nullopt, RetryAfterFromHeaders("HTTP/1.1 503 Retry-After: 60\r\n\r\n", kNow));
  // A remembered pause beyond the bound came from a clock set back since: it is not honoured.
  EXPECT_TRUE(IsPauseInForce(kNow + kMaxRetryAfterSeconds, kNow));
  EXPECT_FALSE(IsPauseInForce(kNow + kMaxRetryAfterSeconds + 1, kNow));
  EXPECT_FALSE(IsPauseInForce(kNow, kNow));
  // Two copies told different delays: the later pause holds, unless the stored one is not in force.
  const std::tuple<std::int64_t, std::int64_t, std::int64_t> pauses[] = {
      {kNow + 3600, kNow + 10, kNow + 3600}, {kNow + 10, kNow + 3600, kNow + 3600}, {kNow - 1, kNow + 10, kNow + 10},
      {kNow + kMaxRetryAfterSeconds + 1, kNow + 10, kNow + 10}};
  for (const auto& [stored, asked, kept] : pauses) EXPECT_EQ(kept, LaterPause(stored, asked, kNow)) << stored;
}

TEST(UploadRulesTest, TheQueueKeepsTheNewestFilesWithinItsBounds) {
  constexpr std::int64_t kNow = 1700000000, kDay = 86400;
  constexpr std::uint64_t kGiB = 1ull << 30;
  const std::pair<QueuedFile, QueueFate> files[] = {
      {{10, kNow - 2 * kDay}, QueueFate::kBeyondFolderBound},  // older than files that fill the bound
      {{3 * kGiB, kNow - 1}, QueueFate::kUpload},
      {{10, kNow - 31 * kDay}, QueueFate::kBeyondFolderBound},  // old, and beyond the bound besides
      {{2 * kGiB, kNow - kDay}, QueueFate::kBeyondFolderBound},
      {{kMaxUploadFileBytes + 1, kNow}, QueueFate::kTooLarge},
      {{kGiB, kNow}, QueueFate::kUpload},  // with the 3 GiB just at the bound
      {{0, kNow + kDay}, QueueFate::kUpload},
  };
  std::vector<QueuedFile> queue;
  std::vector<QueueFate> expected;
  for (const auto& [file, fate] : files) queue.push_back(file), expected.push_back(fate);
  EXPECT_EQ(expected, PlanQueue(queue, kNow));
  // Past the age bound within the size bound: tried once more (a clock far ahead makes every file old).
  EXPECT_EQ((std::vector<QueueFate>{QueueFate::kLastAttempt, QueueFate::kUpload}),
            PlanQueue({{10, kNow - 31 * kDay}, {10, kNow - 30 * kDay}}, kNow));
}

}  // namespace
}  // namespace kx
