#include "app/records_window.h"
#include "qt/qt_text.h"

#include "core/format.h"
#include "core/string_table.h"
#include "records/dose_report_pdf.h"
#include "records/records_export.h"
#include "records/records_thread.h"
#include "records/utc_time.h"

#include <QApplication>
#include <QColor>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <type_traits>

namespace dm {
namespace {


// Rows picked whole; each column as wide as its contents, the `stretch` one taking the
// width left, so the table fills its room.
QTableView* MakeTable(const char* name, QAbstractItemModel* model, int stretch) {
    auto* table = new QTableView;
    table->setObjectName(QString::fromLatin1(name));
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(stretch, QHeaderView::Stretch);
    return table;
}

int SelectedRow(const QTableView* table) {
    const auto rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void SelectRow(QTableView* table, int row) {
    if (row >= 0)
        table->selectRow(row);
}

class QtRecordsDialogs : public RecordsDialogs {
public:
    QtRecordsDialogs(QWidget* parent, Language language) : parent_(parent), lang_(language) {}

    std::optional<NewWearer> askNewWearer(const NewWearer& typed) override {
        QDialog dialog(parent_);
        dialog.setWindowTitle(Q(Tr(IDS_RW_NEW_WEARER, lang_)));
        auto* form = new QFormLayout(&dialog);
        auto* id = new QLineEdit(Q(typed.id));
        auto* name = new QLineEdit(Q(typed.name));
        auto* born = new QLineEdit(Q(typed.born));
        born->setPlaceholderText(Q(Tr(IDS_RW_DATE_HINT, lang_)));
        form->addRow(Q(Tr(IDS_RW_ID, lang_)), id);
        form->addRow(Q(Tr(IDS_RW_NAME, lang_)), name);
        form->addRow(Q(Tr(IDS_RW_BORN, lang_)), born);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setText(Q(Tr(IDS_OK, lang_)));
        buttons->button(QDialogButtonBox::Cancel)->setText(Q(Tr(IDS_CANCEL, lang_)));
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        form->addRow(buttons);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return NewWearer{id->text().trimmed().toStdString(), name->text().trimmed().toStdString(),
                         born->text().trimmed().toStdString()};
    }

    std::optional<std::string> askWearer(const std::string& dosimeter,
                                         const std::vector<std::pair<std::string, std::string>>& wearers) override {
        QStringList items;
        for (const auto& [id, name] : wearers)
            items << Q(id + " " + name);
        QInputDialog dialog(parent_);
        dialog.setWindowTitle(Q(Tr(IDS_RW_HAND_OUT_TITLE, lang_)));
        dialog.setLabelText(Q(FillIn(Tr(IDS_RW_HAND_OUT_TO, lang_), {dosimeter})));
        dialog.setComboBoxItems(items);
        dialog.setComboBoxEditable(false);
        dialog.setOkButtonText(Q(Tr(IDS_OK, lang_)));
        dialog.setCancelButtonText(Q(Tr(IDS_CANCEL, lang_)));
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const auto at = items.indexOf(dialog.textValue());
        if (at < 0)
            return std::nullopt;
        return wearers[static_cast<std::size_t>(at)].first;
    }

    std::optional<std::string> askSaveFile(const std::string& suggested, const std::string& filter) override {
        const QString name = QFileDialog::getSaveFileName(parent_, QString(), Q(suggested), Q(filter));
        if (name.isEmpty())
            return std::nullopt;
        return name.toStdString();
    }

    void showMessage(const std::string& text) override { show(QMessageBox::Information, text); }
    void showWarning(const std::string& text) override { show(QMessageBox::Warning, text); }

    bool askYesNo(const std::string& text) override {
        QMessageBox box(QMessageBox::Question, Q(Tr(IDS_PROGRAM_NAME, lang_)), Q(text),
                        QMessageBox::Yes | QMessageBox::No, parent_);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }

private:
    void show(QMessageBox::Icon icon, const std::string& text) {
        QMessageBox box(icon, Q(Tr(IDS_PROGRAM_NAME, lang_)), Q(text), QMessageBox::Ok, parent_);
        box.exec();
    }

    QWidget* parent_;
    Language lang_;
};

} // namespace

// The selected dosimeter's total dose over time, one point per readout.
class TotalDoseChart : public QWidget {
public:
    explicit TotalDoseChart(Language language) : language_(language) {
        setObjectName(QStringLiteral("totalDoseChart"));
        setMinimumSize(360, 140);
    }
    void setPoints(std::vector<std::pair<records::UtcSeconds, double>> points) {
        points_ = std::move(points);
        update();
    }
    const std::vector<std::pair<records::UtcSeconds, double>>& points() const { return points_; }
    // The label at the top of the dose axis, as drawn.
    QString topLabel() const {
        double top = 0;
        for (const auto& pt : points_)
            top = std::max(top, pt.second);
        return Q(FormatDose(top > 0 ? top : 1.0, language_));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        const QString label = points_.empty() ? QString() : topLabel();
        // The plot starts right of the widest label, so the label is never cut.
        const int labelRoom = std::max(60, fontMetrics().horizontalAdvance(label) + 8);
        const QRectF area = QRectF(rect()).adjusted(labelRoom + 4, 10, -10, -20);
        p.setPen(Qt::gray);
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
        p.drawText(QRectF(0, area.top() - 5, labelRoom, fontMetrics().height()), Qt::AlignRight | Qt::TextDontClip,
                   label);
        auto date = [](records::UtcSeconds t) {
            return QLocale().toString(QDateTime::fromSecsSinceEpoch(t).date(), QLocale::ShortFormat);
        };
        p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignLeft, date(tMin->first));
        p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignRight, date(tMax->first));
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
    Language language_;
    std::vector<std::pair<records::UtcSeconds, double>> points_;
};

std::unique_ptr<RecordsDialogs> MakeQtRecordsDialogs(QWidget* parent, Language language) {
    return std::make_unique<QtRecordsDialogs>(parent, language);
}

RecordsWindow::RecordsWindow(records::RecordsThread& db, Language language, RecordsDialogs* dialogs,
                             std::function<records::UtcSeconds()> now, DosimeterReading reading)
    // A window of its own: no parent, so nothing keeps it above the main window.
    : QWidget(nullptr, Qt::Window), db_(db), language_(language),
      ownDialogs_(dialogs ? nullptr : MakeQtRecordsDialogs(this, language)),
      dialogs_(dialogs ? *dialogs : *ownDialogs_),
      now_(now ? std::move(now) : std::function<records::UtcSeconds()>(records::UtcNow)),
      reading_(std::move(reading)) {
    setObjectName(QStringLiteral("recordsWindow"));
    setWindowTitle(Q(Tr(IDS_MENU_RECORDS, language_)));
    auto* layout = new QVBoxLayout(this);
    database_ = new QLabel(Q(FillIn(Tr(IDS_RW_DATABASE, language_), {db_.displayName()})));
    database_->setObjectName(QStringLiteral("database"));
    layout->addWidget(database_);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("recordsStatus"));
    status_->setWordWrap(true);
    layout->addWidget(status_);

