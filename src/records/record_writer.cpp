#include "records/record_writer.h"

#include "core/string_table.h"
#include "records/private_files.h"

#include <QDateTime>

#include <algorithm>
#include <set>
#include <utility>

namespace dm::records {
namespace {

// A database or spool file others can read, told once per file while the program runs.
std::optional<std::string> ExposureNotTold(const std::filesystem::path& file, const std::string& what) {
    static std::mutex toldMutex;
    static std::set<std::string> told;
    std::optional<std::string> text = ReadableByOthers(file, what);
    std::lock_guard<std::mutex> lock(toldMutex);
    if (!text || !told.insert(file.string()).second)
        return std::nullopt;
    return text;
}


// Times the spool keeps for itself (when a record went in, when it is tried again) are
// the computer's, whatever clock the records are dated by.
UtcSeconds WallNow() { return QDateTime::currentSecsSinceEpoch(); }

} // namespace

RecordWriter::RecordWriter(std::string urlText, std::filesystem::path spoolFile)
    : urlText_(std::move(urlText)), key_(SpoolDatabaseKey(urlText_)), spoolFile_(std::move(spoolFile)) {
    std::string error;
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText_, &error);
    display_ = url ? url->displayName() : "(" + error + ")";
    thread_ = std::thread([this] { run(); });
}

RecordWriter::~RecordWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    handSpool_.reset();
}

// ------------------------------------------------------------------ call-outs

template <typename Fn>
void RecordWriter::callOut(Fn&& fn) {
    struct Done {
        RecordWriter& w;
        ~Done() {
            std::lock_guard<std::mutex> lock(w.mutex_);
            w.callers_.erase(std::find(w.callers_.begin(), w.callers_.end(), std::this_thread::get_id()));
            w.calledOut_.notify_all();
        }
    } done{*this};
    fn();
}

// A callback replaced may still be running on another thread: its owner may go only once
// it has returned. One running on this thread (a callback setting callbacks) is not waited for.
void RecordWriter::waitCallsOut(std::unique_lock<std::mutex>& lock) {
    calledOut_.wait(lock, [this] {
        return std::all_of(callers_.begin(), callers_.end(),
                           [](std::thread::id id) { return id == std::this_thread::get_id(); });
    });
}

void RecordWriter::setNotify(Notify notify) {
    std::vector<std::string> unsaid;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        notify_ = notify;
        if (notify)
            unsaid.swap(unsaid_);
        waitCallsOut(lock);
    }
    for (const std::string& text : unsaid)
        notify(text); // said before anyone listened: the spool left from a last run
}

void RecordWriter::setAlert(Notify alert) {
    std::unique_lock<std::mutex> lock(mutex_);
    alert_ = std::move(alert);
    waitCallsOut(lock);
}

void RecordWriter::setStored(std::function<void()> stored) {
    std::unique_lock<std::mutex> lock(mutex_);
    stored_ = std::move(stored);
    waitCallsOut(lock);
}

void RecordWriter::setReadoutCheck(ReadoutCheck check) {
    std::unique_lock<std::mutex> lock(mutex_);
    readoutCheck_ = std::move(check);
    waitCallsOut(lock);
}

void RecordWriter::say(const std::string& text) {
    Notify notify;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!notify_) {
            if (unsaid_.size() < 20)
                unsaid_.push_back(text);
            return;
        }
        notify = notify_;
        callers_.push_back(std::this_thread::get_id());
    }
    callOut([&] { notify(text); });
}

// An alert goes through the alert handler, else to the notes.
void RecordWriter::alert(const std::string& text) {
    Notify alert;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        alert = alert_;
        if (alert)
            callers_.push_back(std::this_thread::get_id());
    }
    if (alert)
        callOut([&] { alert(text); });
    else
        say(text);
}

// ------------------------------------------------------------------ the handing side

