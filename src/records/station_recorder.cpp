#include "records/station_recorder.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "records/private_files.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <set>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

// A spooled row the database keeps refusing while it is reachable is set aside after
// this many tries, so one bad record never holds back the ones behind it.
constexpr int kRefusalsBeforeSetAside = 3;
// While records wait, the database is tried again this often (and at every new record).
constexpr auto kRetryInterval = std::chrono::seconds(30);

std::atomic<int> spoolCounter{0};

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

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QJsonValue& v) { return v.toString().toStdString(); }

QJsonValue OptionalNumber(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(); }
std::optional<double> OptionalNumber(const QJsonValue& v) {
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

void PutOrigin(QJsonObject& o, const std::string& serial, UtcSeconds at, const Origin& origin) {
    o["serial"] = Q(serial);
    o["at"] = static_cast<qint64>(at);
    o["station"] = Q(origin.station);
    o["operator"] = Q(origin.operatorName);
}
template <typename T>
void GetOrigin(const QJsonObject& o, T& input) {
    input.serial = S(o["serial"]);
    input.at = o["at"].toInteger();
    input.origin.station = S(o["station"]);
    input.origin.operatorName = S(o["operator"]);
}

std::string Trimmed(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<double> Number(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    return ParseNumberText(text); // the window runs under the user's locale
}

// The dosimeter took a value when its next reply shows it, written as it likes.
bool SameValue(const std::string& sent, const std::optional<std::string>& shown) {
    if (!shown)
        return false;
    const std::string a = Trimmed(sent), b = Trimmed(*shown);
    if (a == b)
        return true;
    const auto x = Number(a), y = Number(b);
    return x && y && *x == *y;
}


void MakeOwnerOnlyFile(const std::filesystem::path& file) {
    // Each folder made 0700, whatever the umask.
    if (std::string error; !CreatePrivateFolders(file.parent_path(), &error))
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + error);
#ifndef _WIN32
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
#endif
}

} // namespace

// ------------------------------------------------------------------ entries as text

