#include "support/waiting.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace kx::test {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex noteLock;
std::string note;  // what the running test waits for now

}  // namespace

WaitNote::WaitNote(const std::string& what) {
  const std::lock_guard<std::mutex> hold(noteLock);
  previous_ = note;
  note = what;
}

WaitNote::~WaitNote() {
  const std::lock_guard<std::mutex> hold(noteLock);
  note = previous_;
}

std::string CurrentWait() {
  const std::lock_guard<std::mutex> hold(noteLock);
  return note;
}

bool WaitUntil(const std::string& what, std::chrono::milliseconds limit, const std::function<bool()>& done) {
  const WaitNote noted(what);
  const Clock::time_point deadline = Clock::now() + limit;
  for (auto pause = std::chrono::milliseconds(10); !done(); pause = std::min(pause * 2, kPollPause)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
  }
  return true;
}

}  // namespace kx::test
