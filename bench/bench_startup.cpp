// Start-up cost: from process start to the window being mapped, for Tolvane and for a minimal
// Qt Widgets program, interleaved, medians over the runs. Run on a display (make bench).
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool mappedWindowOf(Display* d, pid_t pid) {
    const Atom clientList = XInternAtom(d, "_NET_CLIENT_LIST", False);
    const Atom wmPid = XInternAtom(d, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(d, DefaultRootWindow(d), clientList, 0, 4096, False, XA_WINDOW, &type,
                           &format, &count, &after, &data) == Success &&
        data) {
        const auto* windows = reinterpret_cast<unsigned long*>(data);
        const unsigned long n = count;
        for (unsigned long i = 0; i < n && !found; ++i) {
            unsigned char* p = nullptr;
            if (XGetWindowProperty(d, windows[i], wmPid, 0, 1, False, XA_CARDINAL, &type, &format,
                                   &count, &after, &p) == Success &&
                p) {
                XWindowAttributes a;
                found = *reinterpret_cast<unsigned long*>(p) == static_cast<unsigned long>(pid) &&
                        XGetWindowAttributes(d, windows[i], &a) && a.map_state == IsViewable;
                XFree(p);
            }
        }
        XFree(data);
    }
    return found;
}

double startOnce(Display* d, const std::string& program, const char* argument = nullptr) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(program.c_str(), program.c_str(), argument, static_cast<char*>(nullptr));
        _exit(127);
    }
    double ms = -1;
    while (Clock::now() - start < std::chrono::seconds(20)) {
        if (mappedWindowOf(d, pid)) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup TOLVANE MINIMAL [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 15;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "bench_startup: no display\n");
        return 1;
    }
    std::vector<double> tolvane, minimal, labelled;
    startOnce(d, argv[1]); // warm the caches once for each
    startOnce(d, argv[2]);
    startOnce(d, argv[2], "--label");
    for (int i = 0; i < runs; ++i) {
        tolvane.push_back(startOnce(d, argv[1]));
        minimal.push_back(startOnce(d, argv[2]));
        labelled.push_back(startOnce(d, argv[2], "--label"));
    }
    const double t = median(tolvane), m = median(minimal), l = median(labelled);
    std::printf("start-up to mapped window, median of %d runs:\n"
                "  tolvane                   %6.1f ms\n"
                "  minimal Qt window         %6.1f ms  (tolvane / minimal = %.2f)\n"
                "  minimal Qt window + label %6.1f ms  (tolvane / minimal with text = %.2f)\n",
                runs, t, m, t / m, l, t / l);
    XCloseDisplay(d);
    return 0;
}