std::string EntryToJson(const RecordEntry& entry) {
    QJsonObject o;
    if (const auto* r = std::get_if<ReadoutInput>(&entry)) {
        o["kind"] = "readout";
        PutOrigin(o, r->serial, r->at, r->origin);
        o["model"] = Q(r->model);
        o["total_dose"] = OptionalNumber(r->totalDose);
        QJsonArray params;
        for (const StoredParameter& p : r->parameters)
            params.append(QJsonArray{Q(p.key), Q(p.raw)});
        o["parameters"] = params;
    } else if (const auto* d = std::get_if<HistoryDownloadInput>(&entry)) {
        o["kind"] = "download";
        PutOrigin(o, d->serial, d->at, d->origin);
        o["interval"] = d->interval;
        o["layout"] = QString(QChar(d->layout));
        QJsonArray records;
        for (const ArchiveRecord& a : d->records)
            records.append(QJsonObject{{"neutron", a.section == ArchiveRecord::Section::Neutron},
                                       {"number", a.number},
                                       {"seconds", a.seconds ? QJsonValue(static_cast<qint64>(*a.seconds))
                                                             : QJsonValue()},
                                       {"text", Q(a.doseText)},
                                       {"dose", a.dose},
                                       {"coefficient", Q(a.coefficient)}});
        o["records"] = records;
    } else if (const auto* e = std::get_if<EraseInput>(&entry)) {
        o["kind"] = "erase";
        PutOrigin(o, e->serial, e->at, e->origin);
        o["total_dose"] = OptionalNumber(e->totalDoseBefore);
    } else if (const auto* c = std::get_if<ChangesInput>(&entry)) {
        o["kind"] = "changes";
        PutOrigin(o, c->serial, c->at, c->origin);
        QJsonArray changes;
        for (const ChangeSent& ch : c->changes)
            changes.append(QJsonObject{
                {"key", Q(ch.key)}, {"before", Q(ch.before)}, {"after", Q(ch.after)}, {"taken", ch.taken}});
        o["changes"] = changes;
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<RecordEntry> EntryFromJson(const std::string& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QString kind = o["kind"].toString();
    if (o["serial"].toString().isEmpty())
        return std::nullopt;
    if (kind == "readout") {
        ReadoutInput r;
        GetOrigin(o, r);
        r.model = S(o["model"]);
        r.totalDose = OptionalNumber(o["total_dose"]);
        for (const QJsonValue& p : o["parameters"].toArray())
            r.parameters.push_back({S(p.toArray().at(0)), S(p.toArray().at(1))});
        return r;
    }
    if (kind == "download") {
        HistoryDownloadInput d;
        GetOrigin(o, d);
        d.interval = o["interval"].toDouble(1.0);
        d.layout = o["layout"].toString() == "A" ? 'A' : 'B';
        for (const QJsonValue& v : o["records"].toArray()) {
            const QJsonObject a = v.toObject();
            ArchiveRecord rec;
            rec.section = a["neutron"].toBool() ? ArchiveRecord::Section::Neutron : ArchiveRecord::Section::Gamma;
            rec.number = a["number"].toInt();
            if (!a["seconds"].isNull())
                rec.seconds = a["seconds"].toInteger();
            rec.doseText = S(a["text"]);
            rec.dose = a["dose"].toDouble();
            rec.coefficient = S(a["coefficient"]);
            d.records.push_back(std::move(rec));
        }
        return d;
    }
    if (kind == "erase") {
        EraseInput e;
        GetOrigin(o, e);
        e.totalDoseBefore = OptionalNumber(o["total_dose"]);
        return e;
    }
    if (kind == "changes") {
        ChangesInput c;
        GetOrigin(o, c);
        for (const QJsonValue& v : o["changes"].toArray()) {
            const QJsonObject ch = v.toObject();
            c.changes.push_back({S(ch["key"]), S(ch["before"]), S(ch["after"]), ch["taken"].toBool()});
        }
        return c;
    }
    return std::nullopt;
}

// ------------------------------------------------------------------ the spool

RecordSpool::RecordSpool(const std::filesystem::path& file)
    : connection_("dm-spool-" + std::to_string(spoolCounter.fetch_add(1))) {
    MakeOwnerOnlyFile(file);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Q(connection_));
    db.setDatabaseName(QString::fromStdString(file.string()));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    QSqlQuery q(db);
    if (!db.open() || !q.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
        !q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                               "entry TEXT NOT NULL, set_aside TEXT)"))) {
        const std::string why = (db.isOpen() ? q.lastError() : db.lastError()).text().toStdString();
        q = QSqlQuery();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(Q(connection_));
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + why);
    }
}

RecordSpool::~RecordSpool() {
    QSqlDatabase::database(Q(connection_), false).close();
    QSqlDatabase::removeDatabase(Q(connection_));
}

void RecordSpool::append(const RecordEntry& entry) {
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    q.prepare(QStringLiteral("INSERT INTO spool (entry) VALUES (?)"));
    q.addBindValue(Q(EntryToJson(entry)));
    if (!q.exec())
        throw RecordsError(Kind::WriteFailed, "cannot write the spool: " + q.lastError().text().toStdString());
}

std::optional<std::pair<std::int64_t, RecordEntry>> RecordSpool::front() {
    for (;;) {
        QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
        if (!q.exec(QStringLiteral("SELECT id, entry FROM spool WHERE set_aside IS NULL ORDER BY id LIMIT 1")))
            throw RecordsError(Kind::WriteFailed, "cannot read the spool: " + q.lastError().text().toStdString());
        if (!q.next())
            return std::nullopt;
        const std::int64_t row = q.value(0).toLongLong();
        if (std::optional<RecordEntry> entry = EntryFromJson(q.value(1).toString().toStdString()))
            return std::make_pair(row, std::move(*entry));
        q.finish();
        setAside(row, "not a record this program wrote");
    }
}

