#include "link/irda/serial_port.h"

#include "link/irda/dongle.h"
#include "link/irda/sir_codec.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace dm::irda {

namespace {

constexpr int kSirSpeeds[] = {9600, 19200, 38400, 57600, 115200};

bool IsSirSpeed(int baud) { return std::find(std::begin(kSirSpeeds), std::end(kSirSpeeds), baud) != std::end(kSirSpeeds); }

} // namespace

std::optional<SirLinkOptions> ParseSirLink(const std::string& linkName, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<SirLinkOptions> {
        if (error)
            *error = "link '" + linkName + "': " + why;
        return std::nullopt;
    };
    if (linkName.rfind("sir:", 0) != 0)
        return fail("not sir:PATH");
    const std::string rest = linkName.substr(4);
    const std::size_t query = rest.find('?');
    SirLinkOptions options;
    options.path = rest.substr(0, query);
    if (options.path.empty())
        return fail("no port; give sir:PATH, such as sir:/dev/ttyUSB0 ('dosimeter-cli adapters' lists them)");
    if (query == std::string::npos)
        return options;
    std::istringstream settings(rest.substr(query + 1));
    for (std::string item; std::getline(settings, item, '&');) {
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        if (key == "dongle") {
            if (!FindDongleKind(value))
                return fail("unknown dongle '" + value + "' (known: " + DongleKindNames() + ")");
            options.dongle = value;
        } else if (key == "speed") {
            char* end = nullptr;
            const long baud = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || !IsSirSpeed(static_cast<int>(baud)))
                return fail("speed '" + value + "' is not one of 9600, 19200, 38400, 57600, 115200");
            options.maxSpeed = static_cast<int>(baud);
        } else {
            return fail("unknown setting '" + key + "' (use dongle=NAME and speed=BAUD)");
        }
    }
    return options;
}

#ifdef _WIN32

std::unique_ptr<FramePort> OpenSirPort(const SirLinkOptions& options, std::string* error) {
    if (error)
        *error = "sir:" + options.path + ": serial IrDA adapters are driven on Linux only; use the irda link here";
    return nullptr;
}

std::string SerialPortHolder(const std::string&) { return {}; }

#else

namespace {

using Clock = std::chrono::steady_clock;

speed_t BaudConstant(int baud) {
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

std::string ProgramOf(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string DescribePid(long pid) {
    if (pid == static_cast<long>(::getpid()))
        return "this program (pid " + std::to_string(pid) + ")";
    const std::string program = ProgramOf(pid);
    return "pid " + std::to_string(pid) + (program.empty() ? "" : " (" + program + ")");
}

// An advisory lock on the file's inode, as /proc/locks lists it: "1: FLOCK ADVISORY WRITE
// PID MAJ:MIN:INODE START END" (device numbers in hex).
long FlockHolder(const struct stat& st) {
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos)
            continue; // a waiter, not a holder
        std::istringstream fields(line);
        std::string number, type, mode, access, device;
        long pid = 0;
        if (!(fields >> number >> type >> mode >> access >> pid >> device))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3)
            continue;
        if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino)
            return pid;
    }
    return 0;
}

// A UUCP lock file ("LCK..ttyUSB0" holding the owner's pid) as older serial tools leave.
long UucpLockHolder(const std::string& device) {
    const std::string base = device.substr(device.find_last_of('/') + 1);
    for (const char* folder : {"/run/lock/", "/var/lock/"}) {
        std::ifstream file(std::string(folder) + "LCK.." + base);
        if (!file)
            continue;
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const long pid = std::strtol(text.c_str(), nullptr, 10);
        // A file whose owner is gone is stale.
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            return pid;
    }
    return 0;
}

std::string RealDevice(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string result(real);
    std::free(real);
    return result;
}

std::string NoPermissionMessage(const std::string& path) {
    struct stat st {};
    std::string group = "dialout";
    if (::stat(path.c_str(), &st) == 0)
        if (const struct group* g = ::getgrgid(st.st_gid); g && std::string(g->gr_name) != "root")
            group = g->gr_name;
    return "no permission to open " + path + ": add your user to the group " + group + " ('sudo usermod -aG " +
           group + " $USER') and log in again";
}

std::string InUseMessage(const std::string& path) {
    const std::string holder = SerialPortHolder(path);
    return path + " is in use by " + (holder.empty() ? std::string("another program") : holder);
}

