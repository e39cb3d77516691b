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

#include <algorithm>
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

// A spooled row that is not a record this program wrote is kept, marked with this, and
// never tried.
constexpr const char* kUnreadable = "not a record this program wrote";
// The first pause after a failed try, and the longest.
constexpr auto kFirstPause = std::chrono::seconds(5);
constexpr auto kLongestPause = std::chrono::seconds(120);

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

namespace {

// Times the spool keeps for itself (when a record went in, when it is tried again) are
// the computer's, whatever clock the records are dated by.
UtcSeconds WallNow() { return QDateTime::currentSecsSinceEpoch(); }

QSqlQuery SpoolQuery(const std::string& connection, const QString& sql, const QVariantList& values,
                     const char* doing) {
    QSqlQuery q(QSqlDatabase::database(Q(connection), false));
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    for (int i = 0; ok && i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!ok || !q.exec())
        throw RecordsError(Kind::WriteFailed, std::string("cannot ") + doing + " the spool: " +
                                                  q.lastError().text().toStdString());
    return q;
}

// Which rows wait for a database.
const QString kForDatabase = QStringLiteral("set_aside IS NULL AND database = ?");

} // namespace

std::filesystem::path DefaultSpoolFile() {
    return std::filesystem::path(DefaultDatabaseUrlText().substr(7)).parent_path() / "records-spool.sqlite";
}

std::string SpoolDatabaseKey(const std::string& urlText) {
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText, nullptr);
    if (!url)
        return "(a malformed database URL)";
    if (url->kind != DatabaseUrl::Kind::Sqlite)
        return url->displayName();
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(url->path, ec);
    return "sqlite:" + (ec ? url->path : absolute.lexically_normal().string());
}

std::chrono::seconds RetryPause(int failures) {
    std::chrono::seconds pause = kFirstPause;
    for (int i = 1; i < failures && pause < kLongestPause; ++i)
        pause *= 2;
    return std::min(pause, std::chrono::seconds(kLongestPause));
}

RecordSpool::RecordSpool(const std::filesystem::path& file)
    : connection_("dm-spool-" + std::to_string(spoolCounter.fetch_add(1))) {
    MakeOwnerOnlyFile(file);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Q(connection_));
    db.setDatabaseName(QString::fromStdString(file.string()));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    std::string why;
    if (!db.open()) {
        why = db.lastError().text().toStdString();
    } else {
        QSqlQuery q(db);
        // A database of another kind (the records themselves, say) is never written into.
        bool other = false, spool = false;
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
            why = q.lastError().text().toStdString();
        while (q.next()) {
            const QString table = q.value(0).toString();
            spool = spool || table == QLatin1String("spool");
            other = other || (table != QLatin1String("spool") && table != QLatin1String("sqlite_sequence"));
        }
        if (why.empty() && other && !spool)
            why = "not a records spool";
        // WAL: the window appending never waits for the recorder reading; FULL: a record
        // is on the disk when append() returns.
        if (why.empty())
            q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        if (why.empty() &&
            (!q.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
             !q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "entry TEXT NOT NULL, set_aside TEXT)"))))
            why = q.lastError().text().toStdString();
        // Columns an older spool lacks. Two programs opening one old spool at once: the
        // second finds the column made.
        std::set<QString> columns;
        if (why.empty() && q.exec(QStringLiteral("PRAGMA table_info(spool)")))
            while (q.next())
                columns.insert(q.value(1).toString());
        for (const auto& [name, type] : {std::pair<const char*, const char*>{"database", "TEXT"},
                                         {"spooled_at", "INTEGER"},
                                         {"attempts", "INTEGER NOT NULL DEFAULT 0"},
                                         {"last_error", "TEXT"},
                                         {"next_try", "INTEGER"},
                                         {"refused_alone", "INTEGER NOT NULL DEFAULT 0"}}) {
            if (!why.empty() || columns.count(QString::fromLatin1(name)))
                continue;
            if (!q.exec(QStringLiteral("ALTER TABLE spool ADD COLUMN %1 %2").arg(QLatin1String(name), QLatin1String(type))) &&
                !q.lastError().text().contains(QStringLiteral("duplicate column")))
                why = q.lastError().text().toStdString();
        }
        // An older version set aside what the database refused three times; nothing is
        // given up now, so those wait again.
        if (why.empty()) {
            q.prepare(QStringLiteral("UPDATE spool SET last_error = set_aside, set_aside = NULL "
                                     "WHERE set_aside IS NOT NULL AND set_aside <> ?"));
            q.addBindValue(QString::fromLatin1(kUnreadable));
            if (!q.exec())
                why = q.lastError().text().toStdString();
        }
    }
    if (!why.empty()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(Q(connection_));
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + why);
    }
}

