// "Save current table as..." and the CSV export of a history tab.
#include "app/main_window.h"

#include "core/string_table.h"
#include "grid/parameter_table_model.h"
#include "history/history_csv.h"
#include "history/table_save.h"

#include <QTabBar>

using dm::Tr;

std::string MainWindow::currentTableBytes() const {
    switch (tabs_->currentIndex()) {
    case 0: return grid_->fileBytes();
    case 1: return dm::DoseTableFileBytes(*doseTable_);
    case 2: return dm::NeutronTableFileBytes(*neutronTable_);
    default: return {};
    }
}

bool MainWindow::currentTableEmpty() const {
    switch (tabs_->currentIndex()) {
    case 0: return grid_->isEmpty();
    case 1: return doseTable_->rowCount() <= 1;
    case 2: return neutronTable_->rowCount() <= 1;
    default: return true;
    }
}

void MainWindow::saveCurrentTable() {
    // A table without a row of data would give an empty file, or one of headings only.
    if (currentTableEmpty() || currentTableBytes().empty()) {
        services_.dialogs->showMessage(Tr(dm::IDS_TABLE_EMPTY, language_));
        return;
    }
    const dm::SaveResult result = dm::SaveTableFile(*services_.dialogs, language_, currentTableBytes());
    // A failure has already been told to the user by the save itself.
    if (result.skipName && services_.addSkipFile)
        services_.addSkipFile(*result.skipName);
}

void MainWindow::exportCurrentTableCsv() {
    const int tab = tabs_->currentIndex();
    if (tab != 1 && tab != 2)
        return;
    const dm::HistoryTab which = tab == 1 ? dm::HistoryTab::Dose : dm::HistoryTab::Neutron;
    const std::string bytes =
        dm::HistoryCsvBytes(controller_->archive(), tab == 1 ? *doseTable_ : *neutronTable_, which);
    if (bytes.empty()) {
        services_.dialogs->showMessage(Tr(dm::IDS_TABLE_EMPTY, language_));
        return;
    }
    // The same file flow as a saved table: asked name, overwrite question, whole-file replace.
    const dm::SaveResult result = dm::SaveTableFile(*services_.dialogs, language_, bytes);
    if (result.skipName && services_.addSkipFile)
        services_.addSkipFile(*result.skipName);
}
