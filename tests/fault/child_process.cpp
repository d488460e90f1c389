#include "fault/child_process.h"

#include <cstdio>
#include <exception>
#include <unistd.h>

namespace kelvor::testing {

int run_in_child(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int status = 0;
        try {
            body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "child: %s\n", error.what());
            status = 3;
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return status;
}

} // namespace kelvor::testing
