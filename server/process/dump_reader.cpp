#include "process/dump_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <nlohmann/json.hpp>

#include "store/file_io.h"

namespace kx::server {
namespace {

// The child, ended and waited for whatever happens to its parent's reading.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit status, once it ended.
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_;
};

DumpReading Refused(std::string why) { return {false, std::move(why), {}}; }

}  // namespace

DumpReading ReadDumpInChild(const std::vector<std::string>& command, const std::string& dumpPath, int seconds) {
  int pipeEnds[2];
  if (command.empty() || ::pipe2(pipeEnds, O_CLOEXEC) != 0) return Refused("cannot start the dump reader");
  UniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
  std::vector<char*> arguments;
  for (const std::string& word : command) arguments.push_back(const_cast<char*>(word.c_str()));
  arguments.push_back(const_cast<char*>(dumpPath.c_str()));
  arguments.push_back(nullptr);
  // posix_spawn rather than fork: the server's many threads and mappings are not copied for a moment.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return Refused("cannot start the dump reader " + command[0]);
  Child child(pid);
  writeEnd.Reset();

  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Refused("the dump reader took longer than " + std::to_string(seconds) + " s");
    pollfd ready{readEnd.get(), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    char piece[16384];
    const ssize_t got = ::read(readEnd.get(), piece, sizeof(piece));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output.size() < kMaxOutputBytes) output.append(piece, static_cast<std::size_t>(got));
  }
  const int status = child.Wait();
  if (!WIFEXITED(status)) return Refused("the dump reader ended with signal " + std::to_string(WTERMSIG(status)));
  if (WEXITSTATUS(status) != 0 || output.size() >= kMaxOutputBytes) {
    output.resize(std::min<std::size_t>(output.size(), 200));
    return Refused("the dump reader refused it (exit code " + std::to_string(WEXITSTATUS(status)) + "): " + output);
  }
  std::string signature = SignatureOfDumpJson(output);
  return {true, std::move(output), std::move(signature)};
}

std::string SignatureOfDumpJson(const std::string& json) {
  const nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
  if (!document.is_object()) return {};
  const auto signature = document.find("signature");
  if (signature == document.end() || !signature->is_object()) return {};
  const auto text = signature->find("text");
  return text != signature->end() && text->is_string() ? text->get<std::string>() : std::string();
}

}  // namespace kx::server
