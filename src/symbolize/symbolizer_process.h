// kxsymbolizer as a long-lived child process: one line asked on its standard input, one line (JSON) answered
// on its standard output. The owner starts it on the first question and ends it
// (SIGKILL, then waits for it) when destroyed; a child that dies, answers too slowly or too much is ended and
// started afresh at the next question, so no file it chokes on can stop the caller.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kx {

class SymbolizerProcess {
 public:
  // `command`: the program (a path, or a name looked up in PATH) and its arguments.
  SymbolizerProcess(std::vector<std::string> command, int answerLimitMs);
  SymbolizerProcess(const SymbolizerProcess&) = delete;
  SymbolizerProcess& operator=(const SymbolizerProcess&) = delete;
  ~SymbolizerProcess();

  // Sends `question` (one line, without its line feed) and returns the answer line, without its line feed;
  // nothing when the child could not be started, ended, or did not answer within the limit.
  std::optional<std::string> Ask(const std::string& question);

 private:
  bool Start();
  void Stop();
  std::optional<std::string> ReadLine();

  std::vector<std::string> command_;
  int answerLimitMs_;
  pid_t child_ = -1;
  int socket_ = -1;      // our end of the pair; the child's standard input and output are the other
  std::string pending_;  // bytes read beyond the last answer's line feed
};

}  // namespace kx
