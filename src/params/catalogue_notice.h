#pragma once
// The one warning a catalogue gets when it cannot fill the parameter table: the section of
// the dosimeter's model and language is missing (an empty or garbled file, a lost closing
// tag) or holds no parameter line. Without it the table would simply come up empty.
#include "core/language.h"
#include "core/model.h"

#include <string>
#include <string_view>

namespace dm {

// The opening tag of the model's section in that language, e.g. "<KRT17A-en>".
std::string CatalogueSectionTag(Model model, Language language);

// The warning in the interface language, naming the file and the section; empty when the
// section is there with at least one parameter line.
std::string CatalogueSectionNotice(std::string_view catalogue, const std::string& fileName, Model model,
                                   Language language);

} // namespace dm
