#include "params/catalogue_notice.h"

#include "core/string_table.h"
#include "params/catalogue.h"

namespace dm {

std::string CatalogueSectionTag(Model model, Language language) {
    return std::string("<") + (model == Model::Krt17a ? "KRT17A" : "MLV52B") + (language == Language::Russian ? "-ru>" : "-en>");
}

std::string CatalogueSectionNotice(std::string_view catalogue, const std::string& fileName, Model model,
                                   Language language) {
    const std::string section = SelectCatalogueSection(catalogue, model, language);
    if (!SplitCatalogueSection(section).empty())
        return {};
    const std::string tag = CatalogueSectionTag(model, language);
    const bool russian = language == Language::Russian;
    if (section.empty())
        return russian ? "В каталоге \"" + fileName + "\" нет раздела " + tag + ": параметры из него не показаны"
                       : "Catalogue \"" + fileName + "\" has no section " + tag +
                             ": no parameters shown from it";
    return russian ? "В разделе " + tag + " каталога \"" + fileName + "\" нет ни одного параметра"
                   : "Section " + tag + " of catalogue \"" + fileName + "\" holds no parameter";
}

} // namespace dm