void RecordSpool::remove(std::int64_t row) {
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    q.prepare(QStringLiteral("DELETE FROM spool WHERE id = ?"));
    q.addBindValue(static_cast<qlonglong>(row));
    if (!q.exec())
        throw RecordsError(Kind::WriteFailed, "cannot write the spool: " + q.lastError().text().toStdString());
}

void RecordSpool::setAside(std::int64_t row, const std::string& reason) {
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    q.prepare(QStringLiteral("UPDATE spool SET set_aside = ? WHERE id = ?"));
    q.addBindValue(Q(reason.empty() ? std::string("refused") : reason));
    q.addBindValue(static_cast<qlonglong>(row));
    if (!q.exec())
        throw RecordsError(Kind::WriteFailed, "cannot write the spool: " + q.lastError().text().toStdString());
}

std::int64_t RecordSpool::count() {
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM spool WHERE set_aside IS NULL")) || !q.next())
        throw RecordsError(Kind::WriteFailed, "cannot read the spool: " + q.lastError().text().toStdString());
    return q.value(0).toLongLong();
}

// ------------------------------------------------------------------ the recorder: window side

StationRecorder::StationRecorder(std::string urlText, std::filesystem::path spoolFile, Origin origin, Clock clock)
    : urlText_(std::move(urlText)), spoolFile_(std::move(spoolFile)), origin_(std::move(origin)),
      clock_(clock ? std::move(clock) : Clock([] { return QDateTime::currentSecsSinceEpoch(); })) {
    std::string error;
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText_, &error);
    display_ = url ? url->displayName() : "(" + error + ")";
    thread_ = std::thread([this] { run(); });
}

StationRecorder::~StationRecorder() {
    postPendingChanges(nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StationRecorder::setNotify(Notify notify) {
    std::lock_guard<std::mutex> lock(mutex_);
    notify_ = std::move(notify);
    if (notify_)
        for (const std::string& text : unsaid_)
            notify_(text);
    unsaid_.clear();
}

void StationRecorder::setReadoutCheck(ReadoutCheck check) {
    std::lock_guard<std::mutex> lock(mutex_);
    readoutCheck_ = std::move(check);
}

void StationRecorder::setAlert(Notify alert) {
    std::lock_guard<std::mutex> lock(mutex_);
    alert_ = std::move(alert);
}

void StationRecorder::say(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (notify_)
        notify_(text);
    else if (unsaid_.size() < 20)
        unsaid_.push_back(text); // said before anyone listens: the spool left from a last run
}

// The database keys events by dosimeter and second: a second event of the same kind
// within one second goes one second later, so it is not taken for a repeat and dropped.
UtcSeconds StationRecorder::nextTime(UtcSeconds& last) {
    UtcSeconds now = clock_();
    if (now <= last)
        now = last + 1;
    last = now;
    return now;
}

void StationRecorder::post(RecordEntry entry) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(entry));
    }
    wake_.notify_all();
}

void StationRecorder::postPendingChanges(const ParameterSet* renewed) {
    if (!pendingChanges_)
        return;
    ChangesInput changes = std::move(*pendingChanges_);
    pendingChanges_.reset();
    if (renewed && renewed->serialNumber() == changes.serial)
        for (ChangeSent& c : changes.changes)
            c.taken = SameValue(c.after, renewed->raw(c.key));
    post(std::move(changes));
}

void StationRecorder::parametersArrived(const std::string& reply) {
    const ParameterSet set = ReadParameterSet(reply);
    postPendingChanges(&set);
    if (set.empty())
        return;
    std::optional<ReadoutInput> readout = ReadoutFromParameters(set, 0, origin_);
    if (!readout) {
        say(Tr(IDS_REC_NO_SERIAL, langBase_));
        return;
    }
    if (last_ && last_->serial != readout->serial)
        lastReadoutAt_ = lastDownloadAt_ = lastEraseAt_ = lastChangesAt_ = 0;
    // The real time: readouts in one second are told apart by their content.
    readout->at = clock_();
    last_ = LastReadout{readout->serial, readout->totalDose, readout->parameters};
    post(std::move(*readout));
}

