#include "intake/dump_request_processor.h"

namespace kx {

// Does nothing yet: the pipe intake and the report generator are not built.
void DumpRequestProcessor::Run(const std::string&) {}

}  // namespace kx
