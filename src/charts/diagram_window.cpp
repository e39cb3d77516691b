#include "charts/diagram_window.h"

#include "charts/chart_render.h"
#include "core/string_table.h"
#include "qt/qt_text.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <utility>

namespace dm {
namespace {

QString Text(int id, Language language) { return Q(Tr(id, language)); }

// Up and Down in the scale box step the scale as the arrows do; Enter applies the typed
// scale and goes no further (the dialog would otherwise press a button with it).
class ScaleKeys : public QObject {
public:
    ScaleKeys(QObject* parent, std::function<void(int)> step, std::function<void()> apply)
        : QObject(parent), step_(std::move(step)), apply_(std::move(apply)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                step_(key == Qt::Key_Up ? 1 : -1);
                return true;
            }
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                apply_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(int)> step_;
    std::function<void()> apply_;
};

} // namespace

DiagramWindow::DiagramWindow(QWidget* parent, Language language)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      language_(language) {
    setFont(QApplication::font());
    buildControls();
    initialise();
}

// Dialog units to pixels through the dialog font: a unit is a quarter of the average
// character width across and an eighth of the character height down.
QRect DiagramWindow::dialogRect(int x, int y, int width, int height) const {
    const QFontMetrics metrics(font());
    const int bx = std::max(1, metrics.averageCharWidth()), by = std::max(1, metrics.height());
    auto px = [bx](int v) { return (v * bx + 2) / 4; };
    auto py = [by](int v) { return (v * by + 4) / 8; };
    return QRect(px(x), py(y), px(width), py(height));
}

void DiagramWindow::buildControls() {
    // The template's size is the smallest; a larger window gives the chart the room.
    setMinimumSize(dialogRect(0, 0, 517, 356).size());
    resize(minimumSize());

    legendGroup_ = new QGroupBox(this);
    displayGroup_ = new QGroupBox(this);
    scaleGroup_ = new QGroupBox(this);

    view_ = new ChartView(language_, this);
    connect(view_, &ChartView::saveRequested, this, [this] { saveDiagramPng(); });

    // The dose curve is drawn in both diagrams, so its legend entry is always ticked; it
    // only labels the colour and takes no clicks.
    doseLegend_ = new LegendCheckBox(this);
    doseLegend_->setChecked(true);
    doseLegend_->setAttribute(Qt::WA_TransparentForMouseEvents);
    doseLegend_->setFocusPolicy(Qt::NoFocus);
    neutronCheck_ = new LegendCheckBox(this);
    connect(neutronCheck_, &QCheckBox::clicked, this, [this] { applyNeutronRule(); });

    incrementsRadio_ = new QRadioButton(this);
    connect(incrementsRadio_, &QRadioButton::clicked, this, [this] { showIncrementsDiagram(); });
    doseRadio_ = new QRadioButton(this);
    connect(doseRadio_, &QRadioButton::clicked, this, [this] { showDoseDiagram(); });

    scaleEdit_ = new QLineEdit(this);
    scaleEdit_->setMaxLength(kScaleDigits);
    scaleEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kScaleDigits)), scaleEdit_));
    connect(scaleEdit_, &QLineEdit::textChanged, this, [this] { applyScaleRule(); });
    scaleEdit_->installEventFilter(
        new ScaleKeys(scaleEdit_, [this](int step) { stepScale(step); }, [this] { applyScaleRule(); }));

    percent_ = new QLabel(QStringLiteral("%"), this);

    scaleUp_ = new QToolButton(this);
    scaleUp_->setArrowType(Qt::UpArrow);
    scaleUp_->setAutoRepeat(true);
    connect(scaleUp_, &QToolButton::clicked, this, [this] { stepScale(1); });
    scaleDown_ = new QToolButton(this);
    scaleDown_->setArrowType(Qt::DownArrow);
    scaleDown_->setAutoRepeat(true);
    connect(scaleDown_, &QToolButton::clicked, this, [this] { stepScale(-1); });

    // Not a default button: Enter belongs to the scale box.
    fitButton_ = new QPushButton(this);
    fitButton_->setAutoDefault(false);
    fitButton_->setDefault(false);
    connect(fitButton_, &QPushButton::clicked, this, [this] { fitToScreen(); });
    placeControls();
}

