#include "ingest/ingest_processor.h"

namespace kx {

// Does nothing yet: the event store and the HTTPS client are not built.
void IngestProcessor::Run() {}

}  // namespace kx