// Puts the record on the disk before the caller goes on (and lets a reply file go); only
// when the spool cannot be written does it wait in memory, which the status log says.
void RecordWriter::hand(RecordEntry entry) {
    bool spooled = false;
    try {
        if (!handSpool_) {
            handSpool_ = std::make_unique<RecordSpool>(spoolFile_);
            if (const auto exposed = ExposureNotTold(spoolFile_, "the records spool"))
                say(*exposed);
        }
        handSpool_->append(entry, key_, WallNow());
        spooled = true;
        handSpoolBroken_ = false;
    } catch (const RecordsError& e) {
        handSpool_.reset();
        if (!handSpoolBroken_)
            say(FillIn(Tr(IDS_REC_HELD_IN_MEMORY, language_), {e.what()}));
        handSpoolBroken_ = true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!spooled)
            memory_.push_back(std::move(entry));
        ++handed_;
    }
    wake_.notify_all();
}

void RecordWriter::retryNow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        retry_ = true;
    }
    wake_.notify_all();
}

void RecordWriter::waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t handed = handed_;
    idle_.wait(lock, [this, handed] { return tried_ >= handed && !busy_ && !retry_; });
}

std::int64_t RecordWriter::waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
}

// ------------------------------------------------------------------ the writer's thread

void RecordWriter::checkReadout(const ReadoutInput& readout) {
    ReadoutCheck check;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        check = readoutCheck_;
        if (check)
            callers_.push_back(std::this_thread::get_id());
    }
    if (!check)
        return;
    // Looked at without the lock: the window must never wait for these reads.
    ReadoutTold told;
    callOut([&] { told = check(*repo_, readout, language_); });
    for (const std::string& text : told.notes)
        say(text);
    for (const std::string& text : told.alerts)
        alert(text);
}

void RecordWriter::openDatabase() {
    repo_ = RecordsRepository::open(urlText_);
    if (repo_->url().kind == DatabaseUrl::Kind::Sqlite)
        if (const auto exposed = ExposureNotTold(repo_->url().path, "the records database"))
            say(*exposed);
}

bool RecordWriter::store(const RecordEntry& entry) {
    bool fresh = false;
    if (!repo_) {
        openDatabase();
        fresh = true;
    }
    for (;;) {
        try {
            const bool isNew = StoreEntry(*repo_, entry);
            if (isNew)
                if (const auto* readout = std::get_if<ReadoutInput>(&entry))
                    checkReadout(*readout);
            storedNew_ = storedNew_ || isNew;
            return isNew;
        } catch (const RecordsError&) {
            // A connection from before an outage fails once; a new one tells.
            repo_.reset();
            if (fresh)
                throw;
            openDatabase();
            fresh = true;
        }
    }
}

std::int64_t RecordWriter::countWaiting() {
    std::int64_t n = static_cast<std::int64_t>(held_.size());
    if (spool_) {
        try {
            n += spool_->count(key_);
        } catch (const RecordsError&) {
        }
    }
    return n;
}