void StationRecorder::archiveArrived(const std::string& reply, double interval) {
    if (!last_) {
        say(Tr(IDS_REC_UNKNOWN_HISTORY, langBase_));
        return;
    }
    post(DownloadFromArchive(reply, interval, last_->serial, nextTime(lastDownloadAt_), origin_));
}

void StationRecorder::erasePushed() {
    postPendingChanges(nullptr);
    if (!last_) {
        say(Tr(IDS_REC_UNKNOWN_ERASE, langBase_));
        return;
    }
    EraseInput erase;
    erase.serial = last_->serial;
    erase.at = nextTime(lastEraseAt_);
    erase.origin = origin_;
    erase.totalDoseBefore = last_->totalDose;
    post(std::move(erase));
}

void StationRecorder::changesSent(const std::vector<std::string>& commandFiles) {
    postPendingChanges(nullptr);
    if (!last_) {
        say(Tr(IDS_REC_UNKNOWN_CHANGES, langBase_));
        return;
    }
    ChangesInput changes;
    changes.serial = last_->serial;
    changes.at = nextTime(lastChangesAt_);
    changes.origin = origin_;
    for (const std::string& file : commandFiles) {
        const std::string text = Cp1251ToUtf8(file);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            start = end + 1;
            const std::size_t eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            std::string key = Trimmed(line.substr(0, eq));
            std::string value = Trimmed(line.substr(eq + 1));
            while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
                value.pop_back();
            if (key.empty() || key == "get_parameters")
                continue; // the request for the renewed parameters, not a change
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            std::string before;
            for (const StoredParameter& p : last_->parameters)
                if (p.key == key) {
                    before = p.raw;
                    break;
                }
            changes.changes.push_back({std::move(key), std::move(before), std::move(value), false});
        }
    }
    pendingChanges_ = std::move(changes);
}

void StationRecorder::dosimeterGone() {
    postPendingChanges(nullptr);
    last_.reset();
}

void StationRecorder::retryNow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        retry_ = true;
    }
    wake_.notify_all();
}

void StationRecorder::waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_ && !retry_; });
}

std::int64_t StationRecorder::waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
}

// ------------------------------------------------------------------ the recorder's thread

void StationRecorder::checkReadout(const ReadoutInput& readout) {
    ReadoutCheck check;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        check = readoutCheck_;
    }
    if (!check)
        return;
    // Looked at without the lock: the window must never wait for these reads.
    const ReadoutTold told = check(*repo_, readout, langBase_);
    for (const std::string& text : told.notes)
        say(text);
    for (const std::string& text : told.alerts) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (alert_)
            alert_(text);
        else if (notify_)
            notify_(text);
    }
}

void StationRecorder::store(const RecordEntry& entry) {
    bool fresh = false;
    if (!repo_) {
        repo_ = RecordsRepository::open(urlText_);
        if (repo_->url().kind == DatabaseUrl::Kind::Sqlite)
            if (const auto exposed = ExposureNotTold(repo_->url().path, "the records database"))
                say(*exposed);
        fresh = true;
    }
    for (;;) {
        try {
            std::visit(
                [this](const auto& e) {
                    using T = std::decay_t<decltype(e)>;
                    if constexpr (std::is_same_v<T, ReadoutInput>) {
                        if (repo_->addReadout(e).isNew)
                            checkReadout(e);
                    }
                    else if constexpr (std::is_same_v<T, HistoryDownloadInput>)
                        repo_->addHistoryDownload(e);
                    else if constexpr (std::is_same_v<T, EraseInput>)
                        repo_->addErase(e);
                    else
                        repo_->addChanges(e);
                },
                entry);
            return;
        } catch (const RecordsError&) {
            // A connection from before an outage fails once; a new one tells.
            repo_.reset();
            if (fresh)
                throw;
            repo_ = RecordsRepository::open(urlText_);
            if (repo_->url().kind == DatabaseUrl::Kind::Sqlite)
                if (const auto exposed = ExposureNotTold(repo_->url().path, "the records database"))
                    say(*exposed);
            fresh = true;
        }
    }
}