// The template's layout, with the chart taking what the window has beyond the template's
// size; the controls below it keep their places relative to the bottom (the scale box to
// the bottom right corner).
void DiagramWindow::placeControls() {
    // The coloured legend captions are drawn in the wide chart font: the legend box widens
    // until they show whole, pushing the boxes right of it along and the window's
    // smallest width with them.
    const QFontMetrics chartFont(ChartFont());
    const int legendRight = dialogRect(13 + 183 - 4, 0, 0, 0).x();
    const int legendLeft = dialogRect(20, 0, 0, 0).x();
    int widest = 0;
    for (const LegendCheckBox* button : {doseLegend_, neutronCheck_})
        if (!button->isHidden() && !button->text().isEmpty())
            widest = std::max(widest, 17 + chartFont.horizontalAdvance(button->text()) + 2);
    const int extra = std::max(0, legendLeft + widest - legendRight);
    const QSize base = dialogRect(0, 0, 517, 356).size() + QSize(extra, 0);
    if (minimumSize() != base) {
        setMinimumSize(base);
        if (width() < base.width())
            resize(base.width(), height()); // places the controls again
    }
    const int dx = std::max(0, width() - base.width()) + extra;
    const int dy = std::max(0, height() - base.height());
    auto below = [&](int x, int y, int w, int h) { return dialogRect(x, y, w, h).translated(0, dy); };
    auto shifted = [&](int x, int y, int w, int h) { return dialogRect(x, y, w, h).translated(extra, dy); };
    auto corner = [&](int x, int y, int w, int h) { return dialogRect(x, y, w, h).translated(dx, dy); };

    view_->setGeometry(dialogRect(0, 1, 517, 301).adjusted(0, 0, dx, dy));
    legendGroup_->setGeometry(below(13, 306, 183, 47).adjusted(0, 0, extra, 0));
    displayGroup_->setGeometry(shifted(205, 306, 155, 47));
    scaleGroup_->setGeometry(corner(431, 309, 83, 44));
    incrementsRadio_->setGeometry(shifted(211, 319, 141, 13));
    doseRadio_->setGeometry(shifted(211, 334, 144, 12));
    scaleEdit_->setGeometry(corner(440, 320, 45, 14));
    percent_->setGeometry(corner(488, 323, 8, 8));
    const QRect arrows = corner(496, 320, 11, 14);
    const int half = arrows.height() / 2;
    scaleUp_->setGeometry(arrows.x(), arrows.y(), arrows.width(), half);
    scaleDown_->setGeometry(arrows.x(), arrows.y() + half, arrows.width(), arrows.height() - half);

    // The platform's buttons have wider margins than the template assumed: each legend
    // entry is as wide as its caption needs, at least as the template has it.
    const std::pair<LegendCheckBox*, QRect> legends[] = {{doseLegend_, below(20, 317, 137, 10)},
                                                    {neutronCheck_, below(20, 329, 137, 10)}};
    for (const auto& [button, r] : legends) {
        const int needed = 17 + chartFont.horizontalAdvance(button->text()) + 2;
        button->setGeometry(r.x(), r.y(), std::max(needed, r.width()), r.height());
    }
    const QRect fit = corner(440, 336, 68, 14);
    fitButton_->setGeometry(fitButton_->sizeHint().width() > fit.width() ? corner(433, 336, 79, 14) : fit);
}

void DiagramWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    placeControls();
}

void DiagramWindow::setDosimeter(const std::string& model, const std::string& serialNumber) {
    modelName_ = model;
    serialNumber_ = serialNumber;
    updateTitle();
}

// The diagram on screen and the dosimeter it comes from.
void DiagramWindow::updateTitle() {
    const ChartModel& chart = view_->chart();
    QString title = Text(chart.diagram() == ChartDiagram::Dose ? IDS_DOSE_DIAGRAM : IDS_INCREMENTS_DIAGRAM, language_);
    if (!modelName_.empty()) {
        title += QStringLiteral(" \u2014 ") + Q(ShownModelName(modelName_, language_));
        if (!serialNumber_.empty())
            title += QLatin1Char(' ') + Text(IDS_SERIAL_NO, language_) + QLatin1Char(' ') +
                     Q(serialNumber_);
    }
    if (!truncationNotice_.empty())
        title += QStringLiteral(" \u2014 ") + Q(truncationNotice_);
    setWindowTitle(title);
}

