// Test entry point with a hang watchdog: under Wine a hung test must fail its program, not stall the run.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

constexpr std::chrono::seconds kHangLimit{240};

void ReportHangAndExit() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::fprintf(stderr, "watchdog: %s.%s still running after %lld s; ending the test program\n",
               test ? test->test_suite_name() : "?", test ? test->name() : "?",
               static_cast<long long>(kHangLimit.count()));
  std::fflush(stderr);
  std::_Exit(124);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);

  std::mutex mutex;
  std::condition_variable finishedSignal;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!finishedSignal.wait_for(lock, kHangLimit, [&] { return finished; })) ReportHangAndExit();
  });

  const int result = RUN_ALL_TESTS();
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  finishedSignal.notify_one();
  watchdog.join();
  return result;
}