    dosimeterRows_ = new DosimeterTableModel(language_, this);
    readoutRows_ = new ReadoutTableModel(language_, this);
    wearerRows_ = new WearerTableModel(language_, this);
    auto* top = new QHBoxLayout;
    dosimeters_ = MakeTable("dosimeters", dosimeterRows_, DosimeterTableModel::Wearer);
    readouts_ = MakeTable("readouts", readoutRows_, ReadoutTableModel::Flags);
    top->addWidget(dosimeters_, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(readouts_, 1);
    chart_ = new TotalDoseChart(language_);
    right->addWidget(chart_);
    top->addLayout(right, 1);
    layout->addLayout(top, 2);
    wearers_ = MakeTable("wearers", wearerRows_, WearerTableModel::Name);
    layout->addWidget(wearers_, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, int text, auto slot) {
        auto* b = new QPushButton(Q(Tr(text, language_)));
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
    connect(dosimeters_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { showReadouts(); });
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
    const Language lang = language_;
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
        dialogs_.showWarning(text);
}

std::optional<std::string> RecordsWindow::selectedSerial() const {
    const int row = SelectedRow(dosimeters_);
    if (row < 0 || row >= static_cast<int>(dosimeterRows_->rows().size()))
        return std::nullopt;
    return dosimeterRows_->rows()[static_cast<std::size_t>(row)].serial;
}

std::optional<std::string> RecordsWindow::selectedWearer() const {
    const int row = SelectedRow(wearers_);
    if (row < 0 || row >= static_cast<int>(wearerRows_->rows().size()))
        return std::nullopt;
    return wearerRows_->rows()[static_cast<std::size_t>(row)].id;
}

std::string RecordsWindow::dosimeterText(const std::string& serial) const {
    const int row = dosimeterRows_->rowOf(serial);
    const auto& model = row < 0 ? std::nullopt : dosimeterRows_->rows()[static_cast<std::size_t>(row)].model;
    return model ? ShownModelName(*model, language_) + " " + serial : serial;
}

void RecordsWindow::refresh() {
    // One look at a time; a request for another while one runs is taken after it.
    if (refreshing_) {
        refreshAgain_ = true;
        return;
    }
    refreshing_ = true;
    if (status_->text().isEmpty())
        status_->setText(Q(Tr(IDS_RW_READING, language_)));
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
            showOverview(std::move(o));
            if (std::exchange(refreshAgain_, false))
                refresh();
        },
        false, [this] { refreshing_ = refreshAgain_ = false; });
}

