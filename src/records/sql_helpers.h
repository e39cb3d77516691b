#pragma once
// Small pieces every records query uses: text to and from Qt, and a prepared statement
// run with bound values (values are never spliced into SQL).
#include "records/call_watch.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <string>

namespace dm::records::sql {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QVariant& v) { return v.toString().toStdString(); }

// Throws the driver's QSqlError when the statement cannot be prepared or run.
inline QSqlQuery Exec(QSqlDatabase& db, const QString& sql, const QVariantList& values = {}) {
    StatementStarts(db); // a statement may take up to the time-out again
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw q.lastError();
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw q.lastError();
    return q;
}

} // namespace dm::records::sql
