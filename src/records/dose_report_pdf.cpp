#include "records/dose_report_pdf.h"

#include <QFont>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace dm::records {

bool WriteDoseRecordPdf(const DoseRecordReport& report, const std::string& path, std::string* error) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        *error = path + ": cannot be written: " + file.errorString().toStdString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Dose record %1 %2")
                            .arg(QString::fromStdString(report.annual.wearer))
                            .arg(report.annual.year));
        QTextDocument document;
        // Without ligatures the PDF's text reads and searches as typed ("five", not "ﬁve").
        QFont font = document.defaultFont();
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        document.setHtml(QString::fromStdString(DoseRecordHtml(report)));
        document.print(&writer);
    }
    if (!file.commit()) {
        *error = path + ": cannot be written: " + file.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace dm::records
