#include "app/records_window.h"

#include "core/format.h"
#include "core/string_table.h"
#include "records/dose_report_pdf.h"
#include "records/records_export.h"
#include "records/utc_time.h"

#include <QBrush>
#include <QColor>
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
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

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

class QtRecordsDialogs : public RecordsDialogs {
public:
    QtRecordsDialogs(QWidget* parent, int langBase) : parent_(parent), ru_(langBase == kLangRussian) {}

    std::optional<NewWearer> askNewWearer() override {
        QDialog dialog(parent_);
        dialog.setWindowTitle(ru_ ? QString::fromUtf8("Новый носитель") : QStringLiteral("New wearer"));
        auto* form = new QFormLayout(&dialog);
        auto* id = new QLineEdit;
        auto* name = new QLineEdit;
        auto* born = new QLineEdit;
        born->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
        form->addRow(QStringLiteral("ID"), id);
        form->addRow(ru_ ? QString::fromUtf8("Имя") : QStringLiteral("Name"), name);
        form->addRow(ru_ ? QString::fromUtf8("Дата рождения") : QStringLiteral("Born"), born);
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
        const QString chosen = QInputDialog::getItem(parent_, ru_ ? QString::fromUtf8("Выдать дозиметр") : QStringLiteral("Hand out"),
                                                     ru_ ? QString::fromUtf8("Кому:") : QStringLiteral("To:"), items, 0, false, &ok);
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
    bool ru_;
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

RecordsWindow::RecordsWindow(records::RecordsRepository& repo, int langBase, RecordsDialogs& dialogs,
                             QWidget* parent, std::function<records::UtcSeconds()> now, DosimeterReading reading)
    : QDialog(parent), repo_(repo), records_(repo), langBase_(langBase), dialogs_(dialogs),
      now_(now ? std::move(now) : std::function<records::UtcSeconds()>(records::UtcNow)),
      reading_(std::move(reading)) {
    setObjectName(QStringLiteral("recordsWindow"));
    setWindowTitle(Q(text("Records", "Учёт доз")));
    auto* layout = new QVBoxLayout(this);
    database_ = new QLabel(Q(text("Database: ", "База данных: ") + repo.displayName()));
    database_->setObjectName(QStringLiteral("database"));
    layout->addWidget(database_);

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
    auto button = [&](const char* name, const std::string& caption, auto slot) {
        auto* b = new QPushButton(Q(caption));
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    button("addWearer", text("Add wearer...", "Добавить носителя..."), [this] { addWearer(); });
    button("handOut", text("Hand out...", "Выдать..."), [this] { handOut(); });
    button("handBack", text("Hand back", "Принять обратно"), [this] { handBack(); });
    button("exportReadouts", text("Export readouts...", "Экспорт показаний..."), [this] { exportTable("readouts"); });
    button("exportDoses", text("Export doses...", "Экспорт доз..."), [this] { exportTable("doses"); });
    button("report", text("Dose record (PDF)...", "Карточка доз (PDF)..."), [this] { printReport(); });
    layout->addLayout(buttons);
    connect(dosimeters_, &QTableWidget::itemSelectionChanged, this, [this] { showReadouts(); });
    resize(1000, 640);
    refresh();
}

std::string RecordsWindow::text(const std::string& en, const std::string& ru) const {
    return langBase_ == kLangRussian ? ru : en;
}

bool RecordsWindow::attempt(const std::function<void()>& request) {
    try {
        request();
        return true;
    } catch (const records::RecordsError& e) {
        dialogs_.showMessage(e.what());
        return false;
    }
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
    const std::optional<std::string> serial = selectedSerial();
    attempt([&] {
        std::vector<QStringList> rows;
        for (const records::DosimeterSummary& d : repo_.dosimeters())
            rows.push_back({Q(d.serial), Q(d.model.value_or("-")),
                            Q(d.lastSeen ? records::FormatUtcTime(*d.lastSeen) : "-"), Q(d.wearer.value_or("-")),
                            Q(Dose(d.totalDose))});
        Fill(dosimeters_,
             {Q(text("Serial", "Номер")), Q(text("Model", "Модель")), Q(text("Last readout", "Последнее чтение")),
              Q(text("Wearer", "Носитель")), Q(text("Total dose", "Полная доза"))},
             rows);

        const int year = records::YearOf(now_());
        const auto yearDoses = records_.dosesByWearer(records::YearStart(year), records::YearStart(year + 1));
        const auto fiveYears = records_.dosesByWearer(records::YearStart(year - 4), records::YearStart(year + 1));
        const records::DoseLimits limits = records_.limits();
        const auto wearers = records_.wearers();
        Fill(wearers_,
             {QStringLiteral("ID"), Q(text("Name", "Имя")), Q(text("Dosimeters", "Дозиметры")),
              Q(text("Dose ", "Доза ") + std::to_string(year)),
              Q(text("Dose ", "Доза ") + std::to_string(year - 4) + "-" + std::to_string(year))},
             {});
        wearers_->setRowCount(static_cast<int>(wearers.size()));
        for (int r = 0; r < static_cast<int>(wearers.size()); ++r) {
            const records::Wearer& w = wearers[static_cast<std::size_t>(r)];
            const auto y = yearDoses.find(w.id);
            const auto f = fiveYears.find(w.id);
            const double yd = y == yearDoses.end() ? 0.0 : y->second;
            const double fd = f == fiveYears.end() ? 0.0 : f->second;
            std::string serials;
            for (const std::string& s : w.dosimeters)
                serials += (serials.empty() ? "" : ", ") + s;
            const QStringList cells{Q(w.id), Q(w.name), Q(serials), Q(Dose(yd)), Q(Dose(fd))};
            for (int c = 0; c < cells.size(); ++c)
                wearers_->setItem(r, c, new QTableWidgetItem(cells[c]));
            // Red: a dose limit reached; amber: the investigation level.
            const auto exceeded = records::ExceededLimits(yd, fd, limits);
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
    });
    if (serial)
        for (int r = 0; r < dosimeters_->rowCount(); ++r)
            if (dosimeters_->item(r, 0)->text().toStdString() == *serial)
                dosimeters_->selectRow(r);
    showReadouts();
}

void RecordsWindow::showReadouts() {
    const std::optional<std::string> serial = selectedSerial();
    std::vector<QStringList> rows;
    std::vector<std::pair<records::UtcSeconds, double>> points;
    if (serial)
        attempt([&] {
            for (const records::ReadoutView& r : repo_.readouts(*serial)) {
                std::string flags;
                for (const std::string& f : r.accounted.flags)
                    flags += (flags.empty() ? "" : ", ") + f;
                rows.push_back({Q(records::FormatUtcTime(r.at)), Q(Dose(r.totalDose)), Q(Dose(r.accounted.increment)),
                                Q(flags), Q(r.wearer.value_or("-"))});
                if (r.totalDose)
                    points.emplace_back(r.at, *r.totalDose);
            }
        });
    Fill(readouts_,
         {Q(text("Time (UTC)", "Время (UTC)")), Q(text("Total dose", "Полная доза")),
          Q(text("Increment", "Прирост")), Q(text("Flags", "Отметки")), Q(text("Wearer", "Носитель"))},
         rows);
    chart_->setPoints(std::move(points));
}

void RecordsWindow::addWearer() {
    const auto input = dialogs_.askNewWearer();
    if (!input)
        return;
    if (input->id.empty() || input->name.empty()) {
        dialogs_.showMessage(text("A wearer needs an ID and a name.", "Нужны ID и имя носителя."));
        return;
    }
    if (!input->born.empty() && !records::ParseUtcTime(input->born + "T00:00:00Z")) {
        dialogs_.showMessage(text("The date of birth must be YYYY-MM-DD.", "Дата рождения: ГГГГ-ММ-ДД."));
        return;
    }
    if (attempt([&] {
            records_.addWearer(input->id, input->name,
                               input->born.empty() ? std::nullopt : std::optional<std::string>(input->born));
        }))
        refresh();
}

void RecordsWindow::handOut() {
    const auto serial = selectedSerial();
    if (!serial) {
        dialogs_.showMessage(text("Select a dosimeter first.", "Сначала выберите дозиметр."));
        return;
    }
    std::vector<std::pair<std::string, std::string>> choices;
    attempt([&] {
        for (const records::Wearer& w : records_.wearers())
            choices.emplace_back(w.id, w.name);
    });
    if (choices.empty()) {
        dialogs_.showMessage(text("Add a wearer first.", "Сначала добавьте носителя."));
        return;
    }
    const auto wearer = dialogs_.askWearer(choices);
    if (wearer)
        afterOptionalRead(*serial, [this, serial = *serial, wearer = *wearer] {
            if (attempt([&] { records_.assign(serial, wearer, now_()); }))
                refresh();
        });
}

void RecordsWindow::handBack() {
    const auto serial = selectedSerial();
    if (!serial) {
        dialogs_.showMessage(text("Select a dosimeter first.", "Сначала выберите дозиметр."));
        return;
    }
    afterOptionalRead(*serial, [this, serial = *serial] {
        if (attempt([&] { records_.unassign(serial, now_()); }))
            refresh();
    });
}

void RecordsWindow::afterOptionalRead(const std::string& serial, std::function<void()> change) {
    const bool inRange = reading_.serialInRange && reading_.read && reading_.serialInRange() == serial;
    if (!inRange || !dialogs_.askYesNo(text("Dosimeter " + serial + " is in range. Read it first?",
                                            "Дозиметр " + serial + " в зоне связи. Сначала прочитать его?"))) {
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
        dialogs_.showMessage(text("The dosimeter could not be read now; nothing was recorded.",
                                  "Дозиметр сейчас не прочитать; ничего не записано."));
}

void RecordsWindow::exportTable(const std::string& table) {
    const auto file = dialogs_.askSaveFile(table + ".csv", text("CSV file (*.csv)", "Файл CSV (*.csv)"));
    if (!file)
        return;
    std::string bytes;
    if (!attempt([&] { bytes = records::ExportCsv(repo_, table, std::nullopt); }))
        return;
    std::string error;
    if (!records::WriteWholeFile(*file, bytes, &error))
        dialogs_.showMessage(error);
}

void RecordsWindow::printReport() {
    const auto wearer = selectedWearer();
    if (!wearer) {
        dialogs_.showMessage(text("Select a wearer first.", "Сначала выберите носителя."));
        return;
    }
    const int year = records::YearOf(now_());
    const auto file = dialogs_.askSaveFile(*wearer + "-" + std::to_string(year) + ".pdf",
                                           text("PDF file (*.pdf)", "Файл PDF (*.pdf)"));
    if (!file)
        return;
    records::DoseRecordReport report;
    if (!attempt([&] { report = records::BuildDoseRecordReport(records_, *wearer, year); }))
        return;
    std::string error;
    if (!records::WriteDoseRecordPdf(report, *file, &error, langBase_))
        dialogs_.showMessage(error);
}

} // namespace dm
