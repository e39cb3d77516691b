#include "link/reply_pickup.h"

#include "core/reply_text.h"
#include "link/link_status.h"
#include "link/received_folder_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <system_error>

#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace dm {

namespace {

struct Letter {
    char letter;
    ReplyKind kind;
};

// Calls visit(name) for each "*.txt" name in the folder. Nothing is built for the
// other names: a folder crowded with unrelated files must cost little more than its
// listing.
template <class Visit>
void ForEachTextFile(const std::filesystem::path& folder, Visit visit) {
#ifdef _WIN32
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            return;
        const std::string name = PathToUtf8(it->path().filename());
        if (IsTextFileName(name))
            visit(std::string_view(name));
    }
#else
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (IsTextFileName(name))
            visit(name);
    }
    ::closedir(dir);
#endif
}

} // namespace

bool IsTextFileName(std::string_view name) {
    if (name.size() < 4)
        return false;
    std::string ext(name.substr(name.size() - 4));
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
    ForEachTextFile(folder, [&](std::string_view name) { addSkipFile(std::string(name)); });
}

void ReplyPickup::addSkipFile(const std::string& name) {
    skipList_.push_back(name);
    skip_.insert(name);
}

bool ReplyPickup::watch(const std::filesystem::path& folder) {
    wantWatch_ = true;
    provenWaiting_ = false;
    return watch_.start(folder);
}

TakenReplies ReplyPickup::poll(const std::filesystem::path& folder) { return pickUp(folder, false); }

TakenReplies ReplyPickup::pollFinished(const std::filesystem::path& folder) { return pickUp(folder, true); }

TakenReplies ReplyPickup::pickUp(const std::filesystem::path& folder, bool quick) {
    static const Letter kLetters[] = {
        {'L', ReplyKind::Result},
        {'A', ReplyKind::Archive},
        {'P', ReplyKind::Parameters},
    };
    offered_.clear();
    // Without a watch, where each file can say whether a writer holds it (Windows).
    const bool askFiles = !watch_.active() && CanTellWriterHolds();
    if (quick && !askFiles) {
        // Taken in first in any case, so a wait for the next change does not wake at once.
        const bool changed = watch_.update();
        if (!watch_.active() || watch_.folder() != folder)
            return {};
        if (!changed && !provenWaiting_)
            return {}; // nothing new to prove: no listing at all
    } else if (!quick) {
        // A watch that failed or was lost is tried again once a poll.
        if (wantWatch_ && (!watch_.active() || watch_.folder() != folder))
            watch_.start(folder);
        watch_.update();
    }
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
    std::map<std::string, Seen, std::less<>> now;
    // Per kind (result, document): the oldest non-empty file the watch knows nothing
    // of and that is not yet proven whole, which a proven file must not overtake.
    constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    std::int64_t unprovenOldest[2] = {kNever, kNever};
    ForEachTextFile(folder, [&](std::string_view name) {
        // The first of L, A, P in that order that the name holds decides its slot.
        const Letter* letter = nullptr;
        for (const Letter& l : kLetters) {
            if (name.find(l.letter) != std::string_view::npos) {
                letter = &l;
                break;
            }
        }
        if (!letter || letters_.find(letter->letter) == std::string::npos)
            return;
        if (skip_.find(name) != skip_.end())
            return;
        const std::filesystem::path path = folder / PathFromUtf8(std::string(name));
        const std::optional<Seen> looked = look(path);
        if (!looked)
            return;
        const Seen seen = *looked;
        if (!quick)
            now.emplace(name, seen);
        if (seen.size > kMaxReplyFileBytes) {
            if (reportedTooLarge_.emplace(name).second)
                messages_.showMessage("Reply file " + PathToUtf8(path) + " is larger than " +
                                      std::to_string(kMaxReplyFileBytes / (1024 * 1024)) +
                                      " MiB; it was not read and is left in place.");
            return;
        }
        if (seen.size == 0)
            return; // created but not yet written: no reply is empty
        const int kind = letter->kind == ReplyKind::Result ? 0 : 1;
        bool whole = watch_.finished(name);
        bool held = watch_.writing(name);
        if (!whole && !held && askFiles) {
            if (const std::optional<bool> holds = WriterHoldsFile(path)) {
                whole = !*holds;
                held = *holds;
            }
        }
        // A file its writer still holds is never judged by size and time.
        const bool unknown = !whole && !held;
        if (unknown && !quick) {
            const auto before = previous_.find(name);
            whole = before != previous_.end() && before->second == seen;
        }
        if (!whole) {
            if (unknown && watch_.active())
                unprovenOldest[kind] = std::min(unprovenOldest[kind], seen.modified);
            return; // new or still changing: wait for the proof or a second look
        }
        const auto handed = handedOn_.find(name);
        if (handed != handedOn_.end() && handed->second == seen)
            return; // delivered already; its delete failed
        ready.push_back({seen, std::string(name), path, letter});
    });
    if (!quick) {
        for (auto it = reportedTooLarge_.begin(); it != reportedTooLarge_.end();)
            it = now.count(*it) ? std::next(it) : reportedTooLarge_.erase(it);
        for (auto it = handedOn_.begin(); it != handedOn_.end();)
            it = now.count(it->first) ? std::next(it) : handedOn_.erase(it);
        previous_ = std::move(now);
    }

    // Oldest first; the name settles files written within one clock step.
    std::sort(ready.begin(), ready.end(), [](const Ready& a, const Ready& b) {
        if (a.seen.modified != b.seen.modified)
            return a.seen.modified < b.seen.modified;
        return a.name < b.name;
    });
    TakenReplies taken;
    int reads = 0;
    bool offered[2] = {false, false}; // a result, a parameter or archive reply offered
    std::size_t left = ready.size();
    for (const Ready& r : ready) {
        const int kind = r.letter->kind == ReplyKind::Result ? 0 : 1;
        if (offered[kind] || r.seen.modified >= unprovenOldest[kind])
            continue;
        if (reads++ == kMaxReadsPerPoll)
            break;
        std::optional<std::string> text = ReadReplyFile(r.path);
        if (!text)
            continue; // not counted; read at a later look if still there
        const std::optional<Seen> after = look(r.path);
        if (!after || !(*after == r.seen))
            continue; // written again while it was read: its proof no longer holds
        taken.of(r.letter->kind) = std::move(*text);
        offered_.push_back({r.letter->kind, r.name, r.path, r.seen});
        offered[kind] = true;
        --left;
        if (offered[0] && offered[1])
            break;
    }
    provenWaiting_ = left > 0 && watch_.anyFinished();
    return taken;
}

void ReplyPickup::delivered(ReplyKinds replies) {
    std::vector<const Offered*> chosen;
    for (const Offered& o : offered_)
        if (replies.has(o.kind))
            chosen.push_back(&o);
    if (chosen.size() < offered_.size())
        provenWaiting_ = watch_.anyFinished(); // what was not handed on is offered again
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
