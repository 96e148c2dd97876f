// Runs the processors of one command, each to completion, in order. Nothing passes between them.
#pragma once

#include "app/dispatch_plan.h"

namespace kx {

void RunInvocation(const Invocation& invocation);

}  // namespace kx
