#pragma once
// The status log under the tables: a drop-down whose field shows the newest entry and whose
// list holds the earlier ones, newest first. It keeps the last kMaxEntries entries only: a
// window that runs for days would otherwise grow without end, and the full history of the
// exchanges is in the records database.
#include <QComboBox>

namespace dm {

class StatusLog : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kMaxEntries = 1000;

    explicit StatusLog(QWidget* parent = nullptr);

    // The entry on top, shown in the field; the oldest beyond kMaxEntries goes.
    void addEntry(const QString& text);

    // The list as wide as its longest entry needs, but never wider than the screen, and
    // moved back inside the screen where it would reach past an edge.
    void showPopup() override;
};

} // namespace dm
