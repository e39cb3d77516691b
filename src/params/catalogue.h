#pragma once
// The parameter catalogue "Commands.lst": for each model and language, which parameters
// the table shows, in which order, under which names, editable or not, in which colour.
#include "core/colour.h"
#include "core/language.h"
#include "core/message_sink.h"
#include "core/model.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct CatalogueLine {
    std::string key;
    std::string name;
    bool editable = false;
    std::optional<Rgb> colour; // none for "defaultcolor"
};

// The file's bytes as UTF-8: taken as they are when they are valid UTF-8, else read as
// Windows-1251, so the file can be edited with either kind of editor.
std::string DecodeCatalogue(std::string_view fileBytes);

// Reads the catalogue file (found by FindDataFile when path is empty) and decodes it.
// A missing file gives the not-found message and an empty catalogue.
std::string LoadCatalogue(const std::filesystem::path& path, Language language, MessageSink& messages);

// The section for the model and language; empty when a tag
// is missing or the closing tag comes first.
std::string SelectCatalogueSection(std::string_view catalogue, Model model, Language language);

// The section's lines in order. Lines end in CR LF (a bare LF is accepted too); a line
// that lacks one of its markers "#", "@", "$", and an empty line, are skipped.
std::vector<CatalogueLine> SplitCatalogueSection(std::string_view section);

// Both steps together.
std::vector<CatalogueLine> CatalogueLines(std::string_view catalogue, Model model, Language language);

} // namespace dm