RecordSpool::~RecordSpool() {
    QSqlDatabase::database(Q(connection_), false).close();
    QSqlDatabase::removeDatabase(Q(connection_));
}

std::int64_t RecordSpool::append(const RecordEntry& entry, const std::string& database, UtcSeconds now) {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("INSERT INTO spool (entry, database, spooled_at) VALUES (?, ?, ?)"),
                             {Q(EntryToJson(entry)), Q(database), static_cast<qlonglong>(now)}, "write");
    return q.lastInsertId().toLongLong();
}

std::vector<SpoolRow> RecordSpool::waitingFor(const std::string& database) {
    QSqlQuery q = SpoolQuery(connection_,
                             QStringLiteral("SELECT id, database, spooled_at, attempts, last_error, next_try, "
                                            "refused_alone FROM spool WHERE ") + kForDatabase +
                                 QStringLiteral(" ORDER BY id"),
                             {Q(database)}, "read");
    std::vector<SpoolRow> rows;
    while (q.next()) {
        SpoolRow r;
        r.row = q.value(0).toLongLong();
        r.database = q.value(1).toString().toStdString();
        r.spooledAt = q.value(2).toLongLong();
        r.attempts = q.value(3).toInt();
        r.lastError = q.value(4).toString().toStdString();
        if (!q.value(5).isNull())
            r.nextTry = q.value(5).toLongLong();
        r.refusedAlone = q.value(6).toInt() != 0;
        rows.push_back(std::move(r));
    }
    return rows;
}

std::optional<RecordEntry> RecordSpool::entry(std::int64_t row) {
    std::string text;
    {
        QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT entry FROM spool WHERE id = ?"),
                                 {static_cast<qlonglong>(row)}, "read");
        if (!q.next())
            return std::nullopt;
        text = q.value(0).toString().toStdString();
    }
    if (std::optional<RecordEntry> entry = EntryFromJson(text))
        return entry;
    SpoolQuery(connection_, QStringLiteral("UPDATE spool SET set_aside = ? WHERE id = ?"),
               {QString::fromLatin1(kUnreadable), static_cast<qlonglong>(row)}, "write");
    return std::nullopt;
}

