// kxserver's command line:
//
//   kxserver serve (--data DIR | --database URL) [--listen ADDR:PORT] (--tls-cert CERT.pem --tls-key KEY.pem
//                  | --plain-http) [--threads N] [--connections N] [--spool DIR] [--max-dump-mib N]
//                  [--rate-per-installation PER_MINUTE] [--rate-overall PER_SECOND] [--ingest-key KEY]
//                  [--symbols DIR]... [--dump-reader PROGRAM] [--dump-seconds N] [--access-log FILE|-]
//                  [--port-file FILE] [--symbol-store DIR] [--symbols-key KEY]
//   kxserver admin (--data DIR | --database URL) COMMAND ...      (admin/admin.h)
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "intake/intake_server.h"
#include "process/processor.h"
#include "store/store.h"

namespace kx::server {

struct ServeOptions {
  StoreLocation store;
  IntakeOptions intake;
  ProcessorOptions processing;
  std::string accessLogPath = "-";
  std::string portFile;
  std::string symbolsKey;  // POST /symbols takes files with this key; empty: none
};

// The serve options, or nothing with the reason in `error`. `dumpReader` is the default dump reader; whichever
// reader is used gets kxdumpinfo's words: "--json", then "--symbols DIR" for each symbol folder in order.
std::optional<ServeOptions> ParseServeOptions(const std::vector<std::string>& words,
                                              const std::string& dumpReader, std::string& error);

// --data DIR or --database URL (and --connections, --spool) from the front of `words`, which keeps the rest.
std::optional<StoreLocation> TakeStoreLocation(std::vector<std::string>& words, std::string& error);

}  // namespace kx::server
