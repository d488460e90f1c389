// Times a command from just before exec to the end of its output (its standard output closed),
// reading everything it prints, and reports the median of several runs.
//
//   bench_command_time [--runs N] -- program [args...]
//
// Prints one line: median_ms=... bytes=... (what one run printed) max_rss_kb=... (the largest
// peak resident memory of a run).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[]) {
    int runs = 21;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
    }
    if (i + 1 >= argc) {
        std::fputs("usage: bench_command_time [--runs N] -- program [args...]\n", stderr);
        return 2;
    }
    char** command = argv + i + 1;
    std::vector<double> times;
    long bytes = 0;
    long max_rss_kb = 0;
    for (int run = 0; run < runs + 1; ++run) { // the first warms the caches
        int out[2];
        if (pipe(out) != 0)
            return 1;
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execvp(command[0], command);
            _exit(127);
        }
        close(out[1]);
        char buffer[1 << 16];
        long read_now = 0;
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
            read_now += n;
        const auto end = std::chrono::steady_clock::now();
        close(out[0]);
        int status = 0;
        struct rusage usage {};
        wait4(child, &status, 0, &usage);
        max_rss_kb = std::max(max_rss_kb, usage.ru_maxrss);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_command_time: %s failed\n", command[0]);
            return 1;
        }
        bytes = read_now;
        if (run > 0)
            times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    const double median = times.size() % 2
                              ? times[times.size() / 2]
                              : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
    std::printf("median_ms=%.2f bytes=%ld max_rss_kb=%ld\n", median, bytes, max_rss_kb);
    return 0;
}
