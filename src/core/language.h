#pragma once
// The interface language: which column of the string table a text comes from.

namespace dm {

enum class Language { English, Russian };

} // namespace dm
