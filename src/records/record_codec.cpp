#include "records/record_codec.h"

#include "qt/qt_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace dm::records {
namespace {

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

} // namespace

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

} // namespace dm::records
