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
    return FillIn(Tr(section.empty() ? IDS_CATALOGUE_NO_SECTION : IDS_CATALOGUE_EMPTY_SECTION, language),
                  {fileName, tag});
}

} // namespace dm
