// kxserver admin: what an operator sets and reads in the store, on either database, while servers run.
//
//   groups [--json]                        every group: signature, crashes, dumps kept, help link, ...
//   link RULE URL | unlink RULE | links [--json]
//                                          help links: RULE is a signature, prefix:TEXT or module:NAME
//   dumps-per-group K                      ask for dumps while a group has fewer than K of a build
//   preference PRODUCT VERSION BUILD VALUE | preferences [--json]
//                                          per-build dump preferences, answered to the clients
//   retention DAYS MIB                     keep files DAYS days and the store within MIB MiB (0: no limit)
//   uploads [--json]                       every stored file
//   check                                  reads every stored file back against its size and digest
//   process                                processes the queue and applies retention once, now
//   symbols add FILE...                    unstripped modules into the symbol store; their dumps walked again
//   user NAME                              an account of the pages (or a new password), read twice from `in`
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "process/processor.h"
#include "store/store.h"

namespace kx::server {

// Returns the exit code: 0 done, 1 failed (said on `err`), 2 a wrong command line.
int RunAdmin(Store& store, const ProcessorOptions& processing, const std::vector<std::string>& words,
             std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace kx::server
