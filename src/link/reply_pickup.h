#pragma once
// Pickup of the reply files the dosimeter beams into the received-files folder: new
// "*.txt" files are read whole and offered in the reply slot their name's letter names
// ("L" result, "A" archive, "P" parameters; tested in that order). A file is deleted
// only once its reader says its text was handed on (delivered()), so a reply is never
// lost to a file that arrived beside it.
//
// A file still being written is never read half nor deleted unread. What proves its
// writer done:
// - the folder watch (watch(); inotify on Linux) saw the writer close it, or saw it
//   moved in, after its last change: the file is taken at the first look after that;
//   one the watch saw written and not yet closed is never taken;
// - on Windows, where there is no watch, an open that denies others writing succeeds
//   (WriterHoldsFile): no writer holds the file any more;
// - for a file neither can vouch for (a network writer, lost events, other platforms),
//   its size and modification time are the same as at the previous poll(), which the
//   owner runs a second apart: taken by the second poll that sees it.
// Between polls, pollFinished() takes only files proven by the first two. With a watch
// it lists the folder only when the watch saw something happen, so a reply is in
// within milliseconds of its writer closing it and an idle wait costs one non-blocking
// read; on Windows it lists each time (the owner calls it every 50 ms while a command
// waits). It never judges by size and time (that needs the second between looks). A
// proven file waits while an older file of its kind that the watch knows nothing of
// is not yet whole, so the order holds.
// After reading, the file is looked at again; one that changed meanwhile is not taken.
// A file that cannot be read is left in place and read at a later look; it adds nothing
// to the look's sum. An empty file is taken for one whose writer has not begun yet and
// is left alone.
//
// One look offers at most one file per letter, the oldest ready one (by modification
// time, then name), and never a parameter and an archive reply together: what else is
// ready waits for the following looks, in the order it was written. Every file in the
// folder is looked at, but at most kMaxReadsPerPoll are opened, so a flood of files
// costs a listing and a bounded number of reads per look. The listing builds nothing
// for a name that is not a candidate, so a folder crowded with other files costs little
// more than listing it.
#include "core/message_sink.h"
#include "link/folder_watch.h"
#include "link/replies.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace dm {

// Larger reply files are reported once and left in place.
inline constexpr std::uintmax_t kMaxReplyFileBytes = 16u * 1024u * 1024u;
// Files opened by one poll at most (vanished or locked ones included).
inline constexpr int kMaxReadsPerPoll = 8;

class ReplyPickup {
public:
    explicit ReplyPickup(MessageSink& messages) : messages_(messages) {}

    // Remembers the "*.txt" files now in the folder: they are never taken as replies.
    void rememberExistingFiles(const std::filesystem::path& folder);
    // A name (without folder) never to take as a reply, e.g. a table saved there.
    void addSkipFile(const std::string& name);
    const std::vector<std::string>& skipFiles() const { return skipList_; }
    // Only names holding one of these letters (of "LAP") are taken; by default all three.
    void takeOnly(const std::string& letters) { letters_ = letters; }

    // Watches the folder for writers finishing their files from now on; false where the
    // platform cannot tell (then only the second look proves a file whole).
    bool watch(const std::filesystem::path& folder);
    bool watching() const { return watch_.active(); }

    // One look at the folder: the replies it offers, as texts (UTF-8). Deletes nothing.
    // Run a second apart.
    TakenReplies poll(const std::filesystem::path& folder);
    // A look between polls, as often as wanted: only files the watch proves finished.
    // Nothing at once when the folder is not watched or nothing happened there.
    TakenReplies pollFinished(const std::filesystem::path& folder);
    // Waits until something happens in the watched folder or the deadline passes; true
    // when something did. Not watching: false at once.
    bool waitForChange(std::chrono::steady_clock::time_point deadline) const {
        return watch_.waitUntil(deadline);
    }

    // The replies of the last poll that were handed on (a part of what poll() returned):
    // their files are deleted unless the path holds "lnk" or the file changed since it
    // was read. One that cannot be deleted is not offered again while it stays as it is.
    // What is not named here is offered again.
    void delivered(ReplyKinds replies);

private:
    struct Seen {
        std::uintmax_t size = 0;
        std::int64_t modified = 0; // nanoseconds of the file's clock
        bool operator==(const Seen&) const = default;
    };
    // A regular file's size and time in one look (a flood makes every call count);
    // nothing when it is gone or not a regular file.
    static std::optional<Seen> look(const std::filesystem::path& path);
    struct Offered {
        ReplyKind kind;
        std::string name;
        std::filesystem::path path;
        Seen seen;
    };

    TakenReplies pickUp(const std::filesystem::path& folder, bool quick);

    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    MessageSink& messages_;
    std::vector<std::string> skipList_;
    std::unordered_set<std::string, NameHash, std::equal_to<>> skip_;
    FolderWatch watch_;
    bool wantWatch_ = false;
    bool provenWaiting_ = false; // a proven file was left for a later look
    std::string letters_ = "LAP";
    std::filesystem::path previousFolder_;
    std::map<std::string, Seen, std::less<>> previous_; // candidates seen by the last poll
    std::map<std::string, Seen, std::less<>> handedOn_; // delivered, but their delete failed
    std::vector<Offered> offered_;          // what the last poll put in the slots
    std::set<std::string> reportedTooLarge_;
};

// Names the pickup considers: "*.txt" (case-insensitively on Windows).
bool IsTextFileName(std::string_view name);

// The whole file as reply text (zero bytes to blanks, LF to CR LF, Windows-1251 to
// UTF-8). Nothing when it cannot be opened or read whole. The file is left in place.
std::optional<std::string> ReadReplyFile(const std::filesystem::path& path);

} // namespace dm
