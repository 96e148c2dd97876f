#include "symbolize/symbolizer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace kx {
namespace {

// No answer is longer: a line of inlined frames with long C++ names stays far below it.
constexpr std::size_t kMostAnswerBytes = 1 << 20;

long long NowMs() {
  timespec now = {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

SymbolizerProcess::SymbolizerProcess(std::vector<std::string> command, int answerLimitMs)
    : command_(std::move(command)), answerLimitMs_(answerLimitMs) {}

SymbolizerProcess::~SymbolizerProcess() { Stop(); }

bool SymbolizerProcess::Start() {
  // A socket pair rather than pipes: a write to a child that has died fails with EPIPE (MSG_NOSIGNAL)
  // instead of raising SIGPIPE in the caller's process.
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
  ::posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
  ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> arguments;
  for (std::string& word : command_) arguments.push_back(word.data());
  arguments.push_back(nullptr);
  pid_t child = -1;
  const int spawned = ::posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pair[1]);
  if (spawned != 0) {
    ::close(pair[0]);
    return false;
  }
  child_ = child;
  socket_ = pair[0];
  pending_.clear();
  return true;
}

void SymbolizerProcess::Stop() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  if (child_ > 0) {
    ::kill(child_, SIGKILL);
    while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  child_ = -1;
}

std::optional<std::string> SymbolizerProcess::ReadLine() {
  const long long deadline = NowMs() + answerLimitMs_;
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const long long left = deadline - NowMs();
    if (left <= 0 || pending_.size() > kMostAnswerBytes) return std::nullopt;
    pollfd wait = {socket_, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[16384];
    const ssize_t got = ::recv(socket_, buffer, sizeof(buffer), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;  // the child has ended
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

std::optional<std::string> SymbolizerProcess::Ask(const std::string& question) {
  if (socket_ < 0 && !Start()) return std::nullopt;
  const std::string line = question + "\n";
  for (std::size_t sent = 0; sent < line.size();) {
    const ssize_t wrote = ::send(socket_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      Stop();
      return std::nullopt;
    }
    sent += static_cast<std::size_t>(wrote);
  }
  std::optional<std::string> answer = ReadLine();
  // A child that did not answer in time may answer later, out of step with the next question: end it.
  if (!answer) Stop();
  return answer;
}

}  // namespace kx
