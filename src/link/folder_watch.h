#pragma once
// Change notification for the received-files folder: which files a writer has finished
// with, and a wait that ends as soon as anything happens there.
//
// On Linux this is inotify. A file counts as finished once the kernel reports it closed
// after writing (IN_CLOSE_WRITE) or moved in whole (IN_MOVED_TO), and no write came
// after that: a writer that still holds the file open has not closed it, and one that
// crashed had it closed by the kernel. A file written since the watch began and not
// closed since is being written: neither finished nor unknown. A name that appeared
// without a write (a hard link, a symbolic link) stays unknown.
//
// On Windows there is no such event, but the file itself tells: an open that denies
// others writing fails while any handle may write to it (WriterHoldsFile). There the
// watch stays inactive and the owner polls the folder fast while a command waits. Elsewhere, and where inotify cannot be had (its
// limits reached, a folder that cannot be watched), the watch is inactive: nothing is
// ever proven finished, and the pickup keeps to its one-second second look.
//
// A file written by a remote writer on a network file system raises no event; it is
// simply never proven and goes the one-second way. A queue overflow forgets every proof.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace dm {

class FolderWatch {
public:
    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches folder from now on, in place of any other; false when it cannot.
    bool start(const std::filesystem::path& folder);
    void stop();
    bool active() const { return fd_ >= 0; }
    const std::filesystem::path& folder() const { return folder_; }

    // Takes in what happened since the last call, without waiting; true when anything did.
    bool update();
    // Whether name's writer is done with it: closed or moved in since its last change.
    bool finished(std::string_view name) const { return finished_.find(name) != finished_.end(); }
    bool anyFinished() const { return !finished_.empty(); }
    // Whether name was written since the watch began and not closed since.
    bool writing(std::string_view name) const { return writing_.find(name) != writing_.end(); }

    // Waits until something happens in the folder or the deadline passes; true when
    // something happened (not yet taken in: update() does that). Inactive: false at
    // once, or where WriterHoldsFile can tell, true after a short sleep (a fast poll).
    bool waitUntil(std::chrono::steady_clock::time_point deadline) const;

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    int fd_ = -1;
    std::filesystem::path folder_;
    std::unordered_set<std::string, Hash, std::equal_to<>> finished_;
    std::unordered_set<std::string, Hash, std::equal_to<>> writing_;
};

// Whether another handle may be writing to the file, where the platform can tell
// without a watch (Windows); nothing where it cannot or the file cannot be opened.
std::optional<bool> WriterHoldsFile(const std::filesystem::path& file);
// Whether WriterHoldsFile can tell here.
bool CanTellWriterHolds();

} // namespace dm
