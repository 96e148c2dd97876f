// The "updatepvbpreference" processor: sends the dump preference of every product build in the store to the
// preferences server, and stores what the server answers back.
#pragma once

#include <string>

namespace kx {

class InitialDataSyncProcessor {
 public:
  // Opens (empties) "InitialDataSyncProcessor.txt" when logging is on; writes no lines.
  void Run(const std::wstring& clientDirectory);
};

// The whole exchange. An empty store sends nothing. Otherwise the store is posted, the server's updated
// preferences ("Updated Preferences" header line) are merged in, and the store is written back, also when
// the server could not be reached. A stored value the store cannot read exactly takes no part, so it is
// never overwritten.
void syncPreferences(const std::wstring& clientDirectory);

}  // namespace kx
