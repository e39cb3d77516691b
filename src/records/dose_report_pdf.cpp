#include "records/dose_report_pdf.h"
#include "qt/qt_text.h"

#include "records/records_export.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <array>

namespace dm::records {
namespace {

constexpr int kDpi = 300;
constexpr qreal kMm = kDpi / 25.4; // device pixels per millimetre


// Greedy word wrap; a word wider than the line is broken between characters, so nothing
// is ever cut off.
QStringList Wrap(const QString& text, qreal width, const QFontMetricsF& metrics) {
    if (text.isEmpty() || metrics.horizontalAdvance(text) <= width)
        return {text};
    QStringList lines;
    QString line;
    for (QString word : text.split(QLatin1Char(' '))) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (metrics.horizontalAdvance(candidate) <= width) {
            line = candidate;
            continue;
        }
        if (!line.isEmpty())
            lines << line;
        while (word.size() > 1 && metrics.horizontalAdvance(word) > width) {
            qsizetype n = word.size() - 1;
            while (n > 1 && metrics.horizontalAdvance(word.left(n)) > width)
                --n;
            lines << word.left(n);
            word = word.mid(n);
        }
        line = word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

struct Font {
    QFont font;
    QFontMetricsF metrics;
    Font(QFont f, QPaintDevice* device) : font(std::move(f)), metrics(font, device) {}
    qreal line() const { return metrics.lineSpacing(); }
    qreal ascent() const { return metrics.ascent(); }
};

QFont MakeFont(qreal points, bool bold, bool italic) {
    QFont f = QGuiApplication::font();
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    // Without ligatures the PDF's text reads and searches as typed ("five", not "ﬁve").
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

// Lays the sheet out and paints it. The same walk runs twice: first without painting, to
// count the pages, then painting with "page X of Y" known. Rows are worded one at a time.
class Printer {
public:
    Printer(const DoseRecordSheet& sheet, QPdfWriter& writer)
        : sheet_(sheet), writer_(writer), width_(writer.width()), height_(writer.height()),
          body_(MakeFont(9, false, false), &writer), bold_(MakeFont(9, true, false), &writer),
          eventFont_(MakeFont(9, false, true), &writer), note_(MakeFont(7.5, false, true), &writer),
          small_(MakeFont(7.5, false, false), &writer), heading_(MakeFont(11, true, false), &writer),
          pad_(1.2 * kMm) {
        const qreal time = body_.metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 2 * pad_;
        const qreal number =
            std::max(body_.metrics.horizontalAdvance(QStringLiteral("-0000000.000")) + 2 * pad_, 0.13 * width_);
        const qreal widths[] = {time, 0.13 * width_, number, number};
        qreal x = 0;
        for (std::size_t c = 0; c + 1 < DoseRecordSheet::kColumns; ++c) {
            left_[c] = x;
            x += widths[c];
        }
        left_[DoseRecordSheet::kColumns - 1] = x;
        for (std::size_t c = 0; c < DoseRecordSheet::kColumns; ++c)
            header_[c] = Wrap(Q(sheet.columns()[c]), columnWidth(c) - 2 * pad_, bold_.metrics);
        printed_ = Q(sheet.footer());
        title_ = Q(sheet.title());
        period_ = Q(sheet.period());
        site_ = Q(sheet.site());
        wearer_ = Q(sheet.wearerLine());
    }

    void print() {
        painter_ = nullptr;
        walk();
        pages_ = page_;
        QPainter painter(&writer_);
        painter_ = &painter;
        walk();
        painter.end();
    }

private:
    qreal columnWidth(std::size_t c) const {
        return (c + 1 < DoseRecordSheet::kColumns ? left_[c + 1] : width_) - left_[c];
    }
    qreal footerTop() const { return height_ - small_.line() - 2 * kMm; }

    // Text at the top-left corner (x, y): its first baseline is y + ascent.
    void text(const Font& f, qreal x, qreal y, const QString& s) {
        if (painter_ && !s.isEmpty()) {
            painter_->setFont(f.font);
            painter_->drawText(QPointF(x, y + f.ascent()), s);
        }
    }
    void rightText(const Font& f, qreal right, qreal y, const QString& s) {
        text(f, right - f.metrics.horizontalAdvance(s), y, s);
    }
    void rule(qreal y) {
        if (painter_)
            painter_->drawLine(QPointF(0, y), QPointF(width_, y));
    }
    // Lines of text from y, wrapped to width; returns the height they take.
    qreal paragraph(const Font& f, qreal x, qreal y, qreal width, const QString& s) {
        const QStringList lines = Wrap(s, width, f.metrics);
        for (qsizetype i = 0; i < lines.size(); ++i)
            text(f, x, y + i * f.line(), lines[i]);
        return lines.size() * f.line();
    }

    // At most two lines, the second cut short with an ellipsis: the first page's
    // particulars give the text whole.
    qreal headingLines(const Font& f, qreal y, qreal width, const QString& s) {
        QStringList lines = Wrap(s, width, f.metrics);
        if (lines.size() > 2) {
            lines[1] = f.metrics.elidedText(lines.mid(1).join(QLatin1Char(' ')), Qt::ElideRight, width);
            lines.resize(2);
        }
        for (qsizetype i = 0; i < lines.size(); ++i)
            text(f, 0, y + i * f.line(), lines[i]);
        return lines.size() * f.line();
    }

    // Every page: the site and the title, the wearer and the period, a rule; the footer.
    void startPage() {
        if (page_ > 0 && painter_)
            writer_.newPage();
        ++page_;
        y_ = 0;
        const qreal titleWidth = heading_.metrics.horizontalAdvance(title_);
        const qreal periodWidth = body_.metrics.horizontalAdvance(period_);
        rightText(heading_, width_, y_, title_);
        y_ += std::max(headingLines(heading_, y_, width_ - titleWidth - 5 * kMm, site_), heading_.line());
        rightText(body_, width_, y_, period_);
        y_ += headingLines(body_, y_, width_ - periodWidth - 5 * kMm, wearer_) + kMm;
        rule(y_);
        y_ += 2 * kMm;
        const qreal footer = footerTop();
        rule(footer);
        text(small_, 0, footer + kMm, printed_);
        if (painter_)
            rightText(small_, width_, footer + kMm, Q(sheet_.pageNumber(page_, pages_)));
    }

    void tableHeader() {
        std::size_t lines = 1;
        for (std::size_t c = 0; c < DoseRecordSheet::kColumns; ++c) {
            lines = std::max<std::size_t>(lines, static_cast<std::size_t>(header_[c].size()));
            for (qsizetype k = 0; k < header_[c].size(); ++k) {
                const qreal top = y_ + k * bold_.line();
                if (c == DoseRecordSheet::kTotalColumn || c == DoseRecordSheet::kIncrementColumn)
                    rightText(bold_, left_[c] + columnWidth(c) - pad_, top, header_[c][k]);
                else
                    text(bold_, left_[c] + pad_, top, header_[c][k]);
            }
        }
        y_ += lines * bold_.line() + 0.5 * kMm;
        rule(y_);
        y_ += 0.8 * kMm;
    }

    // A cell's lines; the cells that repeat (serials, notes) are wrapped once.
    QStringList cellLines(std::size_t c, const std::string& s, const Font& f) {
        const QString q = Q(s);
        if (c == 0)
            return {q}; // a time, which the column is made to hold
        if ((c == DoseRecordSheet::kTotalColumn || c == DoseRecordSheet::kIncrementColumn) && q.size() <= 12)
            return {q};
        auto& cache = wrapped_[c];
        if (auto it = cache.constFind(q); it != cache.constEnd())
            return *it;
        QStringList lines = Wrap(q, columnWidth(c) - 2 * pad_, f.metrics);
        if (cache.size() < 4096)
            cache.insert(q, lines);
        return lines;
    }

    void tableRow(std::size_t i) {
        const ReportRow row = sheet_.row(i);
        const Font& f = row.event ? eventFont_ : body_;
        std::array<QStringList, DoseRecordSheet::kColumns> cells;
        qsizetype lines = 1;
        for (std::size_t c = 0; c < DoseRecordSheet::kColumns; ++c) {
            cells[c] = cellLines(c, row.cells[c], f);
            lines = std::max(lines, cells[c].size());
        }
        // A row starts on the next page when it does not fit here but would there; one
        // taller than a page (a serial of thousands of characters) goes on line by line.
        const qreal bottom = footerTop() - kMm;
        if (y_ + lines * f.line() > bottom && lines * f.line() <= bottom - rowsTop_)
            newTablePage();
        for (qsizetype k = 0; k < lines; ++k) {
            if (y_ + f.line() > bottom)
                newTablePage();
            if (row.event && painter_)
                painter_->fillRect(QRectF(0, y_, width_, f.line()), QColor(232, 232, 232));
            for (std::size_t c = 0; c < DoseRecordSheet::kColumns; ++c) {
                if (k >= cells[c].size())
                    continue;
                if (c == DoseRecordSheet::kTotalColumn || c == DoseRecordSheet::kIncrementColumn)
                    rightText(f, left_[c] + columnWidth(c) - pad_, y_, cells[c][k]);
                else
                    text(f, left_[c] + pad_, y_, cells[c][k]);
            }
            y_ += f.line();
        }
        // Each correction under the row it corrects; a long reason may go on to the next page.
        for (const std::string& correction : row.corrections)
            for (const QString& line : Wrap(Q(correction), width_ - left_[1] - 2 * pad_, note_.metrics)) {
                if (y_ + note_.line() > bottom)
                    newTablePage();
                text(note_, left_[1] + pad_, y_, line);
                y_ += note_.line();
            }
    }

    void newTablePage() {
        startPage();
        tableHeader();
        rowsTop_ = y_;
    }

    // The first page's particulars: label and text, the text wrapped beside the label.
    void particulars() {
        const auto items = sheet_.particulars();
        qreal labelWidth = 0;
        for (const auto& [label, value] : items)
            labelWidth = std::max(labelWidth, bold_.metrics.horizontalAdvance(Q(label) + QStringLiteral(":")));
        labelWidth += 3 * kMm;
        for (const auto& [label, value] : items) {
            text(bold_, 0, y_, Q(label) + QStringLiteral(":"));
            y_ += std::max(paragraph(body_, labelWidth, y_, width_ - labelWidth, Q(value)), body_.line());
        }
        y_ += 3 * kMm;
    }

    // The doses against the limits, the limits reached in words, the signature lines;
    // returns the height. Kept together on one page.
    qreal closing(qreal y) {
        const qreal top = y;
        // What | dose (right) | limit or level | its value (right) | reached.
        const qreal lefts[] = {0, 0, 0.45 * width_, 0, 0.86 * width_};
        const qreal widths[] = {0.28 * width_, 0, 0.26 * width_, 0, 0.14 * width_};
        const qreal rights[] = {0, 0.42 * width_, 0, 0.83 * width_, 0};
        bool header = true;
        for (const DoseRecordSheet::SummaryRow& row : sheet_.summary()) {
            qreal height = body_.line();
            for (std::size_t c = 0; c < row.cells.size(); ++c) {
                const Font& f = header || (c == 4 && row.reached) ? bold_ : body_;
                const QString s = Q(row.cells[c]);
                if (rights[c] > 0)
                    rightText(f, rights[c], y, s);
                else
                    height = std::max(height, paragraph(f, lefts[c], y, widths[c], s));
            }
            y += height;
            if (header) {
                rule(y + 0.3 * kMm);
                y += kMm;
                header = false;
            }
        }
        y += 2 * kMm;
        for (const std::string& line : sheet_.conclusions())
            y += paragraph(bold_, 0, y, width_, Q(line));
        y += 8 * kMm;
        const QString signature = Q(sheet_.signatureWord()) + QStringLiteral(":");
        const QString date = Q(sheet_.dateWord()) + QStringLiteral(":");
        const qreal dateAt = 0.62 * width_;
        for (const std::string& who : sheet_.signatures()) {
            y += paragraph(body_, 0, y, width_, Q(who)) + 7 * kMm;
            text(body_, 0, y, signature);
            text(body_, dateAt, y, date);
            if (painter_) {
                const qreal base = y + body_.ascent() + 0.5 * kMm;
                painter_->drawLine(QPointF(body_.metrics.horizontalAdvance(signature) + 2 * kMm, base),
                                   QPointF(dateAt - 6 * kMm, base));
                painter_->drawLine(QPointF(dateAt + body_.metrics.horizontalAdvance(date) + 2 * kMm, base),
                                   QPointF(width_, base));
            }
            y += body_.line() + 6 * kMm;
        }
        return y - top;
    }

    void walk() {
        page_ = 0;
        startPage();
        particulars();
        tableHeader();
        rowsTop_ = y_;
        if (!sheet_.hasReadouts())
            y_ += paragraph(body_, pad_, y_, width_ - 2 * pad_, Q(sheet_.noReadouts()));
        for (std::size_t i = 0; i < sheet_.rowCount(); ++i)
            tableRow(i);
        y_ += 4 * kMm;
        // Measured without painting, then painted where it fits whole.
        QPainter* painter = painter_;
        painter_ = nullptr;
        const qreal height = closing(y_);
        painter_ = painter;
        if (y_ + height > footerTop() - kMm)
            startPage();
        closing(y_);
    }

    const DoseRecordSheet& sheet_;
    QPdfWriter& writer_;
    const qreal width_, height_;
    Font body_, bold_, eventFont_, note_, small_, heading_;
    const qreal pad_;
    std::array<qreal, DoseRecordSheet::kColumns> left_{};
    std::array<QStringList, DoseRecordSheet::kColumns> header_;
    std::array<QHash<QString, QStringList>, DoseRecordSheet::kColumns> wrapped_;
    QString printed_, title_, period_, site_, wearer_;
    QPainter* painter_ = nullptr;
    int page_ = 0, pages_ = 0;
    qreal y_ = 0;
    qreal rowsTop_ = 0; // where the rows begin on the current page
};

} // namespace

std::string DoseRecordPdf(const DoseRecordReport& report, Language language) {
    const DoseRecordSheet sheet(report, language);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        writer.setResolution(kDpi);
        writer.setCreator(QStringLiteral("dosimeter-manager"));
        writer.setTitle(Q(sheet.title() + " \xE2\x80\x94 " + sheet.wearerLine()));
        Printer(sheet, writer).print();
    }
    return buffer.data().toStdString();
}

bool WriteDoseRecordPdf(const DoseRecordReport& report, const std::string& path, std::string* error, Language language) {
    return WriteWholeFile(path, DoseRecordPdf(report, language), error);
}

} // namespace dm::records