// One try at everything due: the spool first, oldest first, then what waits in memory.
void RecordWriter::pass(bool force, bool fresh, std::deque<RecordEntry> heldNow) {
    for (RecordEntry& e : heldNow)
        held_.push_back(std::move(e));
    if (!spool_ && (!held_.empty() || std::filesystem::exists(spoolFile_))) {
        try {
            spool_ = std::make_unique<RecordSpool>(spoolFile_);
            spool_->claimUnnamed(key_);
            if (const auto exposed = ExposureNotTold(spoolFile_, "the records spool"))
                say(*exposed);
        } catch (const RecordsError&) {
            // Said by the handing side, which met it first.
        }
    }
    const std::int64_t before = waiting_;
    SpoolPass result;
    if (spool_) {
        try {
            result = SendSpooled(*spool_, key_, force, fresh, WallNow(), [this](const RecordEntry& e) { return store(e); });
        } catch (const RecordsError& e) {
            result.error = e.what(); // the spool itself failed; its records stay in it
        }
    }
    while (!held_.empty() && !result.unreachable) {
        try {
            store(held_.front());
            held_.pop_front();
            ++result.stored;
        } catch (const RecordsError& e) {
            result.error = e.what();
            result.unreachable = true;
        }
    }
    // What the database did not take moves from memory into the spool once it can be
    // written again.
    try {
        while (!held_.empty() && spool_) {
            spool_->append(held_.front(), key_, WallNow());
            held_.pop_front();
        }
    } catch (const RecordsError&) {
    }

    if (result.unreachable) {
        ++failedPasses_;
        if (!outage_)
            say(FillIn(Tr(IDS_REC_CANNOT_WRITE, language_), {result.error, spoolFile_.string()}));
        outage_ = true;
    } else if (result.stored > 0) {
        failedPasses_ = 0;
    }
    const std::int64_t now = countWaiting();
    if (outage_ && !result.unreachable && result.stored > 0 && now == 0) {
        outage_ = false;
        say(FillIn(Tr(IDS_REC_BACK, language_), {display_}));
    } else if (now > 0 && (now != before || fresh || force || result.error != lastWhy_)) {
        if (!result.error.empty())
            lastWhy_ = result.error;
        std::string line = FillIn(Tr(now == 1 ? IDS_REC_ONE_WAITS : IDS_REC_WAIT, language_), {std::to_string(now)});
        std::optional<UtcSeconds> next;
        try {
            next = spool_ ? spool_->earliestTry(key_) : std::nullopt;
        } catch (const RecordsError&) {
        }
        if (!held_.empty())
            next = WallNow() + RetryPause(failedPasses_).count();
        if (!lastWhy_.empty() && next)
            line += " " + FillIn(Tr(IDS_REC_WAIT_WHY, language_),
                                 {lastWhy_, std::to_string(std::max<UtcSeconds>(0, *next - WallNow()))});
        say(line);
    }
    if (now == 0)
        lastWhy_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_ = now;
    }
    if (std::exchange(storedNew_, false)) {
        std::function<void()> stored;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stored = stored_;
            if (stored)
                callers_.push_back(std::this_thread::get_id());
        }
        if (stored)
            callOut(stored);
    }
}

void RecordWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint64_t seen = 0;
    bool first = true;
    for (;;) {
        if (!first) {
            const auto ready = [&] { return stop_ || retry_ || handed_ != seen; };
            std::optional<UtcSeconds> next;
            if (waiting_ > 0) {
                lock.unlock();
                try {
                    next = spool_ ? spool_->earliestTry(key_) : std::nullopt;
                } catch (const RecordsError&) {
                }
                if (!held_.empty() || !next)
                    next = WallNow() + RetryPause(std::max(failedPasses_, 1)).count();
                lock.lock();
            }
            if (next) {
                const auto pause = std::chrono::seconds(std::max<UtcSeconds>(1, *next - WallNow()));
                wake_.wait_for(lock, pause, ready);
            } else {
                wake_.wait(lock, ready);
            }
        }
        // New records are tried at once, whatever pause the older ones keep.
        const bool fresh = first || handed_ != seen;
        const bool force = retry_;
        const bool stopping = stop_;
        retry_ = false;
        seen = handed_;
        std::deque<RecordEntry> heldNow;
        heldNow.swap(memory_);
        busy_ = true;
        lock.unlock();

        // Stopping while the database is out of reach: everything is in the spool already,
        // and the program need not wait for a server that does not answer.
        if (!(stopping && outage_ && !force))
            pass(force, fresh, std::move(heldNow));
        if (stopping) {
            repo_.reset();
            spool_.reset();
        }

        lock.lock();
        tried_ = seen;
        busy_ = false;
        idle_.notify_all();
        if (stopping)
            return;
        first = false;
    }
}

} // namespace dm::records
