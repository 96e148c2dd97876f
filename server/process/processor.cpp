#include "process/processor.h"

#include <dirent.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "process/dump_reader.h"
#include "store/file_io.h"
#include "wire/report_reader.h"

namespace kx::server {
namespace {

constexpr std::size_t kJobsPerClaim = 16;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// A dump kept in the database, copied out for the reader; removed with the owner.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& folder) : path_(folder + "/kxserver-dump-" + RandomToken()) {
    fd_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  }
  ~TemporaryFile() { ::unlink(path_.c_str()); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  UniqueFd fd_;
};

}  // namespace

Processor::Processor(Store& store, ProcessorOptions options) : store_(store), options_(std::move(options)) {}

Processor::~Processor() { Stop(); }

void Processor::Start() { thread_ = std::thread([this] { Loop(); }); }

void Processor::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  woken_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Processor::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = true;
  }
  woken_.notify_all();
}

void Processor::Loop() {
  std::int64_t nextRetention = 0;
  for (;;) {
    try {
      while (RunQueue(Now()) > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
      }
      if (Now() >= nextRetention) {
        RunRetention(Now());
        nextRetention = Now() + options_.retentionMinutes * 60;
      }
    } catch (const std::exception& error) {
      // The store is away for a moment: the queue stays where it is for the next pass.
      std::fprintf(stderr, "kxserver: processing: %s\n", error.what());
    }
    std::unique_lock<std::mutex> lock(mutex_);
    woken_.wait_for(lock, std::chrono::seconds(options_.pollSeconds), [this] { return wake_ || stopping_; });
    if (stopping_) return;
    wake_ = false;
  }
}

std::size_t Processor::RunQueue(std::int64_t now) {
  const std::vector<Job> jobs = store_.ClaimJobs(kJobsPerClaim, now);
  for (const Job& job : jobs) Process(job, now);
  return jobs.size();
}

void Processor::Process(const Job& job, std::int64_t now) {
  try {
    if (job.attempts > kJobAttempts) return store_.GiveUpJob(job, "processing failed " + std::to_string(kJobAttempts) + " times");
    if (job.kind == "report") return ProcessReport(job, now);
    return ProcessDump(job, now);
  } catch (const std::exception& error) {
    // Left to its lease: offered again later, given up after kJobAttempts.
    std::fprintf(stderr, "kxserver: processing upload %lld: %s\n", static_cast<long long>(job.uploadId), error.what());
  }
}

void Processor::ProcessReport(const Job& job, std::int64_t now) {
  std::string document;
  bool tooLarge = false;
  if (!store_.ReadUpload(job.uploadId, job.blob, [&](std::string_view piece) {
        tooLarge = document.size() + piece.size() > options_.reportBytes;
        if (!tooLarge) document.append(piece);
        return !tooLarge;
      })) {
    throw std::runtime_error("cannot read the stored report");
  }
  ReportFacts facts = tooLarge ? ReportFacts{} : ReadReport(document);
  if (tooLarge) facts.problem = "larger than " + std::to_string(options_.reportBytes) + " bytes";
  store_.FinishReportJob(job, facts, document, now);
}

namespace {

bool HoldsAny(const std::string& folder) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return false;
  bool any = false;
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] != '.') {
      any = true;
      break;
    }
  }
  ::closedir(listing);
  return any;
}

}  // namespace

void Processor::ProcessDump(const Job& job, std::int64_t now) {
  std::string path = store_.LocalPath(job.blob);
  std::unique_ptr<TemporaryFile> copy;
  if (path.empty()) {
    copy = std::make_unique<TemporaryFile>(options_.spoolFolder);
    bool written = copy->fd() >= 0;
    if (!store_.ReadUpload(job.uploadId, job.blob, [&](std::string_view piece) {
          written = written && WriteAll(copy->fd(), piece);
          return written;
        }) || !written) {
      throw std::runtime_error("cannot copy the stored dump to " + copy->path());
    }
    path = copy->path();
  }
  // The store of uploaded symbols is read once it holds any: an empty one would only cost a walk.
  std::vector<std::string> command = options_.dumpReader;
  if (!options_.symbolStore.empty() && HoldsAny(options_.symbolStore)) {
    command.push_back("--symbols");
    command.push_back(options_.symbolStore);
  }
  const DumpReading reading = ReadDumpInChild(command, path, options_.dumpSeconds);
  store_.FinishDumpJob(job, reading.readable, reading.details, reading.signature, now);
}

std::int64_t Processor::RunRetention(std::int64_t now) {
  const std::int64_t days = IntOf(store_.Setting("keep_days"), kDefaultKeepDays);
  const std::int64_t mib = IntOf(store_.Setting("keep_mib"), 0);
  RetentionLimits limits;
  limits.cutoff = days > 0 ? now - days * 86400 : 0;
  limits.maxBytes = static_cast<std::uint64_t>(mib) << 20;
  return store_.ApplyRetention(limits);
}

}  // namespace kx::server
