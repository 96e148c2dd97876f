// Test entry point with a hang watchdog per test: under Wine a hung test must fail its program, and say which
// test hung and what it was waiting for, not stall the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/waiting.h"

namespace kx::test {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<Clock::rep> testStarted{0};

// A test may run this long. Generous, because a busy machine makes Wine several times slower and a hang is
// rare; tools/mutants shortens it (KX_TEST_LIMIT_SECONDS) where a mutation hangs a program on purpose.
std::chrono::seconds TestLimit() {
  const char* text = std::getenv("KX_TEST_LIMIT_SECONDS");
  const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 600);
}

class Stopwatch : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { testStarted = Clock::now().time_since_epoch().count(); }
};

[[noreturn]] void Watch(std::chrono::seconds limit) {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Clock::time_point started{Clock::duration(testStarted.load())};
    if (Clock::now() - started < limit) continue;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string waiting = CurrentWait().empty() ? "nothing the test noted" : CurrentWait();
    std::fprintf(stderr, "watchdog: %s.%s still running after %lld s, waiting for %s; ending the test program\n",
                 test ? test->test_suite_name() : "?", test ? test->name() : "?",
                 static_cast<long long>(limit.count()), waiting.c_str());
    std::fflush(stderr);
    std::_Exit(124);
  }
}

}  // namespace

}  // namespace kx::test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new kx::test::Stopwatch);
  kx::test::testStarted = kx::test::Clock::now().time_since_epoch().count();
  std::thread(kx::test::Watch, kx::test::TestLimit()).detach();
  const int result = RUN_ALL_TESTS();
  // Under Wine a crash on a thread other than the main one can end the program with exit code 0, so ctest
  // passes a program only when it prints this line (tests/CMakeLists.txt).
  if (result == 0) std::printf("kx_test_main: every test passed\n");
  std::fflush(stdout);
  return result;
}
