#pragma once
// Qt's own texts (standard buttons such as Yes, No, OK and Cancel, the file dialog, the
// context menus of edit boxes) in the interface language.
#include "core/language.h"


namespace dm {

// Installs Qt's translation for the interface language (Russian: qtbase_ru from Qt's
// translations folder) or removes it for English. Without the translation file Qt's
// texts stay English; the false return says so.
bool UseQtTranslations(Language language);

} // namespace dm
