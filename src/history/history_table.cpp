#include "history/history_table.h"

#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"

#include <limits>

namespace dm {
namespace {

int ClampRows(std::size_t records) {
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(records >= kMax ? kMax : records + 1);
}

} // namespace

HistoryTable::Shape HistoryTable::shape() const {
    if (!archive_)
        return Shape::None;
    switch (archive_->layout()) {
    case ArchiveLayout::None: return Shape::None;
    case ArchiveLayout::A: return tab_ == HistoryTab::Dose ? Shape::DoseA : Shape::Neutron;
    case ArchiveLayout::B: return tab_ == HistoryTab::Dose ? Shape::DoseB : Shape::None;
    }
    return Shape::None;
}

int HistoryTable::rowCount() const {
    switch (shape()) {
    case Shape::None: return 0;
    case Shape::DoseA:
    case Shape::DoseB: return ClampRows(archive_->gamma().size());
    case Shape::Neutron: return ClampRows(archive_->neutron().size());
    }
    return 0;
}

int HistoryTable::colCount() const {
    switch (shape()) {
    case Shape::None: return 0;
    case Shape::DoseA: return 4;
    case Shape::DoseB: return 2;
    case Shape::Neutron: return 6;
    }
    return 0;
}

int HistoryTable::colWidth(int col) const {
    static constexpr int kDoseA[] = {400, 0, 3000, 1000};
    static constexpr int kDoseB[] = {520, 2500};
    static constexpr int kNeutron[] = {520, 0, 2700, 2200, 0, 1000};
    if (col < 0 || col >= colCount())
        return 0;
    switch (shape()) {
    case Shape::None: return 0;
    case Shape::DoseA: return kDoseA[col];
    case Shape::DoseB: return kDoseB[col];
    case Shape::Neutron: return kNeutron[col];
    }
    return 0;
}

std::string HistoryTable::text(int row, int col) const {
    if (row < 0 || row >= rowCount() || col < 0 || col >= colCount())
        return {};
    const Shape s = shape();
    if (row == 0) {
        switch (s) {
        case Shape::DoseA: {
            static constexpr int kIds[] = {IDS_HASH, 0, IDS_DOSE_VALUE_A, IDS_TIME};
            return kIds[col] ? Tr(kIds[col], language_) : std::string();
        }
        case Shape::DoseB: return Tr(col == 0 ? IDS_HASH : IDS_DOSE_VALUE, language_);
        case Shape::Neutron: {
            static constexpr int kIds[] = {IDS_HASH, 0, IDS_NEUTRON_DOSE_VALUE, IDS_SPECTRUM_COEFF, 0, IDS_TIME};
            return kIds[col] ? Tr(kIds[col], language_) : std::string();
        }
        case Shape::None: return {};
        }
        return {};
    }
    if (col == 0)
        return std::to_string(row);
    const auto index = static_cast<std::size_t>(row - 1);
    if (s == Shape::Neutron) {
        const NeutronDoseRecord& r = archive_->neutron()[index];
        switch (col) {
        case 1: return std::string(archive_->text(r.doseText));
        case 2: return FormatDose(r.sv, language_);
        case 3: return std::string(archive_->text(r.coefficientText));
        case 4: return std::string(archive_->text(r.timeText));
        default: return FormatDuration(r.seconds);
        }
    }
    const GammaDoseRecord& r = archive_->gamma()[index];
    switch (col) {
    case 1: return std::string(archive_->text(r.doseText));
    case 2: return FormatDose(r.sv, language_);
    default: return FormatDuration(r.seconds);
    }
}

std::vector<std::string> HistoryTabLabels(const DoseArchive& archive, Language language) {
    switch (archive.layout()) {
    case ArchiveLayout::A: return {Tr(IDS_DOSE_HISTORY_A, language), Tr(IDS_NEUTRON_HISTORY, language)};
    case ArchiveLayout::B: return {Tr(IDS_DOSE_HISTORY_B, language)};
    case ArchiveLayout::None: return {};
    }
    return {};
}

} // namespace dm
