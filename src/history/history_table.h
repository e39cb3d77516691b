#pragma once
// The history tabs' tables over a dose archive: the text of every cell is worked out when
// asked for, in the table's language, for the view, the saved tables and the CLI. Row 0
// holds the headings, column 0 the record numbers; a column of width 0 is hidden and shows
// the texts as received.
//   Dose, layout A: #, dose as received (hidden), dose, time from the history interval.
//   Dose, layout B: #, dose as received.
//   Neutron (layout A only): #, dose as received (hidden), dose, coefficient as received,
//                            time as received (hidden), time.
#include "core/language.h"
#include "history/dose_archive.h"

#include <string>
#include <vector>

namespace dm {

enum class HistoryTab { Dose, Neutron };

class HistoryTable {
public:
    // Without an archive: no rows, no columns.
    HistoryTable() = default;
    // The archive must outlive the table; a new parse into it shows at once.
    HistoryTable(const DoseArchive& archive, HistoryTab tab, Language language)
        : archive_(&archive), tab_(tab), language_(language) {}
    HistoryTable(DoseArchive&&, HistoryTab, int) = delete; // would outlive its archive

    // Relabels headings and shown values; the archive is not read again.
    void setLanguage(Language language) { language_ = language; }
    Language language() const { return language_; }

    // Heading row included. No rows and no columns for an archive not read yet, and for
    // the neutron table of a reply without a neutron section.
    int rowCount() const;
    int colCount() const;
    int colWidth(int col) const; // twips; 0 for a hidden column or one outside the table

    // A cell outside the table reads as empty text.
    std::string text(int row, int col) const;

private:
    enum class Shape { None, DoseA, DoseB, Neutron };
    Shape shape() const;

    const DoseArchive* archive_ = nullptr;
    HistoryTab tab_ = HistoryTab::Dose;
    Language language_ = Language::English;
};

// Labels of the history tabs after the parameter tab: one per table the archive fills.
std::vector<std::string> HistoryTabLabels(const DoseArchive& archive, Language language);

} // namespace dm