std::vector<SpoolRow> RecordSpool::all() {
    QSqlQuery q = SpoolQuery(connection_,
                             QStringLiteral("SELECT id, database, spooled_at, attempts, last_error, next_try, "
                                            "refused_alone, entry, set_aside FROM spool ORDER BY id"),
                             {}, "read");
    std::vector<SpoolRow> rows;
    while (q.next()) {
        SpoolRow r;
        r.row = q.value(0).toLongLong();
        r.database = q.value(1).toString().toStdString();
        r.spooledAt = q.value(2).toLongLong();
        r.attempts = q.value(3).toInt();
        r.lastError = q.value(4).toString().toStdString();
        if (!q.value(5).isNull())
            r.nextTry = q.value(5).toLongLong();
        r.refusedAlone = q.value(6).toInt() != 0;
        r.entry = EntryFromJson(q.value(7).toString().toStdString());
        if (!r.entry) {
            r.lastError = kUnreadable;
            r.nextTry.reset();
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

void RecordSpool::remove(std::int64_t row) {
    SpoolQuery(connection_, QStringLiteral("DELETE FROM spool WHERE id = ?"), {static_cast<qlonglong>(row)}, "write");
}

void RecordSpool::failed(std::int64_t row, const std::string& why, UtcSeconds nextTry, bool alone) {
    SpoolQuery(connection_,
               QStringLiteral("UPDATE spool SET attempts = attempts + 1, last_error = ?, next_try = ?, "
                              "refused_alone = ? WHERE id = ?"),
               {Q(why), static_cast<qlonglong>(nextTry), alone ? 1 : 0, static_cast<qlonglong>(row)}, "write");
}

void RecordSpool::failedAll(const std::string& database, const std::string& why, UtcSeconds nextTry,
                            std::int64_t except) {
    SpoolQuery(connection_,
               QStringLiteral("UPDATE spool SET attempts = attempts + 1, last_error = ?, next_try = ? "
                              "WHERE refused_alone = 0 AND id <> ? AND ") + kForDatabase,
               {Q(why), static_cast<qlonglong>(nextTry), static_cast<qlonglong>(except), Q(database)}, "write");
}

void RecordSpool::claimUnnamed(const std::string& database) {
    SpoolQuery(connection_, QStringLiteral("UPDATE spool SET database = ? WHERE database IS NULL"), {Q(database)},
               "write");
}

std::int64_t RecordSpool::count(const std::string& database) {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT COUNT(*) FROM spool WHERE ") + kForDatabase,
                             {Q(database)}, "read");
    return q.next() ? q.value(0).toLongLong() : 0;
}

std::int64_t RecordSpool::count() {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT COUNT(*) FROM spool WHERE set_aside IS NULL"), {},
                             "read");
    return q.next() ? q.value(0).toLongLong() : 0;
}

std::optional<UtcSeconds> RecordSpool::earliestTry(const std::string& database) {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT MIN(next_try) FROM spool WHERE ") + kForDatabase,
                             {Q(database)}, "read");
    if (!q.next() || q.value(0).isNull())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool StoreEntry(RecordsRepository& repo, const RecordEntry& entry) {
    return std::visit(
        [&repo](const auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, ReadoutInput>)
                return repo.addReadout(e).isNew;
            else if constexpr (std::is_same_v<T, HistoryDownloadInput>)
                return repo.addHistoryDownload(e).isNew;
            else if constexpr (std::is_same_v<T, EraseInput>)
                return repo.addErase(e).isNew;
            else
                return repo.addChanges(e).isNew;
        },
        entry);
}

SpoolPass SendSpooled(RecordSpool& spool, const std::string& database, bool force, bool tryAll, UtcSeconds now,
                      const std::function<bool(const RecordEntry&)>& store) {
    SpoolPass pass;
    int refusedInARow = 0;
    for (const SpoolRow& row : spool.waitingFor(database)) {
        const bool due = force || !row.nextTry || *row.nextTry <= now || (tryAll && !row.refusedAlone);
        if (!due)
            continue;
        const std::optional<RecordEntry> entry = spool.entry(row.row);
        if (!entry)
            continue; // gone meanwhile (another program sent it), or not a record
        try {
            store(*entry);
        } catch (const RecordsError& e) {
            pass.error = e.what();
            const bool whole = e.kind() == Kind::CannotOpen || e.kind() == Kind::BadUrl ||
                               e.kind() == Kind::Unsafe || e.kind() == Kind::NotADatabase ||
                               e.kind() == Kind::NewerSchema;
            const UtcSeconds next = now + RetryPause(row.attempts + 1).count();
            if (!whole && ++refusedInARow < 2) {
                spool.failed(row.row, pass.error, next, true);
                continue;
            }
            // The database as a whole does not take records now (out of reach, read-only,
            // its disk full): everything waits, told why.
            pass.unreachable = true;
            spool.failed(row.row, pass.error, next, false);
            spool.failedAll(database, pass.error, next, row.row);
            break;
        }
        refusedInARow = 0;
        spool.remove(row.row);
        ++pass.stored;
    }
    return pass;
}

