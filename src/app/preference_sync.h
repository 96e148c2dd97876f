// "updatepvbpreference": sends the dump preference of every product build in the store to the preferences
// server, and stores what the server answers back. An empty store sends nothing. Otherwise the store is
// posted, the server's updated preferences ("Updated Preferences" header line) are merged in, and the store
// is written back, also when the server could not be reached. A stored value the store cannot read exactly
// takes no part, so it is never overwritten.
#pragma once

#include <string>

namespace kx {

// Opens (empties) "InitialDataSyncProcessor.txt" when logging is on; its one line tells how many new product
// builds of the server's answer the bounded store left out, when any were.
void SyncPreferences(const std::wstring& clientDirectory);

}  // namespace kx
