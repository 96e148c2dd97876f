// Bounded waits that say what they wait for: a wait that gives up, and the watchdog of a test that hangs
// (test_main.cpp), name the condition instead of leaving a bare time-out.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace kx::test {

// The longest pause between two looks at a condition.
constexpr std::chrono::milliseconds kPollPause{200};

// Notes what the test waits for while it lives; the watchdog prints it.
class WaitNote {
 public:
  explicit WaitNote(const std::string& what);
  ~WaitNote();
  WaitNote(const WaitNote&) = delete;
  WaitNote& operator=(const WaitNote&) = delete;

 private:
  std::string previous_;
};

// What the running test waits for now; empty when it noted nothing.
std::string CurrentWait();

// Looks at `done` until it holds (true) or `limit` has passed on the clock (false), more slowly as the wait
// goes on. Limits are wall time, never a count of looks: a busy machine makes each look slower.
bool WaitUntil(const std::string& what, std::chrono::milliseconds limit, const std::function<bool()>& done);

}  // namespace kx::test
