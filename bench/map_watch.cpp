// Starts a program on the X display and reports, on one line:
//   map_ms    time from just before exec to the MapNotify of its first top-level window
//   hwm_kb    its peak resident set size (VmHWM) once it has settled after the map
//   rss_kb    its resident set size at the same moment
//   cpu_ms    CPU time all its threads have used by then (less sensitive to a busy machine)
//   map_at    the wall-clock time of that MapNotify, in seconds since the epoch: where a trace
//             of the program's system calls (strace -ttt) is cut to what came before the map
// then ends it with SIGTERM. Without a window manager (Xvfb) the MapNotify arrives on the
// root window as soon as the server maps the window, so nothing but the program is timed.
//
//   bench_map_watch [--settle-ms N] [--timeout-ms N] -- program [args...]
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

long status_field_kb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

double cpu_ms(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total_ns = 0;
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream in(task.path() / "schedstat");
        double on_cpu_ns = 0;
        if (in >> on_cpu_ns)
            total_ns += on_cpu_ns;
    }
    return total_ns / 1e6;
}

bool exited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// The program runs in a process group of its own: a wrapper (strace, valgrind) ends together
// with what it runs, as a desktop's log-off ends both.
void stop(pid_t pid) {
    kill(-pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (exited(pid))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int usage() {
    std::fputs("usage: bench_map_watch [--settle-ms N] [--timeout-ms N] -- program [args...]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    int settle_ms = 500;
    int timeout_ms = 20000;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (first + 1 >= argc)
            return usage();
        if (arg == "--settle-ms")
            settle_ms = std::atoi(argv[++first]);
        else if (arg == "--timeout-ms")
            timeout_ms = std::atoi(argv[++first]);
        else
            return usage();
    }
    if (first >= argc)
        return usage();

    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fputs("bench_map_watch: cannot open the X display\n", stderr);
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask));
    while (xcb_generic_event_t* stale = xcb_poll_for_event(x))
        std::free(stale);

    const auto started = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        setpgid(0, 0);
        execvp(argv[first], argv + first);
        std::perror(argv[first]);
        _exit(127);
    }

    double map_ms = -1;
    double map_at = 0;
    pollfd pfd{xcb_get_file_descriptor(x), POLLIN, 0};
    while (map_ms < 0) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && map_ms < 0) {
                map_ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
                map_at = std::chrono::duration<double>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
            }
            std::free(event);
        }
        if (map_ms >= 0)
            break;
        const auto waited = Clock::now() - started;
        if (waited > std::chrono::milliseconds(timeout_ms) || exited(pid)) {
            std::fprintf(stderr, "bench_map_watch: %s mapped no window\n", argv[first]);
            stop(pid);
            return 1;
        }
        poll(&pfd, 1, 50);
        if (xcb_connection_has_error(x))
            return 1;
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    const long hwm = status_field_kb(pid, "VmHWM");
    const long rss = status_field_kb(pid, "VmRSS");
    const double cpu = cpu_ms(pid);
    stop(pid);
    xcb_disconnect(x);
    std::printf("map_ms=%.3f hwm_kb=%ld rss_kb=%ld cpu_ms=%.3f map_at=%.6f\n", map_ms, hwm, rss,
                cpu, map_at);
    return 0;
}