void RecordsWindow::showOverview(Overview o) {
    status_->clear();
    status_->setStyleSheet(QString());
    const std::optional<std::string> serial = selectedSerial();
    const std::optional<std::string> wearer = selectedWearer();
    {
        // Refilled without a word to the readouts, which follow the selection once below.
        const QSignalBlocker quiet(dosimeters_->selectionModel());
        dosimeterRows_->setRows(std::move(o.dosimeters));
        if (serial)
            SelectRow(dosimeters_, dosimeterRows_->rowOf(*serial));
    }
    wearerRows_->setRows(std::move(o.wearers), o.yearDoses, o.fiveYearDoses, o.limits, o.year);
    if (wearer)
        SelectRow(wearers_, wearerRows_->rowOf(*wearer));
    showReadouts();
}

void RecordsWindow::showReadouts() {
    const int asked = ++readoutsAsked_;
    const std::optional<std::string> serial = selectedSerial();
    const auto shown = [this, asked](std::vector<records::ReadoutView> list) {
        if (asked != readoutsAsked_)
            return; // the selection moved on meanwhile
        std::vector<std::pair<records::UtcSeconds, double>> points;
        for (const records::ReadoutView& r : list)
            if (r.totalDose)
                points.emplace_back(r.at, *r.totalDose);
        readoutRows_->setRows(std::move(list));
        chart_->setPoints(std::move(points));
    };
    if (!serial) {
        shown({});
        return;
    }
    ask([serial = *serial](records::RecordsRepository& repo) { return repo.readouts(serial); }, shown, false);
}

void RecordsWindow::addWearer(const RecordsDialogs::NewWearer& typed) {
    const auto input = dialogs_.askNewWearer(typed);
    if (!input)
        return;
    // A refusal keeps what was typed: the dialog comes back with it.
    const auto refused = [this, input](const std::string& why) {
        dialogs_.showWarning(why);
        addWearer(*input);
    };
    if (input->id.empty() || input->name.empty())
        return refused(Tr(IDS_RW_NEED_ID_NAME, language_));
    if (!input->born.empty() && !records::ParseUtcTime(input->born + "T00:00:00Z"))
        return refused(Tr(IDS_RW_BIRTH_DATE, language_));
    if (wearerRows_->rowOf(input->id) >= 0)
        return refused(FillIn(Tr(IDS_RW_WEARER_EXISTS, language_), {input->id}));
    QPointer<RecordsWindow> self(this);
    ask(
        [input = *input](records::RecordsRepository& repo) {
            records::DoseOfRecord(repo).addWearer(input.id, input.name,
                                                  input.born.empty() ? std::nullopt
                                                                     : std::optional<std::string>(input.born));
            return true;
        },
        [this](bool) { refresh(); }, true,
        // The database said no (another station took the ID meanwhile, ...): told above,
        // then the dialog again with what was typed.
        [self, input = *input] {
            if (self)
                self->addWearer(input);
        });
}

void RecordsWindow::handOut() {
    const auto serial = selectedSerial();
    if (!serial) {
        dialogs_.showMessage(Tr(IDS_RW_SELECT_DOSIMETER, language_));
        return;
    }
    std::vector<std::pair<std::string, std::string>> choices;
    for (const records::Wearer& w : wearerRows_->rows())
        choices.emplace_back(w.id, w.name);
    if (choices.empty()) {
        dialogs_.showMessage(Tr(IDS_RW_ADD_WEARER_FIRST, language_));
        return;
    }
    const auto wearer = dialogs_.askWearer(dosimeterText(*serial), choices);
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
        dialogs_.showMessage(Tr(IDS_RW_SELECT_DOSIMETER, language_));
        return;
    }
    for (const records::DosimeterSummary& d : dosimeterRows_->rows())
        if (d.serial == *serial && !d.wearer) {
            dialogs_.showMessage(FillIn(Tr(IDS_RW_NO_WEARER, language_), {*serial}));
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
    if (!inRange || !dialogs_.askYesNo(FillIn(Tr(IDS_RW_READ_FIRST, language_), {serial}))) {
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
        dialogs_.showWarning(Tr(IDS_RW_NOT_READ, language_));
}

void RecordsWindow::exportTable(const std::string& table) {
    const auto file = dialogs_.askSaveFile(table + ".csv", Tr(IDS_RW_CSV_FILTER, language_));
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
                dialogs_.showWarning(error);
        });
}

void RecordsWindow::printReport() {
    const auto wearer = selectedWearer();
    if (!wearer) {
        dialogs_.showMessage(Tr(IDS_RW_SELECT_WEARER, language_));
        return;
    }
    const int year = records::YearOf(now_());
    const auto file = dialogs_.askSaveFile(*wearer + "-" + std::to_string(year) + ".pdf",
                                           Tr(IDS_RW_PDF_FILTER, language_));
    if (!file)
        return;
    ask(
        [wearer = *wearer, year](records::RecordsRepository& repo) {
            return records::BuildDoseRecordReport(records::DoseOfRecord(repo), wearer, year);
        },
        // Printed here: the PDF writer wants the window's thread for its fonts.
        [this, file = *file](const records::DoseRecordReport& report) {
            std::string error;
            if (!records::WriteDoseRecordPdf(report, file, &error, language_))
                dialogs_.showWarning(error);
        });
}

} // namespace dm
