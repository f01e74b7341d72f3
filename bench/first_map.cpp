// Starts a program and reports how long it took from exec to the first
// top-level window being mapped, and its peak resident memory shortly after.
// Meant for a display with no window manager, where a map request is granted
// at once and shows up as a MapNotify on the root window.
//
// Usage: first_map [--settle MS] PROGRAM [ARGS...]
// Prints one line: "<milliseconds to first map> <peak RSS in KiB> <CPU
// milliseconds to first map>", the CPU time summed over the program's threads.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The "VmHWM" line of /proc/PID/status: the peak resident set in KiB, or -1.
long peakRssKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// CPU time used so far by all threads of `pid`, in milliseconds, from the
// nanosecond counters in /proc/PID/task/*/schedstat; -1 if unreadable.
double cpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    double ns = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        double onCpu = 0;
        if (stat >> onCpu)
            ns += onCpu;
    }
    closedir(dir);
    return ns / 1e6;
}

int fail(const char *what)
{
    std::fprintf(stderr, "first_map: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int settleMs = 500;
    int timeoutMs = 20000;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--settle") == 0) {
        settleMs = std::atoi(argv[2]);
        first = 3;
    }
    if (first >= argc)
        return fail("usage: first_map [--settle MS] PROGRAM [ARGS...]");

    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return fail("cannot connect to the X display");
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    // Checked, so the mask is in force before the program starts.
    if (xcb_generic_error_t *error = xcb_request_check(connection,
            xcb_change_window_attributes_checked(
                connection, screen->root, XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        return fail("cannot watch the root window");
    }

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return fail("fork failed");
    if (pid == 0) {
        close(xcb_get_file_descriptor(connection));
        execvp(argv[first], argv + first);
        std::perror("first_map: exec");
        _exit(127);
    }

    double mappedMs = -1;
    double mappedCpuMs = -1;
    pollfd fd {xcb_get_file_descriptor(connection), POLLIN, 0};
    while (mappedMs < 0) {
        const auto waited = std::chrono::steady_clock::now() - start;
        if (waited > std::chrono::milliseconds(timeoutMs))
            break;
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return fail("the program ended before mapping a window");
        poll(&fd, 1, 50);
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                // Menus and tooltips bypass the window manager; skip them.
                if (map->event == screen->root && !map->override_redirect && mappedMs < 0) {
                    mappedMs = std::chrono::duration<double, std::milli>(
                        std::chrono::steady_clock::now() - start)
                                   .count();
                    mappedCpuMs = cpuMs(pid);
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            break;
    }

    long rss = -1;
    if (mappedMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        rss = peakRssKib(pid);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    xcb_disconnect(connection);
    if (mappedMs < 0)
        return fail("no top-level window was mapped");
    std::printf("%.2f %ld %.2f\n", mappedMs, rss, mappedCpuMs);
    return 0;
}
