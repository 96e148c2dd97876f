#include "app/serve.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <limits>
#include <thread>

#include "store/file_io.h"
#include "web/web_pages.h"

namespace kx::server {
namespace {

// One server per data folder: SQLite and the files are this process's alone (PostgreSQL is for sharing).
// The lock goes with the process however it ends.
bool LockDataFolder(const std::string& folder, UniqueFd& lock) {
  lock = UniqueFd(::open((folder + "/kxserver.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640));
  return lock.valid() && ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
}

// Waits for SIGTERM or SIGINT on a thread of its own, then stops the server: every other thread has them
// blocked (they are blocked before any thread starts).
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }
  void Watch(IntakeServer& server) {
    thread_ = std::thread([this, &server] {
      int signal = 0;
      sigwait(&set_, &signal);
      if (!finished_) server.Stop();
    });
  }
  // Once the server has stopped, however: the watcher ends without touching it.
  void Finish() {
    if (!thread_.joinable()) return;
    finished_ = true;
    ::kill(::getpid(), SIGTERM);
    thread_.join();
  }
  ~StopSignals() { Finish(); }

 private:
  sigset_t set_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace

int Serve(const ServeOptions& options) {
  // A client that goes away mid-answer must cost a failed write, not the process.
  ::signal(SIGPIPE, SIG_IGN);
  StopSignals signals;
  UniqueFd lock;
  if (!options.store.dataFolder.empty() &&
      (!MakeFolders(options.store.dataFolder) || !LockDataFolder(options.store.dataFolder, lock))) {
    std::fprintf(stderr, "kxserver: %s is in use by another kxserver, or cannot be written\n",
                 options.store.dataFolder.c_str());
    return 1;
  }
  std::FILE* accessLog = stdout;
  if (options.accessLogPath != "-") accessLog = std::fopen(options.accessLogPath.c_str(), "a");
  if (accessLog == nullptr) {
    std::fprintf(stderr, "kxserver: cannot open the access log %s\n", options.accessLogPath.c_str());
    return 1;
  }
  std::unique_ptr<Store> store;
  try {
    store = Store::Open(options.store);
    // Files whose rows a killed run never committed: whole, but no answer ever covered them. The data folder
    // is locked and intake not started, so each is an earlier run's whatever its time: a kill and a restart
    // within one second leave files dated the start's own second.
    if (const std::int64_t removed = store->RemoveOrphans(std::numeric_limits<std::int64_t>::max()))
      std::fprintf(stderr, "kxserver: removed %lld files an earlier run left unrecorded\n", static_cast<long long>(removed));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kxserver: cannot open the store: %s\n", error.what());
    return 1;
  }
  Processor processor(*store, options.processing);
  IntakeOptions intake = options.intake;
  intake.accessLog = accessLog;
  IntakeServer server(*store, intake, [&processor] { processor.Wake(); });
  // Plain HTTP is for behind a proxy that ends TLS: the browser still speaks HTTPS, so the cookie stays Secure.
  web::WebOptions pageOptions;
  pageOptions.symbolStore = options.store.symbolStore;
  pageOptions.symbolsKey = options.symbolsKey;
  web::WebPages pages(*store, pageOptions);
  pages.Route(server.http());
  std::string error;
  if (!server.Bind(error)) {
    std::fprintf(stderr, "kxserver: %s\n", error.c_str());
    return 1;
  }
  if (!options.portFile.empty()) {
    const std::string temporary = options.portFile + ".tmp";
    if (std::FILE* file = std::fopen(temporary.c_str(), "w")) {
      std::fprintf(file, "%d\n", server.port());
      std::fclose(file);
      std::rename(temporary.c_str(), options.portFile.c_str());
    }
  }
  std::fprintf(stderr, "kxserver: serving %s on %s:%d\n",
               options.store.dataFolder.empty() ? "PostgreSQL" : options.store.dataFolder.c_str(),
               intake.host.c_str(), server.port());
  processor.Start();
  signals.Watch(server);
  const bool served = server.Run();
  signals.Finish();
  processor.Stop();
  if (accessLog != stdout) std::fclose(accessLog);
  return served ? 0 : 1;
}

}  // namespace kx::server