void DiagramWindow::initialise() {
    ChartModel& chart = view_->chart();
    incrementsRadio_->setChecked(true);
    doseRadio_->setChecked(false);
    neutronCheck_->setChecked(false);
    chart.setDiagram(ChartDiagram::Increments);

    doseRadio_->setText(Text(IDS_DOSE_DIAGRAM, language_));
    incrementsRadio_->setText(Text(IDS_INCREMENTS_DIAGRAM, language_));
    neutronCheck_->setText(Text(IDS_NEUTRON_COMPONENT, language_));
    displayGroup_->setTitle(Text(IDS_DISPLAY_AS, language_));
    scaleGroup_->setTitle(Text(IDS_SCALE, language_));
    legendGroup_->setTitle(Text(IDS_GRAPH_LEGEND, language_));
    fitButton_->setText(Text(IDS_FIT_TO_SCREEN, language_));
    setScaleText(QStringLiteral("100"));

    if (MeasuresNeutron(archiveModel_)) {
        neutronCheck_->show();
        doseLegend_->setText(Text(IDS_MIXED_DOSE, language_));
    } else {
        neutronCheck_->setChecked(false);
        neutronCheck_->hide();
        doseLegend_->setText(Text(IDS_DOSE_VALUE, language_));
        applyNeutronRule();
    }
    doseLegend_->show();
    neutronCheck_->setCaptionColour({100, 100, 255});
    doseLegend_->setCaptionColour({50, 255, 50});
    placeControls();
    updateTitle();
}

ChartLoadResult DiagramWindow::loadData(const DoseArchive& archive, double historyInterval, double historyDepth) {
    const ChartLoadResult result = LoadChartData(view_->chart(), archive, historyInterval, historyDepth);
    archiveModel_ = archive.model();
    truncationNotice_ = TruncationNotice(result, language_);
    initialise();
    view_->repaintChart();
    return result;
}

void DiagramWindow::applyNeutronRule() {
    ChartModel& chart = view_->chart();
    chart.setNeutronShown(neutronCheck_->isChecked());
    view_->repaintChart();
}

void DiagramWindow::showDoseDiagram() {
    ChartModel& chart = view_->chart();
    chart.setDiagram(ChartDiagram::Dose, chart.neutronShown());
    incrementsRadio_->setChecked(false);
    doseRadio_->setChecked(true);
    updateTitle();
    view_->repaintChart();
}

void DiagramWindow::showIncrementsDiagram() {
    ChartModel& chart = view_->chart();
    chart.setDiagram(ChartDiagram::Increments, chart.neutronShown());
    doseRadio_->setChecked(false);
    incrementsRadio_->setChecked(true);
    updateTitle();
    view_->repaintChart();
}

void DiagramWindow::applyScaleRule() {
    const auto zoom = ZoomFromScaleText(scaleEdit_->text().toStdString());
    if (!zoom)
        return; // 9 and below: the chart keeps its zoom while the box shows the text
    view_->chart().setZoom(*zoom);
    view_->scrollReset();
    view_->repaintChart();
}

void DiagramWindow::setScaleText(const QString& text) {
    {
        const QSignalBlocker block(scaleEdit_);
        scaleEdit_->setText(text);
    }
    applyScaleRule();
}

void DiagramWindow::stepScale(int step) {
    if (const auto text = SteppedScaleText(scaleEdit_->text().toStdString(), step))
        setScaleText(Q(*text));
}

void DiagramWindow::fitToScreen() {
    view_->chart().setOffset(0);
    setScaleText(QStringLiteral("100"));
}

bool DiagramWindow::saveDiagramPng() {
    std::optional<std::string> name;
    if (saveDialogs_) {
        name = saveDialogs_->askPngFileName();
    } else {
        QString caption = Text(IDS_SAVE_DIAGRAM_PNG, language_);
        caption.remove(QStringLiteral("..."));
        const QString chosen = QFileDialog::getSaveFileName(this, caption, QStringLiteral("diagram.png"),
                                                            Text(IDS_PNG_FILTER, language_));
        if (!chosen.isEmpty())
            name = chosen.toStdString();
    }
    if (!name || name->empty())
        return false;
    std::string error;
    if (WriteChartPng(view_->chartImage(), *name, &error))
        return true;
    const std::string message = FillIn(Tr(IDS_DIAGRAM_NOT_SAVED, language_), {*name, error});
    if (saveDialogs_)
        saveDialogs_->showMessage(message);
    else
        QMessageBox::warning(this, Text(IDS_PROGRAM_NAME, language_), Q(message));
    return false;
}

} // namespace dm
