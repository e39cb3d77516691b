#pragma once
// The item-data roles the table views and their models share beyond Qt's own.
#include <Qt>

namespace dm {

// A list cell's options (QStringList): its editor is a drop-down offering only them.
constexpr int kCellOptionsRole = Qt::UserRole + 1;
// The signal types the signal row's value cell offers beside its limit (QStringList).
constexpr int kSignalTypesRole = Qt::UserRole + 2;
// setData with this role on the signal row's value cell chooses the signal type.
constexpr int kChooseSignalTypeRole = Qt::UserRole + 3;

} // namespace dm
