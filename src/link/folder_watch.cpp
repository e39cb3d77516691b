#include "link/folder_watch.h"

#ifdef __linux__
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#elif defined(_WIN32)
#include <windows.h>

#include <algorithm>
#include <thread>
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
                // Only a write marks a writer at work: a name made by a hard link or a
                // symlink gets no close, and must not wait for one for ever.
                if (event.mask & IN_MODIFY)
                    writing_.emplace(file);
                else if (const auto it = writing_.find(file); it != writing_.end())
                    writing_.erase(it); // created anew, or gone
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

std::optional<bool> WriterHoldsFile(const std::filesystem::path&) { return std::nullopt; }
bool CanTellWriterHolds() { return false; }

#else

// No change notification here: the folder is polled, and on Windows each file asked
// whether a writer still holds it.
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

#ifdef _WIN32
bool FolderWatch::waitUntil(std::chrono::steady_clock::time_point deadline) const {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
        return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                                             std::chrono::milliseconds(50)));
    return true;
}

std::optional<bool> WriterHoldsFile(const std::filesystem::path& file) {
    // Sharing only reading: refused while any other handle has write access.
    const HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? std::optional<bool>(true) : std::nullopt;
    CloseHandle(h);
    return false;
}

bool CanTellWriterHolds() { return true; }
#else
bool FolderWatch::waitUntil(std::chrono::steady_clock::time_point) const { return false; }

std::optional<bool> WriterHoldsFile(const std::filesystem::path&) { return std::nullopt; }
bool CanTellWriterHolds() { return false; }
#endif

#endif

} // namespace dm
