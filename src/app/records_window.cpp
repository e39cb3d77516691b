#include "app/records_window.h"

#include "core/format.h"
#include "core/string_table.h"
#include "records/dose_report_pdf.h"
#include "records/records_export.h"
#include "records/records_thread.h"
#include "records/utc_time.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <type_traits>

namespace dm {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string Dose(const std::optional<double>& v) { return v ? (*v > 0 ? FormatDose(*v, 0) : "0") : "-"; }

void Fill(QTableWidget* table, const QStringList& heading, const std::vector<QStringList>& rows) {
    table->clear();
    table->setColumnCount(static_cast<int>(heading.size()));
    table->setHorizontalHeaderLabels(heading);
    table->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int c = 0; c < static_cast<int>(rows[static_cast<std::size_t>(r)].size()); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[static_cast<std::size_t>(r)][c]));
    table->resizeColumnsToContents();
}

QTableWidget* MakeTable(const char* name) {
    auto* table = new QTableWidget;
    table->setObjectName(QString::fromLatin1(name));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    return table;
}

void SelectRowWith(QTableWidget* table, const std::optional<std::string>& key) {
    if (!key)
        return;
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, 0) && table->item(r, 0)->text().toStdString() == *key)
            table->selectRow(r);
}

class QtRecordsDialogs : public RecordsDialogs {
public:
    QtRecordsDialogs(QWidget* parent, int langBase) : parent_(parent), lang_(langBase) {}

    std::optional<NewWearer> askNewWearer() override {
        QDialog dialog(parent_);
        dialog.setWindowTitle(Q(Tr(IDS_RW_NEW_WEARER, lang_)));
        auto* form = new QFormLayout(&dialog);
        auto* id = new QLineEdit;
        auto* name = new QLineEdit;
        auto* born = new QLineEdit;
        born->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
        form->addRow(QStringLiteral("ID"), id);
        form->addRow(Q(Tr(IDS_RW_NAME, lang_)), name);
        form->addRow(Q(Tr(IDS_RW_BORN, lang_)), born);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        form->addRow(buttons);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return NewWearer{id->text().trimmed().toStdString(), name->text().trimmed().toStdString(),
                         born->text().trimmed().toStdString()};
    }

    std::optional<std::string> askWearer(const std::vector<std::pair<std::string, std::string>>& wearers) override {
        QStringList items;
        for (const auto& [id, name] : wearers)
            items << Q(id + " " + name);
        bool ok = false;
        const QString chosen = QInputDialog::getItem(parent_, Q(Tr(IDS_RW_HAND_OUT_TITLE, lang_)),
                                                     Q(Tr(IDS_RW_TO, lang_)), items, 0, false, &ok);
        const auto at = items.indexOf(chosen);
        if (!ok || at < 0)
            return std::nullopt;
        return wearers[static_cast<std::size_t>(at)].first;
    }

    std::optional<std::string> askSaveFile(const std::string& suggested, const std::string& filter) override {
        const QString name = QFileDialog::getSaveFileName(parent_, QString(), Q(suggested), Q(filter));
        if (name.isEmpty())
            return std::nullopt;
        return name.toStdString();
    }

    void showMessage(const std::string& text) override {
        QMessageBox::information(parent_, QStringLiteral("Dosimeter Manager"), Q(text));
    }

    bool askYesNo(const std::string& text) override {
        return QMessageBox::question(parent_, QStringLiteral("Dosimeter Manager"), Q(text),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
    }

private:
    QWidget* parent_;
    int lang_;
};

} // namespace