// Keeps an entry the database did not take: in the spool, else in memory.
void StationRecorder::keep(RecordEntry entry) {
    if (!spoolBroken_ && held_.empty()) {
        try {
            if (!spool_) {
                spool_ = std::make_unique<RecordSpool>(spoolFile_);
                if (const auto exposed = ExposureNotTold(spoolFile_, "the records spool"))
                    say(*exposed);
            }
            spool_->append(entry);
            return;
        } catch (const RecordsError& e) {
            spoolBroken_ = true;
            say(FillIn(Tr(IDS_REC_HELD_IN_MEMORY, langBase_), {e.what()}));
        }
    }
    held_.push_back(std::move(entry));
}

void StationRecorder::tellOutage(const RecordsError& e) {
    if (!outageTold_)
        say(FillIn(Tr(IDS_REC_CANNOT_WRITE, langBase_), {e.what(), spoolFile_.string()}));
    outageTold_ = true;
}

// Sends what waits, oldest first; false when the database is still out of reach.
bool StationRecorder::writeBacklog() {
    if (!spool_ && !spoolBroken_ && std::filesystem::exists(spoolFile_)) {
        try {
            spool_ = std::make_unique<RecordSpool>(spoolFile_);
            if (const auto exposed = ExposureNotTold(spoolFile_, "the records spool"))
                say(*exposed);
        } catch (const RecordsError& e) {
            spoolBroken_ = true;
            say(e.what());
        }
    }
    try {
        while (spool_) {
            std::optional<std::pair<std::int64_t, RecordEntry>> next = spool_->front();
            if (!next)
                break;
            try {
                store(next->second);
            } catch (const RecordsError& e) {
                if (e.kind() != Kind::UnknownSerial && e.kind() != Kind::WriteFailed)
                    throw;
                if (e.kind() == Kind::WriteFailed && ++refusals_[next->first] < kRefusalsBeforeSetAside)
                    throw;
                spool_->setAside(next->first, e.what());
                say(FillIn(Tr(IDS_REC_SET_ASIDE, langBase_), {e.what()}));
                continue;
            }
            refusals_.erase(next->first);
            spool_->remove(next->first);
        }
        while (!held_.empty()) {
            store(held_.front());
            held_.pop_front();
        }
    } catch (const RecordsError& e) {
        tellOutage(e);
        return false;
    }
    return true;
}

void StationRecorder::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    bool first = true;
    for (;;) {
        if (!first) {
            const auto ready = [this] { return stop_ || retry_ || !queue_.empty(); };
            if (waiting_ > 0)
                wake_.wait_for(lock, kRetryInterval, ready);
            else
                wake_.wait(lock, ready);
        }
        first = false;
        std::deque<RecordEntry> batch;
        batch.swap(queue_);
        busy_ = true;
        retry_ = false;
        const bool stopping = stop_;
        const std::int64_t before = waiting_;
        lock.unlock();

        bool up = writeBacklog();
        for (RecordEntry& entry : batch) {
            if (up) {
                try {
                    store(entry);
                    continue;
                } catch (const RecordsError& e) {
                    up = false;
                    tellOutage(e);
                }
            }
            keep(std::move(entry));
        }
        std::int64_t now = static_cast<std::int64_t>(held_.size());
        if (spool_) {
            try {
                now += spool_->count();
            } catch (const RecordsError&) {
            }
        }
        if (up && outageTold_) {
            outageTold_ = false;
            say(FillIn(Tr(IDS_REC_BACK, langBase_), {display_}));
        } else if (now > 0 && (now != before || !batch.empty())) {
            say(FillIn(Tr(now == 1 ? IDS_REC_ONE_WAITS : IDS_REC_WAIT, langBase_), {std::to_string(now)}));
        }
        if (stopping) {
            repo_.reset();
            spool_.reset();
        }

        lock.lock();
        waiting_ = now;
        busy_ = false;
        idle_.notify_all();
        if (stopping && queue_.empty())
            return;
    }
}

} // namespace dm::records
