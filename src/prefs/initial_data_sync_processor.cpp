#include "prefs/initial_data_sync_processor.h"

namespace kx {

// Does nothing yet: the preference store and the HTTPS client are not built.
void InitialDataSyncProcessor::Run(const std::wstring&) {}

}  // namespace kx
