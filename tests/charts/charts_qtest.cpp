// The chart as pixels, the chart control's repaints and scroll bar, and the diagram
// window's controls.
#include "charts/chart_data.h"
#include "charts/chart_render.h"
#include "charts/diagram_window.h"
#include "core/string_table.h"
#include "archive_reply.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace dm;

namespace {

constexpr int W = 775, H = 489;

QRgb Pixel(int r, int g, int b) { return qRgb(r, g, b); }

std::unique_ptr<ChartModel> MakeChart(ChartDiagram diagram, bool neutron = false) {
    auto chart = std::make_unique<ChartModel>(Language::English);
    chart->setClientSize(W, H);
    chart->setReadoutCharWidth(ChartFontCharWidth());
    chart->setZoom(100 / 110.0);
    chart->setDiagram(diagram, neutron);
    chart->setHistory({.step = 1, .depth = 1});
    return chart;
}

// Ten doses growing by 1 mkSv a minute, and three neutron records on a 400 s axis.
void TenDoses(ChartModel& chart) {
    ChartHistory history{.step = 60};
    for (int i = 0; i < 10; ++i)
        history.doses.push_back((i + 1) * 1e-6);
    chart.setHistory(history);
}
void ThreeNeutrons(ChartModel& chart) {
    chart.setHistory({.model = dm::Model::Krt17a,
                      .step = 1,
                      .depth = 400,
                      .neutron = {{1e-5, 100}, {2e-5, 200}, {3e-5, 300}}});
}

bool ColumnHas(const QImage& image, int x, int fromY, int toY, QRgb colour) {
    for (int y = fromY; y <= toY; ++y)
        if (image.pixel(x, y) == colour)
            return true;
    return false;
}

class FakeSaveDialogs : public ChartSaveDialogs {
public:
    std::optional<std::string> askPngFileName() override { return answer; }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> answer;
    std::vector<std::string> messages;
};

void Move(QWidget* widget, QPoint at) {
    QMouseEvent event(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class ChartsTest : public QObject {
    Q_OBJECT
private slots:
    void backgroundAxesAndTicks();
    void barAndLineColours();
    void readoutBoxPixelsAndFlip();
    void partialRepaintGivesTheSamePicture();
    void scrollBarDrivesTheOffset();
    void windowForNeutronModel();
    void windowForGammaModelAndLongHistory();
    void scaleBoxArrowsAndFit();
    void readoutFollowsTheDiagramAndLeavesWithTheCursor();
    void savesTheChartAsPng();
    void commandLineWritesThePicture();
    void commandLineRejectsBadInput();
};

void ChartsTest::backgroundAxesAndTicks() {
    auto chart = MakeChart(ChartDiagram::Increments);
    const QImage image = RenderChartImage(*chart);
    QCOMPARE(image.size(), QSize(W, H));
    // Axes with their shadow left of and below them.
    QCOMPARE(image.pixel(110, 440), Pixel(10, 10, 10));
    QCOMPARE(image.pixel(109, 440), Pixel(170, 170, 170));
    QCOMPARE(image.pixel(400, H - 40), Pixel(10, 10, 10));
    QCOMPARE(image.pixel(400, H - 39), Pixel(170, 170, 170));
    // Gradient bands of five rows, light blue at the top to white at the bottom; the last
    // row below the last band keeps the face colour.
    for (int y : {0, 100, 250}) {
        const int band = (y + 2) / 5 * 5;
        QCOMPARE(image.pixel(600, y), Pixel(100 + band * 155 / H, 170 + band * 85 / H, 255));
    }
    QCOMPARE(image.pixel(600, 103), Pixel(100 + 105 * 155 / H, 170 + 105 * 85 / H, 255));
    QCOMPARE(image.pixel(600, H - 1), Pixel(236, 233, 216));
    // Six time labels from the depth, each with its tick; none at the origin.
    const int spacing = (W - 165) / 6;
    for (int k = 1; k <= 6; ++k)
        QCOMPARE(image.pixel(110 + k * spacing, H - 42), Pixel(0, 0, 0));
    QVERIFY(ColumnHas(image, 110 + spacing - 20, H - 35, H - 20, Pixel(240, 240, 240)));
}

void ChartsTest::barAndLineColours() {
    auto chart = MakeChart(ChartDiagram::Increments);
    TenDoses(*chart);
    QImage image = RenderChartImage(*chart);
    const QRgb green = Pixel(0, 100, 0);
    for (int x = 170; x < 174; ++x) {
        QCOMPARE(image.pixel(x, 300), green);
        QCOMPARE(image.pixel(x, H - 40), green); // the bar stands on the axis line
    }
    QVERIFY(image.pixel(174, 300) != green);
    QVERIFY(image.pixel(169, 300) != green);
    QCOMPARE(image.pixel(715, 300), green); // the last bar

    chart->setDiagram(ChartDiagram::Dose);
    image = RenderChartImage(*chart);
    // Halfway between the first two points (170, 407) and (230, 364).
    QVERIFY(ColumnHas(image, 200, 380, 392, green));
    QVERIFY(!ColumnHas(image, 200, 0, 370, green));
    QVERIFY(!ColumnHas(image, 200, 400, H - 1, green));
    QVERIFY(!ColumnHas(image, 740, 0, H - 1, green)); // the line ends at the last record

    auto neutron = MakeChart(ChartDiagram::Dose, true);
    ThreeNeutrons(*neutron);
    image = RenderChartImage(*neutron);
    QCOMPARE(image.pixel(300, 306), Pixel(0, 0, 255));
    QCOMPARE(image.pixel(700, 20), Pixel(0, 0, 255)); // the last level runs on to the axis end
    neutron->setDiagram(ChartDiagram::Increments, true);
    image = RenderChartImage(*neutron);
    QCOMPARE(image.pixel(262, 400), Pixel(90, 90, 255));
}

void ChartsTest::readoutBoxPixelsAndFlip() {
    auto chart = MakeChart(ChartDiagram::Dose);
    TenDoses(*chart);
    RenderChartImage(*chart);
    chart->mouseMove(300, 100);
    QImage image = RenderChartImage(*chart);
    const ChartRect box = chart->readoutRect();
    QCOMPARE(box.left, 300);
    QCOMPARE(box.bottom, 140); // two lines
    QCOMPARE(image.pixel(300, 110), Pixel(0, 0, 0));
    QCOMPARE(image.pixel(box.right - 1, 110), Pixel(0, 0, 0));
    QCOMPARE(image.pixel(box.right - 3, box.bottom - 3), Pixel(255, 255, 175));
    // The text fits inside the box.
    for (int y = box.top + 1; y < box.bottom - 1; ++y)
        QVERIFY(image.pixel(box.right, y) != Pixel(0, 0, 0) || y == box.top);

    chart->mouseMove(740, 100);
    image = RenderChartImage(*chart);
    QCOMPARE(chart->readoutRect().right, 740);
    QCOMPARE(image.pixel(739, 110), Pixel(0, 0, 0));
    QCOMPARE(image.pixel(chart->readoutRect().left, 110), Pixel(0, 0, 0));

    // Below the time axis no box is drawn.
    chart->mouseMove(300, H - 20);
    image = RenderChartImage(*chart);
    QVERIFY(!ColumnHas(image, 302, H - 20, H - 1, Pixel(255, 255, 175)));
}

void ChartsTest::partialRepaintGivesTheSamePicture() {
    ChartView control(Language::English);
    control.resize(600, 400);
    TenDoses(control.chart());
    control.chart().setDiagram(ChartDiagram::Dose);
    control.chart().setZoom(100.0 / 110);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QWidget* surface = control.viewport();
    QImage composed(surface->size(), QImage::Format_RGB32);
    surface->render(&composed);
    for (QPoint at : {QPoint(250, 120), QPoint(560, 60), QPoint(300, 380)}) {
        const ReadoutChange expected = [&] {
            ChartModel copy = control.chart();
            return copy.mouseMove(at.x(), at.y());
        }();
        Move(surface, at);
        QVERIFY(expected.repaint && !expected.whole);
        const QRect area(QPoint(expected.area.left, expected.area.top),
                         QPoint(expected.area.right - 1, expected.area.bottom - 1));
        // Only the area around the old and the new box is painted again ...
        surface->render(&composed, area.topLeft(), QRegion(area));
        // ... and the result is the whole chart as the export draws it.
        QCOMPARE(composed, control.chartImage().convertToFormat(QImage::Format_RGB32));
    }
}

void ChartsTest::scrollBarDrivesTheOffset() {
    ChartView control(Language::English);
    control.resize(600, 400);
    TenDoses(control.chart());
    control.chart().setDiagram(ChartDiagram::Dose);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.chartImage(); // first paint
    control.chart().setZoom(300.0 / 110);
    control.scrollReset();
    QScrollBar* bar = control.horizontalScrollBar();
    const ScrollBarState& state = control.chart().scrollState();
    QCOMPARE(bar->maximum(), state.maxPos());
    QVERIFY(bar->maximum() > 0);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(control.chart().offset(), 1);
    QCOMPARE(bar->value(), 1);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(control.chart().offset(), std::min(1 + state.page, state.maxPos()));
    QCOMPARE(bar->value(), control.chart().offset());
    bar->triggerAction(QAbstractSlider::SliderToMinimum); // changes nothing
    QCOMPARE(bar->value(), control.chart().offset());
    control.chart().setZoom(200.0 / 110);
    control.scrollReset();
    QCOMPARE(bar->value(), 0);
    QCOMPARE(control.chart().offset(), 0);
}

void ChartsTest::windowForNeutronModel() {
    DiagramWindow window(nullptr, Language::English);
    QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    window.loadData(ArchiveOf(20, 5), 60, 100);
    ChartModel& chart = window.chartView()->chart();
    QCOMPARE(window.model(), dm::Model::Krt17a);
    QVERIFY(window.neutronCheck()->isVisibleTo(&window));
    QVERIFY(!window.neutronCheck()->isChecked());
    QCOMPARE(window.doseLegend()->text(), QStringLiteral("Mixed dose"));
    // The dose curve is drawn: its legend entry says so, and a click does not untick it.
    QVERIFY(window.doseLegend()->isEnabled() && window.doseLegend()->isChecked());
    QTest::mouseClick(window.doseLegend(), Qt::LeftButton);
    QVERIFY(window.doseLegend()->isChecked());
    QCOMPARE(window.doseLegend()->captionColour(), (Rgb{50, 255, 50}));
    QCOMPARE(window.neutronCheck()->captionColour(), (Rgb{100, 100, 255}));
    QVERIFY(chart.diagram() == ChartDiagram::Increments && !chart.neutronShown());
    QVERIFY(window.incrementsRadio()->isChecked());
    QCOMPARE(chart.zoom(), 100.0 / 110);
    QCOMPARE(chart.step(), 60.0);
    QCOMPARE(chart.neutron()[4].time, 300.0);

    window.neutronCheck()->click();
    QVERIFY(chart.diagram() == ChartDiagram::Increments && chart.neutronShown());
    window.doseRadio()->click();
    QVERIFY(chart.diagram() == ChartDiagram::Dose && chart.neutronShown());
    QVERIFY(!window.incrementsRadio()->isChecked());
    window.incrementsRadio()->click();
    QVERIFY(chart.diagram() == ChartDiagram::Increments && chart.neutronShown());
    QVERIFY(!window.doseRadio()->isChecked());
    window.neutronCheck()->click();
    QVERIFY(chart.diagram() == ChartDiagram::Increments && !chart.neutronShown());

    DiagramWindow russian(nullptr, Language::Russian);
    QCOMPARE(russian.doseRadio()->text().toStdString(), Tr(IDS_DOSE_DIAGRAM, Language::Russian));
    QCOMPARE(russian.fitButton()->text().toStdString(), Tr(IDS_FIT_TO_SCREEN, Language::Russian));
    // The long Russian legend caption shows whole: its box widens, the others move along.
    russian.loadData(ArchiveOf(20, 5), 60, 100);
    const QWidget* legendBox = russian.neutronCheck()->parentWidget()->childAt(
        russian.neutronCheck()->geometry().topLeft() - QPoint(4, 4));
    QVERIFY(legendBox);
    QVERIFY(russian.neutronCheck()->geometry().right() < legendBox->geometry().right());
    QVERIFY(legendBox->geometry().right() < russian.incrementsRadio()->geometry().left());
    QVERIFY(russian.fitButton()->geometry().right() < russian.width());
    russian.setDosimeter("KRT-17A", "17042"); // the model as Russian writes it
    QCOMPARE(russian.windowTitle(), QString::fromUtf8("Диаграмма приращений ИЭД \u2014 КРТ-17А № 17042"));
}

void ChartsTest::windowForGammaModelAndLongHistory() {
    DiagramWindow window(nullptr, Language::English);
    window.loadData(ArchiveOf(kChartRecords + 5, 0), 0, 7);
    ChartModel& chart = window.chartView()->chart();
    QVERIFY(!window.neutronCheck()->isVisibleTo(&window));
    QCOMPARE(window.doseLegend()->text(), QStringLiteral("Dose value"));
    QVERIFY(!chart.neutronShown());
    QCOMPARE(chart.neutron()[0].time, 0.0);
    QCOMPARE(chart.step(), 1.0);
    QCOMPARE(chart.depth(), 1.0);
    QVERIFY(window.windowTitle().contains(QStringLiteral("10000")));
    QVERIFY(window.windowTitle().contains(QStringLiteral("10005")));
    // The chart opens and paints.
    QCOMPARE(window.chartView()->chartImage().size(), window.chartView()->clientSize());
}


void ChartsTest::scaleBoxArrowsAndFit() {
    DiagramWindow window(nullptr, Language::English);
    window.loadData(ArchiveOf(50, 0), 60, 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChartView* control = window.chartView();
    ChartModel& chart = control->chart();
    control->chartImage();
    QCOMPARE(window.scaleEdit()->text(), QStringLiteral("100"));

    window.scaleEdit()->setText(QStringLiteral("200"));
    QCOMPARE(chart.zoom(), 200.0 / 110);
    QCOMPARE(chart.offset(), 0);
    QVERIFY(chart.scrollState().maxPos() > 1);
    // Typed texts of 9 and below leave the zoom alone.
    for (const char* text : {"9", "", "0"}) {
        window.scaleEdit()->setText(QString::fromLatin1(text));
        QCOMPARE(chart.zoom(), 200.0 / 110);
    }
    window.scaleEdit()->setText(QStringLiteral("100"));
    window.scaleUp()->click();
    QCOMPARE(window.scaleEdit()->text(), QStringLiteral("101"));
    QCOMPARE(chart.zoom(), 101.0 / 110);
    window.scaleEdit()->setText(QStringLiteral("10"));
    window.scaleDown()->click();
    QCOMPARE(window.scaleEdit()->text(), QStringLiteral("10"));
    QTest::keyClick(window.scaleEdit(), Qt::Key_Up);
    QCOMPARE(window.scaleEdit()->text(), QStringLiteral("11"));

    window.scaleEdit()->setText(QStringLiteral("300"));
    control->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QVERIFY(chart.offset() > 0);
    window.fitButton()->click();
    QCOMPARE(window.scaleEdit()->text(), QStringLiteral("100"));
    QCOMPARE(chart.zoom(), 100.0 / 110);
    QCOMPARE(chart.offset(), 0);
    QCOMPARE(chart.scrollState().pos, 0);

    // Typed and confirmed with Enter, as a user does: the scale stays, the window stays.
    window.scaleEdit()->setFocus();
    window.scaleEdit()->selectAll();
    QTest::keyClicks(window.scaleEdit(), QStringLiteral("400"));
    QTest::keyClick(window.scaleEdit(), Qt::Key_Return);
    QCOMPARE(window.scaleEdit()->text(), QStringLiteral("400"));
    QCOMPARE(chart.zoom(), 400.0 / 110);
    QVERIFY(window.isVisible());
    QTest::keyClick(window.scaleEdit(), Qt::Key_Enter);
    QCOMPARE(chart.zoom(), 400.0 / 110);
}

// The read-out box walks with the cursor: it shows the values of the diagram on screen
// after a switch of diagram, and goes when the cursor leaves the chart.
void ChartsTest::readoutFollowsTheDiagramAndLeavesWithTheCursor() {
    DiagramWindow window(nullptr, Language::English);
    window.loadData(ArchiveOf(10, 3), 60, 0);
    window.setDosimeter("KRT-17A", "17-004217");
    QCOMPARE(window.windowTitle(), QString::fromUtf8("Dose increments diagram \u2014 KRT-17A No. 17-004217"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChartView* control = window.chartView();
    ChartModel& chart = control->chart();
    control->chartImage();
    int barColumn = 111;
    while (chart.columns()[static_cast<std::size_t>(barColumn)].doseInc <= 0.0)
        ++barColumn;
    const QPoint at(barColumn + 1, 100);
    Move(control->viewport(), at);
    QVERIFY(chart.readoutText().find("Mixed dose increment") != std::string::npos);

    window.doseRadio()->click();
    QVERIFY(window.windowTitle().startsWith(QStringLiteral("Dose diagram")));
    const QImage dose = control->chartImage();
    QVERIFY(chart.readoutText().find("increment") == std::string::npos);
    QVERIFY(chart.readoutText().find("Mixed dose: ") != std::string::npos);
    QCOMPARE(dose.pixel(chart.readoutRect().left, at.y() + 5), Pixel(0, 0, 0));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(control->viewport(), &leave);
    QVERIFY(chart.readoutRect().none());
    QVERIFY(chart.readoutText().empty());
    const QImage gone = control->chartImage();
    QVERIFY(!ColumnHas(gone, at.x() + 3, at.y(), at.y() + 40, Pixel(255, 255, 175)));
}

void ChartsTest::savesTheChartAsPng() {
    QTemporaryDir dir;
    DiagramWindow window(nullptr, Language::English);
    FakeSaveDialogs dialogs;
    window.setSaveDialogs(&dialogs);
    window.loadData(ArchiveOf(30, 4), 60, 0);
    QVERIFY(!window.saveDiagramPng()); // cancelled
    QVERIFY(dialogs.messages.empty());

    const std::string path = dir.filePath(QStringLiteral("diagram.png")).toStdString();
    dialogs.answer = path;
    QVERIFY(window.saveDiagramPng());
    const QImage saved(QString::fromStdString(path));
    QCOMPARE(saved.size(), window.chartView()->clientSize());
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB32),
             window.chartView()->chartImage().convertToFormat(QImage::Format_RGB32));

    dialogs.answer = dir.filePath(QStringLiteral("missing/diagram.png")).toStdString();
    QVERIFY(!window.saveDiagramPng());
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QVERIFY(dialogs.messages[0].find("missing/diagram.png") != std::string::npos);
}

namespace {

struct CliRun {
    int exitCode = -1;
    QString err;
};

CliRun RunCli(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(DM_BIN_DIR "/dosimeter-cli"), QStringList{QStringLiteral("chart")} + args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

const QString kArchiveA = QStringLiteral(DM_TEST_DATA "/charts/archive_a.txt");
const QString kArchiveB = QStringLiteral(DM_TEST_DATA "/charts/archive_b.txt");

} // namespace

void ChartsTest::commandLineWritesThePicture() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("a.png"));
    CliRun run = RunCli({kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--interval"), QStringLiteral("60")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QImage image(out);
    QCOMPARE(image.size(), QSize(W, H));
    QCOMPARE(image.pixel(110, 440), Pixel(10, 10, 10));
    // The increments diagram: the first gamma record's bar one interval right of the origin.
    QVERIFY(ColumnHas(image, 127, 200, H - 41, Pixel(0, 100, 0)));

    const QString small = dir.filePath(QStringLiteral("b.png"));
    run = RunCli({kArchiveA, QStringLiteral("--png"), small, QStringLiteral("--size"), QStringLiteral("400x250"),
                  QStringLiteral("--diagram"), QStringLiteral("dose"), QStringLiteral("--neutron"),
                  QStringLiteral("--mouse"), QStringLiteral("200,60")});
    QCOMPARE(run.exitCode, 0);
    image = QImage(small);
    QCOMPARE(image.size(), QSize(400, 250));
    QVERIFY(ColumnHas(image, 199, 60, 100, Pixel(0, 0, 0)));      // the read-out box, flipped left
    QVERIFY(ColumnHas(image, 150, 60, 100, Pixel(255, 255, 175)));
    QVERIFY(ColumnHas(image, 300, 0, 249, Pixel(0, 0, 255)));     // the neutron staircase

    // A gamma-only archive has no neutron component to show; the picture is still made.
    run = RunCli({kArchiveB, QStringLiteral("--png"), small, QStringLiteral("--neutron")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.contains(QStringLiteral("--neutron")));
}

void ChartsTest::commandLineRejectsBadInput() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.png"));
    const QList<QStringList> usageErrors{
        {QStringLiteral("/nonexistent/archive.txt"), QStringLiteral("--png"), out},
        {kArchiveA},
        {kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--size"), QStringLiteral("0x10")},
        {kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--size"), QStringLiteral("20000x10")},
        {kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--scale"), QStringLiteral("9")},
        {kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--mouse"), QStringLiteral("5")},
        {kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--diagram"), QStringLiteral("bars")},
        {kArchiveA, QStringLiteral("--png"), out, QStringLiteral("--interval"), QStringLiteral("inf")},
    };
    for (const QStringList& args : usageErrors) {
        const CliRun run = RunCli(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.startsWith(QStringLiteral("dosimeter-cli: ")));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    }
    QVERIFY(!QFile::exists(out));

    const CliRun run = RunCli({kArchiveA, QStringLiteral("--png"), dir.filePath(QStringLiteral("no/x.png"))});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains(QStringLiteral("no/x.png")));
}

QTEST_MAIN(ChartsTest)
#include "charts_qtest.moc"
