// kxserver serve: the store opened and brought up to date, the processor started, the port served until
// SIGTERM or SIGINT.
#pragma once

#include "app/options.h"

namespace kx::server {

int Serve(const ServeOptions& options);

}  // namespace kx::server
