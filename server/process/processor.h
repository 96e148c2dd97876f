// Processing apart from intake: a thread that takes uploads from the store's queue, reads each report and
// joins it to its crash and group, reads each dump in a child process, and now and then applies retention.
// Any number of instances may run one on the same PostgreSQL store: the queue hands each job to one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/store.h"

namespace kx::server {

struct ProcessorOptions {
  std::vector<std::string> dumpReader;  // the command that reads a dump; its path is appended
  std::string symbolStore;              // where uploaded symbols go: searched after the reader's own folders
  int dumpSeconds = 60;
  std::string spoolFolder = "/tmp";     // where a dump the store keeps in the database is copied to be read
  std::uint64_t reportBytes = 8 << 20;  // a report larger than this is not read (marked unreadable)
  int pollSeconds = 2;                  // how often the queue is looked at without being woken
  int retentionMinutes = 10;
};

inline constexpr std::int64_t kDefaultKeepDays = 90;

class Processor {
 public:
  Processor(Store& store, ProcessorOptions options);
  ~Processor();
  Processor(const Processor&) = delete;
  Processor& operator=(const Processor&) = delete;

  void Start();
  void Stop();
  // Something was queued: look now rather than at the next poll.
  void Wake();

  // Processes what the queue holds now; returns how many jobs it took.
  std::size_t RunQueue(std::int64_t now);
  std::int64_t RunRetention(std::int64_t now);

 private:
  void Loop();
  void Process(const Job& job, std::int64_t now);
  void ProcessReport(const Job& job, std::int64_t now);
  void ProcessDump(const Job& job, std::int64_t now);

  Store& store_;
  const ProcessorOptions options_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool wake_ = false, stopping_ = false;
  std::thread thread_;
};

}  // namespace kx::server
