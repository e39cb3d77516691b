#pragma once
// The parameter table for Qt views: an item model over the parameter set and the rows the
// catalogue picks. A model row is a parameter row (its key is the row's key, no hidden
// column); column 0 is the name, column 1 the value. Every text and colour comes from the
// row presentation, every edit goes straight into the set: the model keeps no copy of a value.
#include "core/language.h"
#include "core/message_sink.h"
#include "grid/cell_roles.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"
#include "params/row_presentation.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

class ParameterTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kNameColumn = 0;
    static constexpr int kValueColumn = 1;

    // The set is the window's; it must outlive the model.
    explicit ParameterTableModel(ParameterSet& set, QObject* parent = nullptr);

    // Who is asked the history-interval question; without one the edit is refused.
    void setDialogs(UserDialogs* dialogs) { dialogs_ = dialogs; }

    // The rows again from the set: after a reply, or a switch of language or access. A set
    // without a reply gives no rows. The state gets the model, caption and history settings.
    void fill(std::string_view catalogue, Language language, int access, ParameterTableState& state);
    // No rows; the heading in this language.
    void clear(Language language);

    // Values refused before sending or not taken by the dosimeter, by row key.
    void setRefusedKeys(const std::set<std::string>& keys);
    // The dosimeter left: every cell greyed and read-only; values and edits stay.
    void setOutOfRange(bool out);
    bool outOfRange() const { return outOfRange_; }

    const std::vector<ParameterRow>& rows() const { return rows_; }
    bool isEmpty() const { return rows_.empty(); }
    // The model row whose key is key, or -1.
    int rowOfKey(std::string_view key) const;
    // The text a cell shows (empty outside the table).
    std::string text(int row, int column) const;
    // What "Save current table as..." writes for this table.
    std::string fileBytes() const;

    // Before an editor opens on the cell: false when the user answers No to the
    // history-interval question (or nobody can be asked), and no editor may open.
    bool beginEdit(const QModelIndex& index);
    // Grows with every refill: a view compares it around beginEdit.
    std::uint64_t generation() const { return generation_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // An edit of the cell's text (Qt::EditRole) or of the signal type: applied to the set
    // by the row presentation's rules; the history-interval question is asked when no
    // editor asked it before.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The set took an edit of this row (key: the row's key; empty for the signal and
    // limit row).
    void valueEdited(const QString& key);

private:
    RowPresentation present(int row) const;
    void changedAll();

    ParameterSet& set_;
    UserDialogs* dialogs_ = nullptr;
    std::vector<ParameterRow> rows_;
    Language language_ = Language::English;
    std::set<std::string> refused_;
    bool outOfRange_ = false;
    std::uint64_t generation_ = 0; // counts the refills: an edit begun before one is void
    // The cell whose edit began (its question answered); setData asks for any other.
    QPersistentModelIndex begun_;
};

} // namespace dm
