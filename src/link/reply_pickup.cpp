#include "link/reply_pickup.h"

#include "core/reply_text.h"
#include "link/link_status.h"
#include "link/received_folder_store.h"

#include <cstdio>
#include <system_error>

namespace dm {

namespace {

struct Letter {
    char letter;
    int weight;
    std::string* ReplySlots::*slot;
};

// Each candidate lists the directory entry's name and its size and time now.
template <class Visit>
void ForEachTextFile(const std::filesystem::path& folder, Visit visit) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            return;
        const std::string name = PathToUtf8(it->path().filename());
        if (IsTextFileName(name))
            visit(*it, name);
    }
}

} // namespace

bool IsTextFileName(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string ext = name.substr(name.size() - 4);
#ifdef _WIN32
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
#endif
    return ext == ".txt";
}

std::optional<std::string> ReadReplyFile(const std::filesystem::path& path) {
    std::FILE* f = nullptr;
#ifdef _WIN32
    f = _wfopen(path.c_str(), L"rb");
#else
    f = std::fopen(path.c_str(), "rb");
#endif
    if (!f)
        return std::nullopt;
    std::string bytes;
    char chunk[8192];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
        bytes.append(chunk, n);
        if (bytes.size() > kMaxReplyFileBytes)
            break; // grew past the cap while being read; left for a later poll
        if (n < sizeof chunk)
            break;
    }
    const bool whole = !std::ferror(f) && std::feof(f) && bytes.size() <= kMaxReplyFileBytes;
    std::fclose(f);
    if (!whole)
        return std::nullopt;
    if (PathToUtf8(path).find("lnk") == std::string::npos) {
        std::error_code ec;
        std::filesystem::remove(path, ec); // a failed delete shows the file again next poll
    }
    return ReplyTextFromBytes(bytes);
}

void ReplyPickup::rememberExistingFiles(const std::filesystem::path& folder) {
    ForEachTextFile(folder, [&](const std::filesystem::directory_entry&, const std::string& name) {
        addSkipFile(name);
    });
}

void ReplyPickup::addSkipFile(const std::string& name) {
    skipList_.push_back(name);
    skip_.insert(name);
}

int ReplyPickup::poll(const std::filesystem::path& folder, ReplySlots slots) {
    static const Letter kLetters[] = {
        {'L', REPLY_RESULT, &ReplySlots::result},
        {'A', REPLY_ARCHIVE, &ReplySlots::archive},
        {'P', REPLY_PARAMS, &ReplySlots::param},
    };
    if (folder != previousFolder_) {
        previous_.clear(); // what was seen elsewhere proves nothing here
        previousFolder_ = folder;
    }
    std::map<std::string, Seen> now;
    int sum = 0;
    ForEachTextFile(folder, [&](const std::filesystem::directory_entry& entry, const std::string& name) {
        if (skip_.count(name) || name.find_first_of("LAP") == std::string::npos)
            return;
        std::error_code ec;
        if (!entry.is_regular_file(ec))
            return;
        Seen seen;
        seen.size = std::filesystem::file_size(entry.path(), ec);
        if (ec)
            return;
        seen.modified = std::filesystem::last_write_time(entry.path(), ec);
        if (ec)
            return;
        now[name] = seen;
        if (seen.size > kMaxReplyFileBytes) {
            if (reportedTooLarge_.insert(name).second)
                messages_.showMessage("Reply file " + PathToUtf8(entry.path()) + " is larger than " +
                                      std::to_string(kMaxReplyFileBytes / (1024 * 1024)) +
                                      " MiB; it was not read and is left in place.");
            return;
        }
        const auto before = previous_.find(name);
        if (before == previous_.end() || !(before->second == seen))
            return; // new or still changing: wait for a second look
        if (seen.size == 0)
            return; // created but not yet written: no reply is empty
        for (const Letter& l : kLetters) {
            if (name.find(l.letter) == std::string::npos)
                continue;
            std::optional<std::string> text = ReadReplyFile(entry.path());
            if (!text)
                continue; // not counted; read at a later poll if still there
            *(slots.*(l.slot)) = std::move(*text);
            sum += l.weight;
        }
    });
    for (auto it = reportedTooLarge_.begin(); it != reportedTooLarge_.end();)
        it = now.count(*it) ? std::next(it) : reportedTooLarge_.erase(it);
    previous_ = std::move(now);
    return sum;
}

} // namespace dm
