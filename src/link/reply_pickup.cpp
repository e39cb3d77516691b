#include "link/reply_pickup.h"

#include "core/reply_text.h"
#include "link/link_status.h"
#include "link/received_folder_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

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
    return ReplyTextFromBytes(bytes);
}

std::optional<ReplyPickup::Seen> ReplyPickup::look(const std::filesystem::path& path) {
    Seen seen;
#ifdef _WIN32
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    seen.size = std::filesystem::file_size(path, ec);
    if (ec)
        return std::nullopt;
    const auto modified = std::filesystem::last_write_time(path, ec);
    if (ec)
        return std::nullopt;
    seen.modified = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    seen.size = static_cast<std::uintmax_t>(st.st_size);
    seen.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    return seen;
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
    offered_.clear();
    if (folder != previousFolder_) {
        previous_.clear(); // what was seen elsewhere proves nothing here
        handedOn_.clear();
        previousFolder_ = folder;
    }
    struct Ready {
        Seen seen;
        std::string name;
        std::filesystem::path path;
        const Letter* letter;
    };
    std::vector<Ready> ready;
    std::map<std::string, Seen> now;
    ForEachTextFile(folder, [&](const std::filesystem::directory_entry& entry, const std::string& name) {
        if (skip_.count(name))
            return;
        // The first of L, A, P in that order that the name holds decides its slot.
        const Letter* letter = nullptr;
        for (const Letter& l : kLetters) {
            if (name.find(l.letter) != std::string::npos) {
                letter = &l;
                break;
            }
        }
        if (!letter || letters_.find(letter->letter) == std::string::npos)
            return;
        const std::optional<Seen> looked = look(entry.path());
        if (!looked)
            return;
        const Seen seen = *looked;
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
        const auto handed = handedOn_.find(name);
        if (handed != handedOn_.end() && handed->second == seen)
            return; // delivered already; its delete failed
        ready.push_back({seen, name, entry.path(), letter});
    });
    for (auto it = reportedTooLarge_.begin(); it != reportedTooLarge_.end();)
        it = now.count(*it) ? std::next(it) : reportedTooLarge_.erase(it);
    for (auto it = handedOn_.begin(); it != handedOn_.end();)
        it = now.count(it->first) ? std::next(it) : handedOn_.erase(it);
    previous_ = std::move(now);

    // Oldest first; the name settles files written within one clock step.
    std::sort(ready.begin(), ready.end(), [](const Ready& a, const Ready& b) {
        if (a.seen.modified != b.seen.modified)
            return a.seen.modified < b.seen.modified;
        return a.name < b.name;
    });
    int sum = 0;
    int reads = 0;
    bool result = false, document = false; // a parameter or archive reply offered
    for (const Ready& r : ready) {
        const bool isResult = r.letter->weight == REPLY_RESULT;
        if (isResult ? result : document)
            continue;
        if (reads++ == kMaxReadsPerPoll)
            break;
        std::optional<std::string> text = ReadReplyFile(r.path);
        if (!text)
            continue; // not counted; read at a later poll if still there
        *(slots.*(r.letter->slot)) = std::move(*text);
        sum += r.letter->weight;
        offered_.push_back({r.letter->weight, r.name, r.path, r.seen});
        (isResult ? result : document) = true;
        if (result && document)
            break;
    }
    return sum;
}

void ReplyPickup::delivered(int replies) {
    // The weights are chosen so that each sum of distinct kinds names its kinds.
    std::vector<const Offered*> chosen;
    const std::size_t n = offered_.size();
    for (unsigned subset = 1; subset < (1u << n); ++subset) {
        int sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (subset & (1u << i))
                sum += offered_[i].weight;
        if (sum != replies)
            continue;
        for (std::size_t i = 0; i < n; ++i)
            if (subset & (1u << i))
                chosen.push_back(&offered_[i]);
        break;
    }
    for (const Offered* o : chosen) {
        if (PathToUtf8(o->path).find("lnk") != std::string::npos)
            continue; // such files are read at every poll and never deleted
        const std::optional<Seen> still = look(o->path);
        if (!still || !(*still == o->seen))
            continue; // gone already, or a new file of the same name that is not read yet
        std::error_code ec;
        std::filesystem::remove(o->path, ec);
        if (ec)
            handedOn_[o->name] = o->seen;
    }
    offered_.clear();
}

} // namespace dm
