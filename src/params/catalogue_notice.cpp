#include "params/catalogue_notice.h"

#include "core/string_table.h"
#include "params/catalogue.h"

namespace dm {

std::string CatalogueSectionTag(bool neutron, int langBase) {
    return std::string("<") + (neutron ? "KRT17A" : "MLV52B") + (langBase != 0 ? "-ru>" : "-en>");
}

std::string CatalogueSectionNotice(std::string_view catalogue, const std::string& fileName, bool neutron,
                                   int langBase) {
    const std::string section = SelectCatalogueSection(catalogue, neutron, langBase);
    if (!SplitCatalogueSection(section).empty())
        return {};
    const std::string tag = CatalogueSectionTag(neutron, langBase);
    const bool russian = langBase == kLangRussian;
    if (section.empty())
        return russian ? "В каталоге \"" + fileName + "\" нет раздела " + tag + ": параметры из него не показаны"
                       : "Catalogue \"" + fileName + "\" has no section " + tag +
                             ": no parameters shown from it";
    return russian ? "В разделе " + tag + " каталога \"" + fileName + "\" нет ни одного параметра"
                   : "Section " + tag + " of catalogue \"" + fileName + "\" holds no parameter";
}

} // namespace dm
