#pragma once
// Our UTF-8 text handed to Qt, for the records store and the view side alike (Qt Core
// only). Include it from .cpp files: a header that passed it on would meet the local
// helpers a few files still keep.
#include <QString>

#include <string_view>

namespace dm {

inline QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace dm
