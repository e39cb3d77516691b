#include "params/catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string catalogue = dm::DecodeCatalogue(bytes);
    for (const dm::Model model : {dm::Model::Mlv52b, dm::Model::Krt17a})
        for (const dm::Language lang : {dm::Language::English, dm::Language::Russian})
            (void)dm::CatalogueLines(catalogue, model, lang);
    (void)dm::SplitCatalogueSection(catalogue);
    return 0;
}