// The selected dosimeter's total dose over time, one point per readout.
class TotalDoseChart : public QWidget {
public:
    TotalDoseChart() {
        setObjectName(QStringLiteral("totalDoseChart"));
        setMinimumSize(360, 140);
    }
    void setPoints(std::vector<std::pair<records::UtcSeconds, double>> points) {
        points_ = std::move(points);
        update();
    }
    const std::vector<std::pair<records::UtcSeconds, double>>& points() const { return points_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.setPen(Qt::gray);
        const QRectF area = QRectF(rect()).adjusted(72, 10, -10, -20);
        p.drawRect(area);
        if (points_.empty())
            return;
        const auto [tMin, tMax] = std::minmax_element(points_.begin(), points_.end());
        double top = 0;
        for (const auto& pt : points_)
            top = std::max(top, pt.second);
        const double span = std::max<double>(1.0, static_cast<double>(tMax->first - tMin->first));
        top = top > 0 ? top : 1.0;
        p.setPen(Qt::black);
        p.drawText(QRectF(0, area.top() - 5, 68, 14), Qt::AlignRight, Q(FormatDose(top, 0)));
        p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignLeft,
                   Q(records::FormatUtcTime(tMin->first).substr(0, 10)));
        p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignRight,
                   Q(records::FormatUtcTime(tMax->first).substr(0, 10)));
        QPolygonF line;
        for (const auto& [t, dose] : points_)
            line << QPointF(area.left() + area.width() * static_cast<double>(t - tMin->first) / span,
                            area.bottom() - area.height() * dose / top);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0, 90, 170), 2));
        p.drawPolyline(line);
        for (const QPointF& pt : line)
            p.drawEllipse(pt, 2.5, 2.5);
    }

private:
    std::vector<std::pair<records::UtcSeconds, double>> points_;
};

std::unique_ptr<RecordsDialogs> MakeQtRecordsDialogs(QWidget* parent, int langBase) {
    return std::make_unique<QtRecordsDialogs>(parent, langBase);
}

