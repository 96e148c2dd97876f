// kxserver: the receiving server of KXWindowsClientService (docs/server.md).
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "app/options.h"
#include "app/serve.h"
#include "process/dump_reader.h"

namespace {

constexpr char kUsage[] =
    "usage: kxserver serve (--data DIR | --database URL) --listen ADDR:PORT --tls-cert CERT.pem --tls-key KEY.pem\n"
    "                      [--threads N] [--max-dump-mib N] [--rate-per-installation PER_MINUTE]\n"
    "                      [--rate-overall PER_SECOND] [--ingest-key KEY] [--symbols DIR]... [--dump-reader PROGRAM]\n"
    "                      [--access-log FILE] [--port-file FILE] [--connections N] [--spool DIR]\n"
    "                      [--symbol-store DIR] [--symbols-key KEY]\n"
    "       kxserver admin (--data DIR | --database URL) COMMAND ...   (kxserver admin --data DIR help)\n";

// The default dump reader is installed beside this program.
std::string DumpInfoPath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  const std::string self = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
  return self.substr(0, self.rfind('/') + 1) + kx::server::kDumpInfoProgram;
}

int Admin(std::vector<std::string> words) {
  std::string error;
  const std::optional<kx::server::StoreLocation> location = kx::server::TakeStoreLocation(words, error);
  if (!location) {
    std::fprintf(stderr, "kxserver: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  try {
    const std::unique_ptr<kx::server::Store> store = kx::server::Store::Open(*location);
    kx::server::ProcessorOptions processing;
    processing.dumpReader = {DumpInfoPath(), "--json"};
    processing.spoolFolder = location->spoolFolder;
    processing.symbolStore = location->symbolStore;
    return kx::server::RunAdmin(*store, processing, words, stdin, stdout, stderr);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "kxserver: cannot open the store: %s\n", failure.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (!words.empty() && words[0] == "admin") return Admin({words.begin() + 1, words.end()});
  if (!words.empty() && words[0] == "serve") {
    std::string error;
    const std::optional<kx::server::ServeOptions> options =
        kx::server::ParseServeOptions({words.begin() + 1, words.end()}, DumpInfoPath(), error);
    if (options) return kx::server::Serve(*options);
    std::fprintf(stderr, "kxserver: %s\n", error.c_str());
  }
  std::fputs(kUsage, stderr);
  return 2;
}
