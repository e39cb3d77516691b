#pragma once
// Pickup of the reply files the dosimeter beams into the received-files folder: new
// "*.txt" files are read whole, deleted and kept in the reply slot their name's letter
// names ("L" result, "A" archive, "P" parameters; tested in that order).
//
// A file is taken in only when its size and modification time are the same as at the
// previous poll, so a file still being written is never read half nor deleted unread:
// a new file is taken in by the second poll that sees it. A file that cannot be read
// is left in place and read at a later poll; it adds nothing to the poll's sum. An
// empty file is taken for one whose writer has not begun yet and is left alone.
#include "core/message_sink.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace dm {

// Larger reply files are reported once and left in place.
inline constexpr std::uintmax_t kMaxReplyFileBytes = 16u * 1024u * 1024u;

// Where a poll leaves the texts it takes in.
struct ReplySlots {
    std::string* result;
    std::string* archive;
    std::string* param;
};

class ReplyPickup {
public:
    explicit ReplyPickup(MessageSink& messages) : messages_(messages) {}

    // Remembers the "*.txt" files now in the folder: they are never taken as replies.
    void rememberExistingFiles(const std::filesystem::path& folder);
    // A name (without folder) never to take as a reply, e.g. a table saved there.
    void addSkipFile(const std::string& name);
    const std::vector<std::string>& skipFiles() const { return skipList_; }

    // One look at the folder; returns the sum of the weights of the files taken in
    // and leaves their texts (UTF-8) in the slots.
    int poll(const std::filesystem::path& folder, ReplySlots slots);

private:
    struct Seen {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified{};
        bool operator==(const Seen&) const = default;
    };

    MessageSink& messages_;
    std::vector<std::string> skipList_;
    std::unordered_set<std::string> skip_;
    std::filesystem::path previousFolder_;
    std::map<std::string, Seen> previous_;  // candidates seen by the last poll
    std::set<std::string> reportedTooLarge_;
};

// Names the pickup considers: "*.txt" (case-insensitively on Windows).
bool IsTextFileName(const std::string& name);

// The whole file as reply text (zero bytes to blanks, LF to CR LF, Windows-1251 to
// UTF-8), then deletes it unless the path contains "lnk". Nothing, and the file left
// in place, when it cannot be opened or read whole.
std::optional<std::string> ReadReplyFile(const std::filesystem::path& path);

} // namespace dm