RecordsWindow::RecordsWindow(records::RecordsThread& db, int langBase, RecordsDialogs* dialogs,
                             std::function<records::UtcSeconds()> now, DosimeterReading reading)
    // A window of its own: no parent, so nothing keeps it above the main window.
    : QWidget(nullptr, Qt::Window), db_(db), langBase_(langBase),
      ownDialogs_(dialogs ? nullptr : MakeQtRecordsDialogs(this, langBase)),
      dialogs_(dialogs ? *dialogs : *ownDialogs_),
      now_(now ? std::move(now) : std::function<records::UtcSeconds()>(records::UtcNow)),
      reading_(std::move(reading)) {
    setObjectName(QStringLiteral("recordsWindow"));
    setWindowTitle(Q(Tr(IDS_MENU_RECORDS, langBase_)));
    auto* layout = new QVBoxLayout(this);
    database_ = new QLabel(Q(FillIn(Tr(IDS_RW_DATABASE, langBase_), {db_.displayName()})));
    database_->setObjectName(QStringLiteral("database"));
    layout->addWidget(database_);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("recordsStatus"));
    status_->setWordWrap(true);
    layout->addWidget(status_);

    auto* top = new QHBoxLayout;
    dosimeters_ = MakeTable("dosimeters");
    readouts_ = MakeTable("readouts");
    top->addWidget(dosimeters_, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(readouts_, 1);
    chart_ = new TotalDoseChart;
    right->addWidget(chart_);
    top->addLayout(right, 1);
    layout->addLayout(top, 2);
    wearers_ = MakeTable("wearers");
    layout->addWidget(wearers_, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, int text, auto slot) {
        auto* b = new QPushButton(Q(Tr(text, langBase_)));
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    button("addWearer", IDS_RW_ADD_WEARER, [this] { addWearer(); });
    button("handOut", IDS_RW_HAND_OUT, [this] { handOut(); });
    button("handBack", IDS_RW_HAND_BACK, [this] { handBack(); });
    button("exportReadouts", IDS_RW_EXPORT_READOUTS, [this] { exportTable("readouts"); });
    button("exportDoses", IDS_RW_EXPORT_DOSES, [this] { exportTable("doses"); });
    button("report", IDS_RW_REPORT, [this] { printReport(); });
    layout->addLayout(buttons);
    connect(dosimeters_, &QTableWidget::itemSelectionChanged, this, [this] { showReadouts(); });
    Fill(dosimeters_,
         {Q(Tr(IDS_RW_SERIAL, langBase_)), Q(Tr(IDS_RW_MODEL, langBase_)), Q(Tr(IDS_RW_LAST_READOUT, langBase_)),
          Q(Tr(IDS_RW_WEARER, langBase_)), Q(Tr(IDS_RW_TOTAL_DOSE, langBase_))},
         {});
    resize(1000, 640);
    if (reading_.watchStored) {
        QPointer<RecordsWindow> self(this);
        reading_.watchStored([self] {
            if (self)
                self->refresh();
        });
    }
    refresh();
}

RecordsWindow::~RecordsWindow() {
    if (reading_.watchStored)
        reading_.watchStored({});
}

template <typename Work, typename Done>
void RecordsWindow::ask(Work work, Done done, bool tell, std::function<void()> afterFailure) {
    using Result = std::invoke_result_t<Work&, records::RecordsRepository&>;
    ++pending_;
    // The answer comes back through the application object, which lives on this
    // window's thread; the window itself may be gone by then.
    QPointer<RecordsWindow> self(this);
    QObject* home = QCoreApplication::instance();
    const int lang = langBase_;
    db_.post(
        [self, home, work, done](records::RecordsRepository& repo) mutable {
            auto result = std::make_shared<Result>(work(repo));
            QMetaObject::invokeMethod(home, [self, done, result]() mutable {
                if (!self)
                    return;
                done(std::move(*result));
                --self->pending_;
            }, Qt::QueuedConnection);
        },
        [self, home, lang, tell, afterFailure](const records::RecordsError& e) {
            const std::string text = records::RecordsErrorText(e, lang);
            QMetaObject::invokeMethod(home, [self, text, tell, afterFailure] {
                if (!self)
                    return;
                self->failed(text, tell);
                if (afterFailure)
                    afterFailure();
                --self->pending_;
            }, Qt::QueuedConnection);
        });
}

void RecordsWindow::failed(const std::string& text, bool tell) {
    status_->setText(Q(text));
    status_->setStyleSheet(QStringLiteral("color: #b00000"));
    if (tell)
        dialogs_.showMessage(text);
}

std::optional<std::string> RecordsWindow::selectedSerial() const {
    const auto rows = dosimeters_->selectionModel()->selectedRows();
    if (rows.isEmpty() || !dosimeters_->item(rows.first().row(), 0))
        return std::nullopt;
    return dosimeters_->item(rows.first().row(), 0)->text().toStdString();
}

std::optional<std::string> RecordsWindow::selectedWearer() const {
    const auto rows = wearers_->selectionModel()->selectedRows();
    if (rows.isEmpty() || !wearers_->item(rows.first().row(), 0))
        return std::nullopt;
    return wearers_->item(rows.first().row(), 0)->text().toStdString();
}

void RecordsWindow::refresh() {
    // One look at a time; a request for another while one runs is taken after it.
    if (refreshing_) {
        refreshAgain_ = true;
        return;
    }
    refreshing_ = true;
    if (status_->text().isEmpty())
        status_->setText(Q(Tr(IDS_RW_READING, langBase_)));
    const int year = records::YearOf(now_());
    ask(
        [year](records::RecordsRepository& repo) {
            const records::DoseOfRecord records(repo);
            Overview o;
            o.year = year;
            o.dosimeters = repo.dosimeters();
            o.yearDoses = records.dosesByWearer(records::YearStart(year), records::YearStart(year + 1));
            o.fiveYearDoses = records.dosesByWearer(records::YearStart(year - 4), records::YearStart(year + 1));
            o.limits = records.limits();
            o.wearers = records.wearers();
            return o;
        },
        [this](Overview o) {
            refreshing_ = false;
            showOverview(o);
            overview_ = std::move(o);
            if (std::exchange(refreshAgain_, false))
                refresh();
        },
        false, [this] { refreshing_ = refreshAgain_ = false; });
}

void RecordsWindow::showOverview(const Overview& o) {
    status_->clear();
    status_->setStyleSheet(QString());
    const std::optional<std::string> serial = selectedSerial();
    const std::optional<std::string> wearer = selectedWearer();
    {
        // Refilled without a word to the readouts, which follow the selection once below.
        const QSignalBlocker quiet(dosimeters_);
        std::vector<QStringList> rows;
        for (const records::DosimeterSummary& d : o.dosimeters)
            rows.push_back({Q(d.serial), Q(d.model.value_or("-")),
                            Q(d.lastSeen ? records::FormatUtcTime(*d.lastSeen) : "-"), Q(d.wearer.value_or("-")),
                            Q(Dose(d.totalDose))});
        Fill(dosimeters_,
             {Q(Tr(IDS_RW_SERIAL, langBase_)), Q(Tr(IDS_RW_MODEL, langBase_)),
              Q(Tr(IDS_RW_LAST_READOUT, langBase_)), Q(Tr(IDS_RW_WEARER, langBase_)),
              Q(Tr(IDS_RW_TOTAL_DOSE, langBase_))},
             rows);
        SelectRowWith(dosimeters_, serial);
    }

    Fill(wearers_,
         {QStringLiteral("ID"), Q(Tr(IDS_RW_NAME, langBase_)), Q(Tr(IDS_RW_DOSIMETERS, langBase_)),
          Q(FillIn(Tr(IDS_RW_DOSE_YEAR, langBase_), {std::to_string(o.year)})),
          Q(FillIn(Tr(IDS_RW_DOSE_YEARS, langBase_), {std::to_string(o.year - 4), std::to_string(o.year)}))},
         {});
    wearers_->setRowCount(static_cast<int>(o.wearers.size()));
    for (int r = 0; r < static_cast<int>(o.wearers.size()); ++r) {
        const records::Wearer& w = o.wearers[static_cast<std::size_t>(r)];
        const auto y = o.yearDoses.find(w.id);
        const auto f = o.fiveYearDoses.find(w.id);
        const double yd = y == o.yearDoses.end() ? 0.0 : y->second;
        const double fd = f == o.fiveYearDoses.end() ? 0.0 : f->second;
        std::string serials;
        for (const std::string& s : w.dosimeters)
            serials += (serials.empty() ? "" : ", ") + s;
        const QStringList cells{Q(w.id), Q(w.name), Q(serials), Q(Dose(yd)), Q(Dose(fd))};
        for (int c = 0; c < cells.size(); ++c)
            wearers_->setItem(r, c, new QTableWidgetItem(cells[c]));
        // Red: a dose limit reached; amber: the investigation level.
        const auto exceeded = records::ExceededLimits(yd, fd, o.limits);
        auto reached = [&](const char* name) {
            return std::find(exceeded.begin(), exceeded.end(), name) != exceeded.end();
        };
        if (reached("annual") || reached("single_year"))
            wearers_->item(r, 3)->setBackground(QColor(255, 160, 160));
        else if (reached("investigation"))
            wearers_->item(r, 3)->setBackground(QColor(255, 220, 130));
        if (reached("five_year"))
            wearers_->item(r, 4)->setBackground(QColor(255, 160, 160));
    }
    wearers_->resizeColumnsToContents();
    SelectRowWith(wearers_, wearer);
    showReadouts();
}

void RecordsWindow::showReadouts() {
    const int asked = ++readoutsAsked_;
    const std::optional<std::string> serial = selectedSerial();
    const auto shown = [this, asked](const std::vector<records::ReadoutView>& list) {
        if (asked != readoutsAsked_)
            return; // the selection moved on meanwhile
        std::vector<QStringList> rows;
        std::vector<std::pair<records::UtcSeconds, double>> points;
        for (const records::ReadoutView& r : list) {
            std::string flags;
            for (const std::string& f : r.accounted.flags)
                flags += (flags.empty() ? "" : ", ") + f;
            rows.push_back({Q(records::FormatUtcTime(r.at)), Q(Dose(r.totalDose)), Q(Dose(r.accounted.increment)),
                            Q(flags), Q(r.wearer.value_or("-"))});
            if (r.totalDose)
                points.emplace_back(r.at, *r.totalDose);
        }
        Fill(readouts_,
             {Q(Tr(IDS_RW_TIME_UTC, langBase_)), Q(Tr(IDS_RW_TOTAL_DOSE, langBase_)),
              Q(Tr(IDS_RW_INCREMENT, langBase_)), Q(Tr(IDS_RW_FLAGS, langBase_)), Q(Tr(IDS_RW_WEARER, langBase_))},
             rows);
        chart_->setPoints(std::move(points));
    };
    if (!serial) {
        shown({});
        return;
    }
    ask([serial = *serial](records::RecordsRepository& repo) { return repo.readouts(serial); }, shown, false);
}

void RecordsWindow::addWearer() {
    const auto input = dialogs_.askNewWearer();
    if (!input)
        return;
    if (input->id.empty() || input->name.empty()) {
        dialogs_.showMessage(Tr(IDS_RW_NEED_ID_NAME, langBase_));
        return;
    }
    if (!input->born.empty() && !records::ParseUtcTime(input->born + "T00:00:00Z")) {
        dialogs_.showMessage(Tr(IDS_RW_BIRTH_DATE, langBase_));
        return;
    }
    for (const records::Wearer& w : overview_.wearers)
        if (w.id == input->id) {
            dialogs_.showMessage(FillIn(Tr(IDS_RW_WEARER_EXISTS, langBase_), {w.id}));
            return;
        }
    ask(
        [input = *input](records::RecordsRepository& repo) {
            records::DoseOfRecord(repo).addWearer(input.id, input.name,
                                                  input.born.empty() ? std::nullopt
                                                                     : std::optional<std::string>(input.born));
            return true;
        },
        [this](bool) { refresh(); });
}

void RecordsWindow::handOut() {
    const auto serial = selectedSerial();
    if (!serial) {
        dialogs_.showMessage(Tr(IDS_RW_SELECT_DOSIMETER, langBase_));
        return;
    }
    std::vector<std::pair<std::string, std::string>> choices;
    for (const records::Wearer& w : overview_.wearers)
        choices.emplace_back(w.id, w.name);
    if (choices.empty()) {
        dialogs_.showMessage(Tr(IDS_RW_ADD_WEARER_FIRST, langBase_));
        return;
    }
    const auto wearer = dialogs_.askWearer(choices);
    if (wearer)
        afterOptionalRead(*serial, [this, serial = *serial, wearer = *wearer] {
            ask(
                [serial, wearer, at = now_()](records::RecordsRepository& repo) {
                    records::DoseOfRecord(repo).assign(serial, wearer, at);
                    return true;
                },
                [this](bool) { refresh(); });
        });
}

void RecordsWindow::handBack() {
    const auto serial = selectedSerial();
    if (!serial) {
        dialogs_.showMessage(Tr(IDS_RW_SELECT_DOSIMETER, langBase_));
        return;
    }
    for (const records::DosimeterSummary& d : overview_.dosimeters)
        if (d.serial == *serial && !d.wearer) {
            dialogs_.showMessage(FillIn(Tr(IDS_RW_NO_WEARER, langBase_), {*serial}));
            return;
        }
    afterOptionalRead(*serial, [this, serial = *serial] {
        ask(
            [serial, at = now_()](records::RecordsRepository& repo) {
                records::DoseOfRecord(repo).unassign(serial, at);
                return true;
            },
            [this](bool) { refresh(); });
    });
}

void RecordsWindow::afterOptionalRead(const std::string& serial, std::function<void()> change) {
    const bool inRange = reading_.serialInRange && reading_.read && reading_.serialInRange() == serial;
    if (!inRange || !dialogs_.askYesNo(FillIn(Tr(IDS_RW_READ_FIRST, langBase_), {serial}))) {
        change();
        return;
    }
    // The window may be closed before the reply comes: then nothing is recorded.
    QPointer<RecordsWindow> self(this);
    const bool started = reading_.read([self, change] {
        if (self)
            change();
    });
    if (!started)
        dialogs_.showMessage(Tr(IDS_RW_NOT_READ, langBase_));
}

void RecordsWindow::exportTable(const std::string& table) {
    const auto file = dialogs_.askSaveFile(table + ".csv", Tr(IDS_RW_CSV_FILTER, langBase_));
    if (!file)
        return;
    // Read and written on the records thread: neither a slow server nor a slow disk
    // holds up the window.
    ask(
        [table, file = *file](records::RecordsRepository& repo) {
            std::string error;
            records::WriteWholeFile(file, records::ExportCsv(repo, table, std::nullopt), &error);
            return error;
        },
        [this](const std::string& error) {
            if (!error.empty())
                dialogs_.showMessage(error);
        });
}

void RecordsWindow::printReport() {
    const auto wearer = selectedWearer();
    if (!wearer) {
        dialogs_.showMessage(Tr(IDS_RW_SELECT_WEARER, langBase_));
        return;
    }
    const int year = records::YearOf(now_());
    const auto file = dialogs_.askSaveFile(*wearer + "-" + std::to_string(year) + ".pdf",
                                           Tr(IDS_RW_PDF_FILTER, langBase_));
    if (!file)
        return;
    ask(
        [wearer = *wearer, year](records::RecordsRepository& repo) {
            return records::BuildDoseRecordReport(records::DoseOfRecord(repo), wearer, year);
        },
        // Printed here: the PDF writer wants the window's thread for its fonts.
        [this, file = *file](const records::DoseRecordReport& report) {
            std::string error;
            if (!records::WriteDoseRecordPdf(report, file, &error, langBase_))
                dialogs_.showMessage(error);
        });
}

} // namespace dm
