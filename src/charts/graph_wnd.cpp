#include "charts/graph_wnd.h"

#include "charts/chart_render.h"
#include "core/string_table.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QToolButton>

#include <algorithm>
#include <functional>

namespace dm {
namespace {

QString Text(int id, int langBase) { return QString::fromStdString(Tr(id, langBase)); }

// Up and Down in the scale box step the scale as the arrows do.
class ArrowKeys : public QObject {
public:
    ArrowKeys(QObject* parent, std::function<void(int)> step) : QObject(parent), step_(std::move(step)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                step_(key == Qt::Key_Up ? 1 : -1);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(int)> step_;
};

} // namespace

CGraphWnd::CGraphWnd(QWidget* parent, int langBase)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      m_nLangBase(langBase) {
    setFont(QApplication::font());
    buildControls();
    initialise();
}

// Dialog units to pixels through the dialog font: a unit is a quarter of the average
// character width across and an eighth of the character height down.
QRect CGraphWnd::dialogRect(int x, int y, int width, int height) const {
    const QFontMetrics metrics(font());
    const int bx = std::max(1, metrics.averageCharWidth()), by = std::max(1, metrics.height());
    auto px = [bx](int v) { return (v * bx + 2) / 4; };
    auto py = [by](int v) { return (v * by + 4) / 8; };
    return QRect(px(x), py(y), px(width), py(height));
}

void CGraphWnd::buildControls() {
    setFixedSize(dialogRect(0, 0, 517, 356).size());

    legendGroup_ = new QGroupBox(this);
    legendGroup_->setGeometry(dialogRect(13, 306, 183, 47));
    displayGroup_ = new QGroupBox(this);
    displayGroup_->setGeometry(dialogRect(205, 306, 155, 47));
    scaleGroup_ = new QGroupBox(this);
    scaleGroup_->setGeometry(dialogRect(431, 309, 83, 44));

    chart_ = new CGraphicalListBox(m_nLangBase, this);
    chart_->setGeometry(dialogRect(0, 1, 517, 301));
    connect(chart_, &CGraphicalListBox::saveRequested, this, [this] { saveDiagramPng(); });

    doseLegend_ = new CMyButton(this);
    doseLegend_->setGeometry(dialogRect(20, 317, 137, 10));
    doseLegend_->setEnabled(false);
    neutronCheck_ = new CMyButton(this);
    neutronCheck_->setGeometry(dialogRect(20, 329, 137, 10));
    connect(neutronCheck_, &QCheckBox::clicked, this, [this] { applyNeutronRule(); });

    incrementsRadio_ = new QRadioButton(this);
    incrementsRadio_->setGeometry(dialogRect(211, 319, 141, 13));
    connect(incrementsRadio_, &QRadioButton::clicked, this, [this] { showIncrementsDiagram(); });
    doseRadio_ = new QRadioButton(this);
    doseRadio_->setGeometry(dialogRect(211, 334, 144, 12));
    connect(doseRadio_, &QRadioButton::clicked, this, [this] { showDoseDiagram(); });

    scaleEdit_ = new QLineEdit(this);
    scaleEdit_->setGeometry(dialogRect(440, 320, 45, 14));
    scaleEdit_->setMaxLength(kScaleDigits);
    scaleEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kScaleDigits)), scaleEdit_));
    connect(scaleEdit_, &QLineEdit::textChanged, this, [this] { applyScaleRule(); });
    scaleEdit_->installEventFilter(new ArrowKeys(scaleEdit_, [this](int step) { stepScale(step); }));

    percent_ = new QLabel(QStringLiteral("%"), this);
    percent_->setGeometry(dialogRect(488, 323, 8, 8));

    const QRect arrows = dialogRect(496, 320, 11, 14);
    const int half = arrows.height() / 2;
    scaleUp_ = new QToolButton(this);
    scaleUp_->setArrowType(Qt::UpArrow);
    scaleUp_->setAutoRepeat(true);
    scaleUp_->setGeometry(arrows.x(), arrows.y(), arrows.width(), half);
    connect(scaleUp_, &QToolButton::clicked, this, [this] { stepScale(1); });
    scaleDown_ = new QToolButton(this);
    scaleDown_->setArrowType(Qt::DownArrow);
    scaleDown_->setAutoRepeat(true);
    scaleDown_->setGeometry(arrows.x(), arrows.y() + half, arrows.width(), arrows.height() - half);
    connect(scaleDown_, &QToolButton::clicked, this, [this] { stepScale(-1); });

    fitButton_ = new QPushButton(this);
    fitButton_->setGeometry(dialogRect(440, 336, 68, 14));
    fitButton_->setDefault(true);
    connect(fitButton_, &QPushButton::clicked, this, [this] { fitToScreen(); });
}

