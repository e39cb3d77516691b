#include "link/folder_watch.h"

#ifdef __linux__
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#endif

namespace dm {

FolderWatch::~FolderWatch() { stop(); }

#ifdef __linux__

bool FolderWatch::start(const std::filesystem::path& folder) {
    stop();
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        return false;
    constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE | IN_DELETE |
                                      IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd_, folder.c_str(), kEvents) < 0) {
        stop();
        return false;
    }
    folder_ = folder;
    return true;
}

void FolderWatch::stop() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    folder_.clear();
    finished_.clear();
    writing_.clear();
}

bool FolderWatch::update() {
    if (fd_ < 0)
        return false;
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    bool lost = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        any = true;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof(inotify_event);
            const std::string_view file(name, event.len ? ::strnlen(name, event.len) : 0);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                finished_.clear(); // changes were lost: nothing is known any more
                writing_.clear();
            } else if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                lost = true; // the path no longer names what is watched
            } else if (file.empty()) {
                continue;
            } else if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
                finished_.emplace(file);
                if (const auto it = writing_.find(file); it != writing_.end())
                    writing_.erase(it);
            } else {
                if (const auto it = finished_.find(file); it != finished_.end())
                    finished_.erase(it);
                if (event.mask & (IN_CREATE | IN_MODIFY))
                    writing_.emplace(file);
                else if (const auto it = writing_.find(file); it != writing_.end())
                    writing_.erase(it); // gone
            }
        }
    }
    if (lost)
        stop();
    return any;
}

bool FolderWatch::waitUntil(std::chrono::steady_clock::time_point deadline) const {
    if (fd_ < 0)
        return false;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

#else

// No change notification here: every file goes the one-second way.
bool FolderWatch::start(const std::filesystem::path&) {
    stop();
    return false;
}

void FolderWatch::stop() {
    folder_.clear();
    finished_.clear();
    writing_.clear();
}

bool FolderWatch::update() { return false; }

bool FolderWatch::waitUntil(std::chrono::steady_clock::time_point) const { return false; }

#endif

} // namespace dm