class SirSerialPort final : public FramePort, private SerialControl {
public:
    SirSerialPort(int fd, SirLinkOptions options, const DongleKind& kind)
        : fd_(fd), options_(std::move(options)), kind_(kind), lastActivity_(Clock::now()) {}

    ~SirSerialPort() override {
        PowerDownDongle(kind_, *this);
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    bool start(std::string* error) {
        if (!PowerUpDongle(kind_, *this, error))
            return false;
        speed_ = kContactSpeed;
        return true;
    }

    int pollDescriptor() const override { return fd_; }

    bool read(std::vector<Bytes>& frames, std::string* error) override {
        std::uint8_t buffer[4096];
        // Bounded per call: a flooding line cannot keep the stack's thread here.
        for (int round = 0; round < 16; ++round) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                lastActivity_ = std::max(lastActivity_, Clock::now());
                unwrapper_.feed(buffer, static_cast<std::size_t>(n), frames);
                continue;
            }
            if (n == 0)
                return gone("hung up", error);
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            if (errno != EINTR)
                return gone(std::strerror(errno), error);
        }
        return true;
    }

    bool send(const Bytes& frame, int extraBofs, std::string* error) override {
        wire_.clear();
        SirWrap(frame, extraBofs, wire_);
        if (!writeAll(wire_.data(), wire_.size(), options_.paced, error))
            return false;
        // Unpaced, the bytes are still leaving the line for a while.
        const Clock::time_point leftAt = options_.paced ? Clock::now() : Clock::now() + LineTime(wire_.size(), lineSpeed_);
        lastActivity_ = std::max(lastActivity_, leftAt);
        return true;
    }

    SteadyTime lastActivity() const override { return lastActivity_; }

    std::vector<int> speeds() const override {
        std::vector<int> result;
        for (const int baud : kind_.speeds)
            if (baud == kContactSpeed || baud <= options_.maxSpeed)
                result.push_back(baud);
        return result;
    }

    bool setSpeed(int baud, std::string* error) override {
        if (baud == speed_)
            return true;
        const std::vector<int> offered = speeds();
        if (std::find(offered.begin(), offered.end(), baud) == offered.end()) {
            if (error)
                *error = name() + ": the " + std::string(kind_.name) + " adapter kind" +
                         (baud > options_.maxSpeed ? " is capped below " : " cannot run at ") + std::to_string(baud) +
                         " baud";
            return false;
        }
        if (!drain(error))
            return false;
        if (!SetDongleSpeed(kind_, *this, baud, error)) {
            std::string ignored;
            SetDongleSpeed(kind_, *this, speed_, &ignored);
            return false;
        }
        unwrapper_.reset();
        speed_ = baud;
        return true;
    }

    int speed() const override { return speed_; }
    std::string name() const override { return "sir:" + options_.path; }

