#include "grid/grid_view.h"
#include "qt/qt_text.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QAction>
#include <QPointer>
#include <QScrollBar>
#include <QHelpEvent>
#include <QStyle>
#include <QTimer>
#include <QToolTip>

namespace dm {

namespace {

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }


// The editor property a signal type chosen from its drop-down travels in.
constexpr const char* kChosenSignalType = "dmChosenSignalType";

} // namespace

// ---------------------------------------------------------------- item model

GridItemModel::GridItemModel(GridModel& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
    shownRows_ = rowCount();
    shownCols_ = columnCount();
    shownFixedRows_ = grid_.fixedRowCount();
}

int GridItemModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return qMax(0, grid_.rowCount() - grid_.fixedRowCount());
}

int GridItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.colCount();
}

QVariant GridItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const int row = gridRow(index.row());
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return Q(grid_.text(row, col));
    case Qt::BackgroundRole:
        return QBrush(ToQColor(grid_.background(row, col)));
    case Qt::ForegroundRole:
        return QBrush(Qt::black);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case kCellOptionsRole: {
        if (grid_.kind(row, col) != CellKind::List)
            return {};
        QStringList options;
        for (const std::string& option : grid_.options(row, col))
            options << Q(option);
        return options;
    }
    default:
        return {};
    }
}

bool GridItemModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    const int row = gridRow(index.row());
    const int col = index.column();
    const std::string text = value.toString().toStdString();
    if (endEdit_)
        endEdit_(row, col, text);
    else if (text != grid_.text(row, col))
        grid_.setText(row, col, text);
    emit dataChanged(index, index);
    return true;
}

QVariant GridItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) {
        // Several fixed rows show as one heading of several lines.
        QStringList lines;
        for (int r = 0; r < grid_.fixedRowCount(); ++r)
            lines << Q(grid_.text(r, section));
        return lines.join(QLatin1Char('\n'));
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
    if (role == Qt::BackgroundRole)
        return QBrush(ToQColor(grid_.fixedBackground()));
    return {};
}

Qt::ItemFlags GridItemModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (grid_.canEdit(gridRow(index.row()), index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

void GridItemModel::refresh() {
    const int rows = rowCount();
    const int cols = columnCount();
    if (rows != shownRows_ || cols != shownCols_ || grid_.fixedRowCount() != shownFixedRows_) {
        beginResetModel();
        shownRows_ = rows;
        shownCols_ = cols;
        shownFixedRows_ = grid_.fixedRowCount();
        endResetModel();
        return;
    }
    if (cols > 0) {
        if (rows > 0)
            emit dataChanged(index(0, 0), index(rows - 1, cols - 1));
        emit headerDataChanged(Qt::Horizontal, 0, cols - 1);
    }
}

// ---------------------------------------------------------------- delegate

bool CutTextTipDelegate::cutsText(const QAbstractItemView* view, const QModelIndex& index) const {
    if (!view || !index.isValid())
        return false;
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = view->visualRect(index);
    initStyleOption(&option, index);
    if (option.text.isEmpty())
        return false;
    const QStyle* style = view->style();
    const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    // The style keeps a margin on either side of the text inside that rectangle.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return option.fontMetrics.horizontalAdvance(option.text) > room.width() - 2 * margin;
}

bool CutTextTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (!event || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!cutsText(view, index)) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                       view->visualRect(index));
    return true;
}

QWidget* GridCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& /*option*/,
                                        const QModelIndex& index) const {
    // A list cell (from any model that names its options) offers those and nothing else.
    if (const QStringList options = index.data(kCellOptionsRole).toStringList(); !options.isEmpty()) {
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        combo->addItems(options);
        combo->setFrame(false);
        return combo;
    }
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    const QStringList types = index.data(kSignalTypesRole).toStringList();
    if (!types.isEmpty()) {
        // The signal row's value: its limit is typed, its signal type chosen from the
        // drop-down at the cell's right end.
        QAction* drop = edit->addAction(edit->style()->standardIcon(QStyle::SP_ArrowDown),
                                        QLineEdit::TrailingPosition);
        drop->setObjectName(QStringLiteral("signalTypes"));
        auto* menu = new QMenu(edit);
        menu->setObjectName(QStringLiteral("signalTypeMenu"));
        // Choosing ends the edit: the limit typed is committed, then the type chosen.
        auto* self = const_cast<GridCellDelegate*>(this);
        for (const QString& type : types) {
            connect(menu->addAction(type), &QAction::triggered, edit, [self, edit, type] {
                edit->setProperty(kChosenSignalType, type);
                emit self->commitData(edit);
                emit self->closeEditor(edit, QAbstractItemDelegate::NoHint);
            });
        }
        connect(drop, &QAction::triggered, edit,
                [edit, menu] { menu->popup(edit->mapToGlobal(QPoint(edit->width(), edit->height())) -
                                           QPoint(menu->sizeHint().width(), 0)); });
    }
    return edit;
}

void GridCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QString text = index.data(Qt::EditRole).toString();
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly));
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
        edit->setText(text);
        edit->selectAll();
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void GridCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        // No option chosen (the cell held none of them): the cell keeps its text.
        const QString text = combo->currentIndex() < 0 ? index.data(Qt::EditRole).toString()
                                                        : combo->currentText();
        model->setData(index, text, Qt::EditRole);
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
        model->setData(index, edit->text(), Qt::EditRole);
        // The limit typed first, then the type chosen keeps it.
        if (const QVariant type = edit->property(kChosenSignalType); type.isValid())
            model->setData(index, type, kChooseSignalTypeRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool GridCellDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Tab ends the edit like Enter; it does not walk on into the next cell's editor,
        // which would start (and mark) an edit the user did not ask for.
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

// ---------------------------------------------------------------- view

GridView::GridView(GridModel& grid, QWidget* parent)
    : QTableView(parent), grid_(grid), model_(new GridItemModel(grid, this)) {
    setModel(model_);
    setItemDelegate(new GridCellDelegate(this));
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    // The last column takes what a wider window gives the table.
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setMinimumSectionSize(0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWordWrap(false);
    grid_.setObserver([this] { scheduleRefresh(); });
    // A reset gives the header its default section sizes again.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { shownWidths_.clear(); });
    applyLayout();
}

GridView::~GridView() { grid_.setObserver(nullptr); }

void GridView::setEndEditHandler(GridItemModel::EndEditHandler handler) {
    model_->setEndEditHandler(std::move(handler));
}

void GridView::scheduleRefresh() {
    if (refreshPending_)
        return;
    refreshPending_ = true;
    QPointer<GridView> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->refreshPending_)
            self->refresh();
    });
}

void GridView::refresh() {
    refreshPending_ = false;
    model_->refresh();
    applyLayout();
}

void GridView::applyLayout() {
    // The heading is drawn like a fixed cell; styles paint header sections in the
    // palette's button colour.
    const Rgb fixed = grid_.fixedBackground();
    QPalette headerPalette = horizontalHeader()->palette();
    if (headerPalette.color(QPalette::Button) != ToQColor(fixed)) {
        headerPalette.setColor(QPalette::Button, ToQColor(fixed));
        horizontalHeader()->setPalette(headerPalette);
    }
    horizontalHeader()->setVisible(grid_.fixedRowCount() > 0);
    horizontalHeader()->setSectionResizeMode(grid_.columnResize() ? QHeaderView::Interactive
                                                                  : QHeaderView::Fixed);
    setSelectionBehavior(grid_.listMode() ? QAbstractItemView::SelectRows
                                          : QAbstractItemView::SelectItems);
    setSelectionMode(grid_.singleRowSelection() ? QAbstractItemView::SingleSelection
                                                : QAbstractItemView::ExtendedSelection);
    shownWidths_.resize(static_cast<std::size_t>(grid_.colCount()), -1);
    for (int c = 0; c < grid_.colCount(); ++c) {
        const int width = grid_.columnWidth(c);
        setColumnHidden(c, width <= 0);
        int& shown = shownWidths_[static_cast<std::size_t>(c)];
        if (width > 0 && width != shown)
            setColumnWidth(c, width);
        shown = width;
    }
}

int GridView::clientWidth() const {
    return qMax(0, width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width());
}

QModelIndex GridView::indexOfCell(int row, int col) const {
    if (row < grid_.fixedRowCount())
        return {};
    return model_->index(model_->viewRow(row), col);
}

bool GridView::editCell(int row, int col) {
    const QModelIndex index = indexOfCell(row, col);
    if (!index.isValid())
        return false;
    setCurrentIndex(index);
    return edit(index, QAbstractItemView::EditKeyPressed, nullptr);
}

bool GridView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Decide first, as the base class would, whether this action opens an editor, so
    // that the begin-edit handler runs exactly for the edits that would start.
    if (!index.isValid() || state() == QAbstractItemView::EditingState ||
        indexWidget(index) != nullptr)
        return QTableView::edit(index, trigger, event);
    const bool triggered = trigger == QAbstractItemView::AllEditTriggers || (trigger & editTriggers());
    if (!triggered || !(model_->flags(index) & Qt::ItemIsEditable))
        return QTableView::edit(index, trigger, event);
    if (trigger == QAbstractItemView::AnyKeyPressed) {
        auto* key = event && event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
        if (!key || key->text().isEmpty() || !key->text().at(0).isPrint())
            return QTableView::edit(index, trigger, event);
    }

    const int row = model_->gridRow(index.row());
    const int col = index.column();
    const int rows = grid_.rowCount();
    const int cols = grid_.colCount();
    if (beginEdit_ && !beginEdit_(row, col)) {
        refresh();
        return false; // refused: the cell keeps its text and no editor opens
    }
    // The handler may have waited for the user while the table was rebuilt (a reply
    // arriving meanwhile): the cell asked about is gone, so no editor opens.
    if (grid_.rowCount() != rows || grid_.colCount() != cols) {
        refresh();
        return false;
    }
    // The handler may have changed the grid: bring the view up to date and look the
    // cell up again before its editor opens on the cell's current text.
    refresh();
    const QModelIndex fresh = indexOfCell(row, col);
    if (!fresh.isValid() || !(model_->flags(fresh) & Qt::ItemIsEditable))
        return false;
    return QTableView::edit(fresh, trigger == QAbstractItemView::AnyKeyPressed ? trigger
                                                                              : QAbstractItemView::AllEditTriggers,
                            event);
}

} // namespace dm