void CGraphWnd::initialise() {
    ChartModel& chart = chart_->chart();
    incrementsRadio_->setChecked(true);
    doseRadio_->setChecked(false);
    neutronCheck_->setChecked(false);
    chart.m_nFlags = GF_INCREMENTS;

    doseRadio_->setText(Text(IDS_DOSE_DIAGRAM, m_nLangBase));
    incrementsRadio_->setText(Text(IDS_INCREMENTS_DIAGRAM, m_nLangBase));
    neutronCheck_->setText(Text(IDS_NEUTRON_COMPONENT, m_nLangBase));
    displayGroup_->setTitle(Text(IDS_DISPLAY_AS, m_nLangBase));
    scaleGroup_->setTitle(Text(IDS_SCALE, m_nLangBase));
    legendGroup_->setTitle(Text(IDS_GRAPH_LEGEND, m_nLangBase));
    fitButton_->setText(Text(IDS_FIT_TO_SCREEN, m_nLangBase));
    setScaleText(QStringLiteral("100"));

    if (m_bNeutron) {
        neutronCheck_->show();
        doseLegend_->setText(Text(IDS_MIXED_DOSE, m_nLangBase));
    } else {
        neutronCheck_->setChecked(false);
        neutronCheck_->hide();
        doseLegend_->setText(Text(IDS_DOSE_VALUE, m_nLangBase));
        applyNeutronRule();
    }
    doseLegend_->show();
    neutronCheck_->setCaptionColour({100, 100, 255});
    doseLegend_->setCaptionColour({50, 255, 50});
    fitTextsToControls();
}

// The coloured captions are drawn in the wide chart font and the platform's buttons have
// wider margins than the template assumed; controls grow, within their group box, until
// their texts fit.
void CGraphWnd::fitTextsToControls() {
    const QFontMetrics chartFont(ChartFont());
    const int legendRight = dialogRect(13 + 183 - 4, 0, 0, 0).x();
    for (CMyButton* button : {doseLegend_, neutronCheck_}) {
        const QRect r = button->geometry();
        const int needed = 17 + chartFont.horizontalAdvance(button->text()) + 2;
        button->resize(std::clamp(needed, dialogRect(0, 0, 137, 0).width(), legendRight - r.x()), r.height());
    }
    const QRect fit = dialogRect(440, 336, 68, 14);
    if (fitButton_->sizeHint().width() > fit.width())
        fitButton_->setGeometry(dialogRect(433, 336, 79, 14));
    else
        fitButton_->setGeometry(fit);
}

ChartLoadResult CGraphWnd::loadData(const DoseArchive& archive, double historyInterval, double historyDepth) {
    const ChartLoadResult result = LoadChartData(chart_->chart(), archive, historyInterval, historyDepth);
    m_bNeutron = archive.hasNeutron();
    setWindowTitle(QString::fromStdString(TruncationNotice(result, m_nLangBase)));
    initialise();
    chart_->repaintChart();
    return result;
}

void CGraphWnd::applyNeutronRule() {
    ChartModel& chart = chart_->chart();
    if (neutronCheck_->isChecked())
        chart.m_nFlags |= GF_NEUTRON;
    else
        chart.m_nFlags &= ~GF_NEUTRON;
    chart_->repaintChart();
}

void CGraphWnd::showDoseDiagram() {
    ChartModel& chart = chart_->chart();
    chart.m_nFlags = (chart.m_nFlags | GF_DOSE) & ~GF_INCREMENTS;
    incrementsRadio_->setChecked(false);
    doseRadio_->setChecked(true);
    chart_->repaintChart();
}

void CGraphWnd::showIncrementsDiagram() {
    ChartModel& chart = chart_->chart();
    chart.m_nFlags = (chart.m_nFlags | GF_INCREMENTS) & ~GF_DOSE;
    doseRadio_->setChecked(false);
    incrementsRadio_->setChecked(true);
    chart_->repaintChart();
}

void CGraphWnd::applyScaleRule() {
    const auto zoom = ZoomFromScaleText(scaleEdit_->text().toStdString());
    if (!zoom)
        return; // 9 and below: the chart keeps its zoom while the box shows the text
    chart_->chart().m_dZoom = *zoom;
    chart_->scrollReset();
    chart_->repaintChart();
}

void CGraphWnd::setScaleText(const QString& text) {
    {
        const QSignalBlocker block(scaleEdit_);
        scaleEdit_->setText(text);
    }
    applyScaleRule();
}

void CGraphWnd::stepScale(int step) {
    if (const auto text = SteppedScaleText(scaleEdit_->text().toStdString(), step))
        setScaleText(QString::fromStdString(*text));
}

void CGraphWnd::fitToScreen() {
    chart_->chart().m_nOffset = 0;
    setScaleText(QStringLiteral("100"));
}

bool CGraphWnd::saveDiagramPng() {
    std::optional<std::string> name;
    if (saveDialogs_) {
        name = saveDialogs_->askPngFileName();
    } else {
        const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Save diagram as PNG"),
                                                            QStringLiteral("diagram.png"),
                                                            QStringLiteral("PNG image (*.png)"));
        if (!chosen.isEmpty())
            name = chosen.toStdString();
    }
    if (!name || name->empty())
        return false;
    std::string error;
    if (WriteChartPng(chart_->chartImage(), *name, &error))
        return true;
    const std::string message = "The diagram was not saved to " + *name + ": " + error;
    if (saveDialogs_)
        saveDialogs_->showMessage(message);
    else
        QMessageBox::warning(this, QString(), QString::fromStdString(message));
    return false;
}

} // namespace dm
