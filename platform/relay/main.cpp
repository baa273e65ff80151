// tolvane-bus-relay: carries Tolvane's conversation with the desktop portal to the session bus.
//
// The portal learns who calls it by reading /proc/<pid>/root of the process connected to the
// bus, which Tolvane keeps closed to every other process since its memory holds passwords. This
// process, started by Tolvane's D-Bus library (a "unixexec:" address) with the connection on its
// standard input and output, is the one connected to the bus: the portal reads it instead. It
// holds no password, only the messages on their way, which it wipes once passed on (the bus
// daemon and a monitor of the session bus see them anyway). It ends when either side closes.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A value of a D-Bus address, %-escapes decoded.
std::string unescaped(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size()) {
            out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

int connectUnix(const std::string& name, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (name.empty() || name.size() + offset >= sizeof address.sun_path) {
        return -1;
    }
    std::memcpy(address.sun_path + offset, name.data(), name.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + name.size() + !abstract);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The session bus, from its address ("unix:path=..." or "unix:abstract=...", the first of a
// list that answers), or where the user's runtime folder keeps it.
int connectSessionBus() {
    const char* given = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!given || !*given) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        return runtime ? connectUnix(std::string(runtime) + "/bus", false) : -1;
    }
    const std::string addresses(given);
    std::size_t start = 0;
    while (start < addresses.size()) {
        const std::size_t end = std::min(addresses.find(';', start), addresses.size());
        const std::string address = addresses.substr(start, end - start);
        start = end + 1;
        if (address.rfind("unix:", 0) != 0) {
            continue;
        }
        std::size_t at = 5;
        while (at < address.size()) {
            const std::size_t next = std::min(address.find(',', at), address.size());
            const std::string pair = address.substr(at, next - at);
            at = next + 1;
            const std::size_t equal = pair.find('=');
            const std::string key = pair.substr(0, equal);
            if (equal == std::string::npos || (key != "path" && key != "abstract")) {
                continue;
            }
            const int fd = connectUnix(unescaped(pair.substr(equal + 1)), key == "abstract");
            if (fd >= 0) {
                return fd;
            }
        }
    }
    return -1;
}

// Passes what one side has to the other, with the descriptors that come with it; false when
// either side has closed.
bool pass(int from, int to) {
    static char data[65536];
    alignas(cmsghdr) static char control[CMSG_SPACE(sizeof(int) * 64)];
    iovec vector{data, sizeof data};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = recvmsg(from, &message, MSG_CMSG_CLOEXEC);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    bool open = got > 0;
    std::size_t sent = 0;
    while (open && sent < static_cast<std::size_t>(got)) {
        iovec rest{data + sent, static_cast<std::size_t>(got) - sent};
        msghdr out{};
        out.msg_iov = &rest;
        out.msg_iovlen = 1;
        if (sent == 0 && message.msg_controllen > 0) { // the descriptors go with the first byte
            out.msg_control = control;
            out.msg_controllen = message.msg_controllen;
        }
        const ssize_t wrote = sendmsg(to, &out, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        open = wrote > 0;
        sent += open ? static_cast<std::size_t>(wrote) : 0;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                close(fd);
            }
        }
    }
    if (got > 0) {
        explicit_bzero(data, static_cast<std::size_t>(got));
    }
    return open;
}

} // namespace

int main() {
    const int bus = connectSessionBus();
    if (bus < 0) {
        return 1;
    }
    const int caller = STDIN_FILENO; // the same socket as the standard output
    pollfd sides[2] = {{caller, POLLIN, 0}, {bus, POLLIN, 0}};
    for (;;) {
        if (poll(sides, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        if (sides[0].revents && !pass(caller, bus)) {
            return 0;
        }
        if (sides[1].revents && !pass(bus, caller)) {
            return 0;
        }
    }
}