// ------------------------------------------------------------------ the recorder: handing side

StationRecorder::StationRecorder(std::string urlText, std::filesystem::path spoolFile, Origin origin, Clock clock)
    : urlText_(std::move(urlText)), key_(SpoolDatabaseKey(urlText_)), spoolFile_(std::move(spoolFile)),
      origin_(std::move(origin)),
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
    handSpool_.reset();
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

void StationRecorder::setStored(std::function<void()> stored) {
    std::lock_guard<std::mutex> lock(mutex_);
    stored_ = std::move(stored);
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

// Puts the record on the disk before the caller goes on (and lets a reply file go); only
// when the spool cannot be written does it wait in memory, which the status log says.
void StationRecorder::hand(RecordEntry entry) {
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

void StationRecorder::postPendingChanges(const ParameterSet* renewed) {
    if (!pendingChanges_)
        return;
    ChangesInput changes = std::move(*pendingChanges_);
    pendingChanges_.reset();
    if (renewed && renewed->serialNumber() == changes.serial)
        for (ChangeSent& c : changes.changes)
            c.taken = SameValue(c.after, renewed->raw(c.key));
    hand(std::move(changes));
}

void StationRecorder::parametersArrived(const std::string& reply) {
    const ParameterSet set = ReadParameterSet(reply);
    postPendingChanges(&set);
    if (set.empty())
        return;
    std::optional<ReadoutInput> readout = ReadoutFromParameters(set, 0, origin_);
    if (!readout) {
        say(Tr(IDS_REC_NO_SERIAL, language_));
        return;
    }
    if (last_ && last_->serial != readout->serial)
        lastReadoutAt_ = lastDownloadAt_ = lastEraseAt_ = lastChangesAt_ = 0;
    // The real time: readouts in one second are told apart by their content.
    readout->at = clock_();
    last_ = LastReadout{readout->serial, readout->totalDose, readout->parameters};
    hand(std::move(*readout));
}

void StationRecorder::archiveArrived(const std::string& reply, double interval) {
    if (!last_) {
        say(Tr(IDS_REC_UNKNOWN_HISTORY, language_));
        return;
    }
    hand(DownloadFromArchive(reply, interval, last_->serial, nextTime(lastDownloadAt_), origin_));
}

void StationRecorder::erasePushed() {
    postPendingChanges(nullptr);
    if (!last_) {
        say(Tr(IDS_REC_UNKNOWN_ERASE, language_));
        return;
    }
    EraseInput erase;
    erase.serial = last_->serial;
    erase.at = nextTime(lastEraseAt_);
    erase.origin = origin_;
    erase.totalDoseBefore = last_->totalDose;
    hand(std::move(erase));
}
void StationRecorder::changesSent(const std::vector<std::string>& commandFiles) {
    postPendingChanges(nullptr);
    if (!last_) {
        say(Tr(IDS_REC_UNKNOWN_CHANGES, language_));
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
    const std::uint64_t handed = handed_;
    idle_.wait(lock, [this, handed] { return tried_ >= handed && !busy_ && !retry_; });
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
    const ReadoutTold told = check(*repo_, readout, language_);
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

void StationRecorder::openDatabase() {
    repo_ = RecordsRepository::open(urlText_);
    if (repo_->url().kind == DatabaseUrl::Kind::Sqlite)
        if (const auto exposed = ExposureNotTold(repo_->url().path, "the records database"))
            say(*exposed);
}

bool StationRecorder::store(const RecordEntry& entry) {
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

std::int64_t StationRecorder::countWaiting() {
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
void StationRecorder::pass(bool force, bool fresh, std::deque<RecordEntry> heldNow) {
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
        // Under the lock, so whoever clears it knows it is no longer called.
        std::lock_guard<std::mutex> lock(mutex_);
        if (stored_)
            stored_();
    }
}

void StationRecorder::run() {
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