private:
    // ---- SerialControl: what the dongle routines drive
    bool setLines(bool dtr, bool rts, std::string* error) override {
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
            if (error)
                *error = name() + ": the " + std::string(kind_.name) +
                         " adapter kind needs the port's DTR and RTS lines, which it has not (" +
                         std::strerror(errno) + "); use dongle=plain or dongle=direct";
            return false;
        }
        lines = dtr ? lines | TIOCM_DTR : lines & ~TIOCM_DTR;
        lines = rts ? lines | TIOCM_RTS : lines & ~TIOCM_RTS;
        if (::ioctl(fd_, TIOCMSET, &lines) != 0)
            return gone(std::strerror(errno), error);
        return true;
    }

    bool setLineSpeed(int baud, std::string* error) override {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0 || ::cfsetispeed(&tio, BaudConstant(baud)) != 0 ||
            ::cfsetospeed(&tio, BaudConstant(baud)) != 0 || ::tcsetattr(fd_, TCSANOW, &tio) != 0)
            return gone(std::strerror(errno), error);
        lineSpeed_ = baud;
        return true;
    }

    bool writeControl(const Bytes& bytes, std::string* error) override {
        return writeAll(bytes.data(), bytes.size(), false, error) && drain(error);
    }

    void wait(std::chrono::microseconds span) override { std::this_thread::sleep_for(span); }

    // ----
    bool gone(const std::string& why, std::string* error) {
        if (error)
            *error = name() + ": the port is gone (unplugged or closed): " + why;
        return false;
    }

    // Writes every byte; paced, no faster than the line at its speed would carry them.
    bool writeAll(const std::uint8_t* data, std::size_t size, bool paced, std::string* error) {
        const std::size_t slice = paced ? std::max<std::size_t>(1, static_cast<std::size_t>(lineSpeed_) / 1000) : size;
        Clock::time_point due = std::max(Clock::now(), lineFreeAt_);
        // A line that takes nothing for this long is held (or wedged).
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2) + 2 * LineTime(size, lineSpeed_);
        std::size_t sent = 0;
        while (sent < size) {
            const std::size_t want = std::min(slice, size - sent);
            const ssize_t n = ::write(fd_, data + sent, want);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                if (paced) {
                    due += LineTime(static_cast<std::size_t>(n), lineSpeed_);
                    std::this_thread::sleep_until(due);
                }
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return gone(std::strerror(errno), error);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                if (error)
                    *error = name() + ": the port took no bytes for over two seconds";
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) > 0 && (p.revents & (POLLHUP | POLLERR)) &&
                !(p.revents & POLLOUT))
                return gone("hung up", error);
        }
        if (paced)
            lineFreeAt_ = due;
        return true;
    }

    // Waits until what was written has left the line, so a speed change cannot cut it.
    bool drain(std::string* error) {
        if (options_.paced)
            std::this_thread::sleep_until(lineFreeAt_);
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0)
                return gone(std::strerror(errno), error);
            if (queued <= 0 || Clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::max<std::chrono::microseconds>(LineTime(static_cast<std::size_t>(queued), lineSpeed_),
                                                                            std::chrono::microseconds(500)));
        }
        // The UART's own FIFO (16 bytes on the common ones) is not counted above.
        std::this_thread::sleep_for(LineTime(16, lineSpeed_));
        return true;
    }

    int fd_;
    SirLinkOptions options_;
    const DongleKind& kind_;
    SirUnwrapper unwrapper_;
    Bytes wire_;
    int speed_ = kContactSpeed;
    int lineSpeed_ = kContactSpeed;
    Clock::time_point lastActivity_;
    Clock::time_point lineFreeAt_{};
};

} // namespace

std::string SerialPortHolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        if (const long pid = FlockHolder(st); pid > 0)
            return DescribePid(pid);
    if (const long pid = UucpLockHolder(RealDevice(path)); pid > 0)
        return DescribePid(pid);
    return {};
}

std::unique_ptr<FramePort> OpenSirPort(const SirLinkOptions& options, std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<FramePort> {
        if (error)
            *error = why;
        return nullptr;
    };
    const DongleKind* kind = FindDongleKind(options.dongle);
    if (!kind)
        return fail("unknown dongle '" + options.dongle + "' (known: " + DongleKindNames() + ")");
    const std::string& path = options.path;

    // Another program's UUCP lock is honoured before the port is even opened.
    if (const long pid = UucpLockHolder(RealDevice(path)); pid > 0 && pid != static_cast<long>(::getpid()))
        return fail(path + " is in use by " + DescribePid(pid));

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
            return fail("no serial port " + path + ": is the adapter plugged in? 'dosimeter-cli adapters' lists the ports");
        case EACCES:
        case EPERM:
            return fail(NoPermissionMessage(path));
        case EBUSY:
            return fail(InUseMessage(path));
        case ENXIO:
        case ENODEV:
        case EIO:
            return fail(path + " has no device behind it (" + std::strerror(errno) + ")");
        default:
            return fail("cannot open " + path + ": " + std::strerror(errno));
        }
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return fail(InUseMessage(path));
        return fail("cannot lock " + path + ": " + std::strerror(err));
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return fail(path + " is not a serial port");
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // One byte satisfies a read; with O_NONBLOCK an empty line then says EAGAIN, and a
    // read of 0 bytes means the line hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        ::close(fd);
        return fail("cannot set raw mode on " + path + ": " + std::strerror(err));
    }
    // Keeps out other programs that do not look at advisory locks (root aside).
    ::ioctl(fd, TIOCEXCL);
    ::tcflush(fd, TCIOFLUSH);

    auto port = std::make_unique<SirSerialPort>(fd, options, *kind);
    if (!port->start(error))
        return nullptr;
    return port;
}

#endif

} // namespace dm::irda
