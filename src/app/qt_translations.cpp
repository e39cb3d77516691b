#include "app/qt_translations.h"

#include "core/string_table.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace dm {

bool UseQtTranslations(Language language) {
    // One translator for the program's life; switching languages swaps its contents.
    static QTranslator* translator = nullptr;
    if (!QCoreApplication::instance())
        return false;
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
        translator = nullptr;
    }
    if (language != Language::Russian)
        return true;
    auto* loaded = new QTranslator;
    if (!loaded->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete loaded;
        return false;
    }
    QCoreApplication::installTranslator(loaded);
    translator = loaded;
    return true;
}

} // namespace dm
