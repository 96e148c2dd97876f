#include "dispatch/log_transport_processor.h"

namespace kx {

// Does nothing yet: the launcher and its signature check are not built.
void LogTransportProcessor::Run(const std::wstring&, bool) {}

}  // namespace kx
