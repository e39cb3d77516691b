#include "core/settings_files.h"

#include "core/numbers.h"
#include "core/string_table.h"
#include "core/text_file.h"

#include <limits>

namespace dm {

std::int32_t ScrambleAccessMask(int mask) {
    const auto product = static_cast<std::uint32_t>(mask) * 3187u;
    return static_cast<std::int32_t>(product << 2);
}

int UnscrambleAccessMask(std::int32_t stored) {
    // Arithmetic shift, then division truncating toward zero.
    const std::int32_t shifted = stored >= 0 ? stored >> 2 : ~(~stored >> 2);
    return shifted / 3187;
}

int AccessMaskFromText(std::string_view systemCfg) {
    long long value = LeadingInteger(systemCfg);
    if (value > std::numeric_limits<std::int32_t>::max())
        value = std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        value = std::numeric_limits<std::int32_t>::min();
    return UnscrambleAccessMask(static_cast<std::int32_t>(value));
}

int LangBaseFromText(std::string_view localeCfg) {
    return localeCfg.find("en") != std::string_view::npos ? kLangEnglish : kLangRussian;
}

InterfaceSettings LoadInterfaceSettings(const std::filesystem::path& dir, MessageSink& messages) {
    InterfaceSettings settings;
    settings.access = AccessMaskFromText(ReadTextFile(dir / "system.cfg", kLangEnglish, messages));
    settings.langBase = LangBaseFromText(ReadTextFile(dir / "locale.cfg", kLangEnglish, messages));
    return settings;
}

bool SaveInterfaceSettings(const std::filesystem::path& dir, const InterfaceSettings& settings,
                           std::string* error) {
    if (!WriteFileAtomically(dir / "locale.cfg", settings.langBase != 0 ? "ru" : "en", error))
        return false;
    return WriteFileAtomically(dir / "system.cfg", std::to_string(ScrambleAccessMask(settings.access)),
                               error);
}

std::string SaveSettingsAtExit(const std::filesystem::path& dir, const InterfaceSettings& settings,
                               MessageSink& messages) {
    std::string error;
    if (SaveInterfaceSettings(dir, settings, &error))
        return {};
    const std::string text = (settings.langBase == kLangRussian ? "Не удалось сохранить настройки: "
                                                                  : "Cannot save the settings: ") +
                             error;
    messages.showMessage(text);
    return text;
}

} // namespace dm
