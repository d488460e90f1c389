#pragma once

#include <functional>
#include <sys/wait.h>

namespace kelvor::testing {

// Runs `body` in a forked child and returns its wait status: exit status 0 when `body`
// returned, 3 when it threw. The child never returns into the test framework. Open no store
// connection across the call: each process opens its own.
int run_in_child(const std::function<void()>& body);

} // namespace kelvor::testing
