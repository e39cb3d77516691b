// The status log keeps the newest thousand entries, each whole in its tool tip, and its
// list never reaches past the screen.
#include "app/status_log.h"

#include <QAbstractItemView>
#include <QScreen>
#include <QtTest>

class StatusLogTest : public QObject {
    Q_OBJECT
private slots:
    void boundedNewestFirstAndWholeInTheTips() {
        dm::StatusLog log;
        log.resize(200, log.sizeHint().height());
        const int added = dm::StatusLog::kMaxEntries + 50;
        for (int i = 1; i <= added; ++i)
            log.addEntry(QString("entry %1").arg(i));
        QCOMPARE(log.count(), dm::StatusLog::kMaxEntries);
        QCOMPARE(log.itemText(0), QString("entry %1").arg(added));
        QCOMPARE(log.itemText(log.count() - 1), QString("entry 51"));

        const QString reason = "12:00:00  Not sent, correct the value: Owner: \"" + QString(300, 'W') +
                               "\" - at most 100 characters";
        log.addEntry(reason);
        QCOMPARE(log.toolTip(), reason);
        QCOMPARE(log.itemData(0, Qt::ToolTipRole).toString(), reason);

        log.move(log.screen()->availableGeometry().right() - 150, 100);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        log.showPopup();
        const QRect screen = log.screen()->availableGeometry();
        const QRect popup = log.view()->window()->geometry();
        QVERIFY(popup.width() > log.width()); // wider than the field for the long entry
        QVERIFY2(screen.contains(popup), qPrintable(QString("%1,%2 %3x%4 in %5x%6").arg(popup.x()).arg(popup.y()).arg(popup.width()).arg(popup.height()).arg(screen.width()).arg(screen.height())));
        log.hidePopup();
    }
};

QTEST_MAIN(StatusLogTest)
#include "status_log_test.moc"
