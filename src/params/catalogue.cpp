#include "params/catalogue.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/text_file.h"

namespace dm {

std::string DecodeCatalogue(std::string_view fileBytes) {
    if (IsValidUtf8(fileBytes))
        return std::string(fileBytes);
    return Cp1251ToUtf8(fileBytes);
}

std::string LoadCatalogue(const std::filesystem::path& path, Language language, MessageSink& messages) {
    const std::filesystem::path file = path.empty() ? FindDataFile("Commands.lst") : path;
    return DecodeCatalogue(ReadTextFile(file, language, messages));
}

std::string SelectCatalogueSection(std::string_view catalogue, Model model, Language language) {
    const std::string modelTag = model == Model::Krt17a ? "KRT17A" : "MLV52B";
    const std::string lang = language == Language::Russian ? "ru" : "en";
    const std::string open = "<" + modelTag + "-" + lang + ">";
    const std::string close = "</" + modelTag + "-" + lang + ">";

    const std::size_t openPos = catalogue.find(open);
    const std::size_t closePos = catalogue.find(close);
    if (openPos == std::string_view::npos || closePos == std::string_view::npos)
        return {};
    std::size_t start = openPos + open.size();
    // The opening tag ends its line.
    if (catalogue.substr(start, 2) == "\r\n")
        start += 2;
    else if (catalogue.substr(start, 1) == "\n")
        start += 1;
    if (closePos < start)
        return {};
    return std::string(catalogue.substr(start, closePos - start));
}

namespace {

std::optional<Rgb> ParseColour(std::string_view field) {
    if (field == "defaultcolor")
        return std::nullopt;
    const std::size_t s1 = field.find('/');
    if (s1 == std::string_view::npos)
        return std::nullopt;
    const std::size_t s2 = field.find('/', s1 + 1);
    if (s2 == std::string_view::npos)
        return std::nullopt;
    auto low8 = [](long long v) { return static_cast<std::uint8_t>(static_cast<unsigned long long>(v) & 0xFF); };
    return Rgb{low8(LeadingInteger(field.substr(0, s1))), low8(LeadingInteger(field.substr(s1 + 1, s2 - s1 - 1))),
               low8(LeadingInteger(field.substr(s2 + 1)))};
}

} // namespace

std::vector<CatalogueLine> SplitCatalogueSection(std::string_view section) {
    std::vector<CatalogueLine> lines;
    std::size_t pos = 0;
    while (pos < section.size()) {
        const std::size_t lf = section.find('\n', pos);
        if (lf == std::string_view::npos)
            break; // a line counts only with its line end
        std::string_view line = section.substr(pos, lf - pos);
        pos = lf + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        const std::size_t hash = line.find('#');
        if (hash == std::string_view::npos)
            continue;
        const std::size_t at = line.find('@', hash + 1);
        if (at == std::string_view::npos)
            continue;
        const std::size_t dollar = line.find('$', at + 1);
        if (dollar == std::string_view::npos)
            continue;

        CatalogueLine entry;
        entry.key = std::string(line.substr(0, hash));
        entry.name = std::string(line.substr(hash + 1, at - hash - 1));
        const std::size_t r = line.find('r', at + 1);
        entry.editable = r != std::string_view::npos && r + 1 < line.size() && line[r + 1] == 'w';
        entry.colour = ParseColour(line.substr(dollar + 1));
        lines.push_back(std::move(entry));
    }
    return lines;
}

std::vector<CatalogueLine> CatalogueLines(std::string_view catalogue, Model model, Language language) {
    return SplitCatalogueSection(SelectCatalogueSection(catalogue, model, language));
}

} // namespace dm
