#include "sim/pty_bridge.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace dm {

std::unique_ptr<PtyBridge> PtyBridge::Open(std::string* error, Filter filter) {
    std::unique_ptr<PtyBridge> b(new PtyBridge());
    b->filter_ = std::move(filter);
    termios raw{};
    ::cfmakeraw(&raw);
    char name[128];
    // Raw from the start, so nothing sent before a program opens its end is echoed back.
    if (::openpty(&b->masterA_, &b->slaveA_, name, &raw, nullptr) != 0) {
        if (error)
            *error = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    b->pathA_ = name;
    if (::openpty(&b->masterB_, &b->slaveB_, name, &raw, nullptr) != 0 || ::pipe(b->wake_) != 0) {
        if (error)
            *error = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    b->pathB_ = name;
    for (int fd : {b->masterA_, b->masterB_, b->slaveA_, b->slaveB_, b->wake_[0], b->wake_[1]})
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    for (int fd : {b->masterA_, b->masterB_})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    PtyBridge* self = b.get();
    b->thread_ = std::thread([self] { self->run(); });
    return b;
}

PtyBridge::~PtyBridge() {
    if (thread_.joinable()) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &c, 1);
        thread_.join();
    }
    for (int fd : {masterA_, masterB_, slaveA_, slaveB_, wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
}

void PtyBridge::run() {
    std::vector<std::uint8_t> buf(4096);
    for (;;) {
        pollfd fds[3] = {{masterA_, POLLIN, 0}, {masterB_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[2].revents)
            return;
        for (int dir = 0; dir < 2; ++dir) {
            if (!(fds[dir].revents & POLLIN))
                continue;
            const int from = dir == 0 ? masterA_ : masterB_;
            const int to = dir == 0 ? masterB_ : masterA_;
            const ssize_t n = ::read(from, buf.data(), buf.size());
            if (n <= 0)
                continue;
            std::vector<std::uint8_t> bytes(buf.begin(), buf.begin() + n);
            if (filter_)
                filter_(dir, bytes);
            std::size_t at = 0;
            while (at < bytes.size()) {
                const ssize_t w = ::write(to, bytes.data() + at, bytes.size() - at);
                if (w > 0) {
                    at += static_cast<std::size_t>(w);
                } else if (w < 0 && errno == EAGAIN) {
                    pollfd out{to, POLLOUT, 0};
                    ::poll(&out, 1, 100);
                } else {
                    break;
                }
            }
        }
        // A side whose program has gone shows POLLHUP until reopened: do not spin on it.
        if ((fds[0].revents & POLLHUP) || (fds[1].revents & POLLHUP))
            ::usleep(2000);
    }
}

} // namespace dm
