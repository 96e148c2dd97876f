// The "postingestevent" processor: posts the queued analytics event files to the ingest endpoint.
#pragma once

namespace kx {

class IngestProcessor {
 public:
  void Run();
};

}  // namespace kx
