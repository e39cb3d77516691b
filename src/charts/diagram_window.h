#pragma once
// The diagram window: the chart, its legend, the choice between the dose and the dose
// increments diagram, the neutron component and the time-axis scale.
#include "charts/chart_data.h"
#include "charts/chart_view.h"
#include "charts/legend_check_box.h"
#include "core/language.h"
#include "history/dose_archive.h"

#include <QDialog>

#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace dm {

// How the window asks for the PNG file name and reports a failed save; tests answer it.
class ChartSaveDialogs {
public:
    virtual ~ChartSaveDialogs() = default;
    virtual std::optional<std::string> askPngFileName() = 0; // nothing: cancelled
    virtual void showMessage(const std::string& text) = 0;
};

class DiagramWindow : public QDialog {
    Q_OBJECT
public:
    DiagramWindow(QWidget* parent, Language language);

    // Takes the history from the archive (see LoadChartData) and sets the window up for
    // it; run the window with exec() afterwards.
    ChartLoadResult loadData(const DoseArchive& archive, double historyInterval, double historyDepth);

    // The dosimeter the history comes from, for the window's title; the serial number
    // may be empty when it is not known.
    void setDosimeter(const std::string& model, const std::string& serialNumber);

    // Not owned; without one the window uses the platform's file dialog and message box.
    void setSaveDialogs(ChartSaveDialogs* dialogs) { saveDialogs_ = dialogs; }
    // Asks for a file name and writes the chart's picture there as PNG; false when
    // cancelled or not written.
    bool saveDiagramPng();

    Model model() const { return archiveModel_; }
    ChartView* chartView() const { return view_; }
    LegendCheckBox* doseLegend() const { return doseLegend_; }
    LegendCheckBox* neutronCheck() const { return neutronCheck_; }
    QRadioButton* incrementsRadio() const { return incrementsRadio_; }
    QRadioButton* doseRadio() const { return doseRadio_; }
    QLineEdit* scaleEdit() const { return scaleEdit_; }
    QToolButton* scaleUp() const { return scaleUp_; }
    QToolButton* scaleDown() const { return scaleDown_; }
    QPushButton* fitButton() const { return fitButton_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    void initialise();
    void placeControls();
    void updateTitle();
    QRect dialogRect(int x, int y, int width, int height) const;
    void applyNeutronRule();
    void showDoseDiagram();
    void showIncrementsDiagram();
    void applyScaleRule();
    void setScaleText(const QString& text);
    void stepScale(int step);
    void fitToScreen();

    Language language_ = Language::English;
    Model archiveModel_ = Model::Mlv52b;
    ChartView* view_ = nullptr;
    QGroupBox* legendGroup_ = nullptr;
    QGroupBox* displayGroup_ = nullptr;
    QGroupBox* scaleGroup_ = nullptr;
    LegendCheckBox* doseLegend_ = nullptr;
    LegendCheckBox* neutronCheck_ = nullptr;
    QRadioButton* incrementsRadio_ = nullptr;
    QRadioButton* doseRadio_ = nullptr;
    QLineEdit* scaleEdit_ = nullptr;
    QLabel* percent_ = nullptr;
    QToolButton* scaleUp_ = nullptr;
    QToolButton* scaleDown_ = nullptr;
    QPushButton* fitButton_ = nullptr;
    ChartSaveDialogs* saveDialogs_ = nullptr;
    std::string modelName_; // as the title shows it
    std::string serialNumber_;
    std::string truncationNotice_; // rows left out of the chart, or empty
};

} // namespace dm
