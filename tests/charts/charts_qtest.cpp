#include <QTest>
class ChartsTest : public QObject { Q_OBJECT };
QTEST_MAIN(ChartsTest)
#include "charts_qtest.moc"
