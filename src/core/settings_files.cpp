#include "core/settings_files.h"

#include "core/numbers.h"
#include "core/string_table.h"
#include "core/text_file.h"

#include <cstdlib>
#include <limits>
#include <optional>
#include <system_error>

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

Language LanguageFromText(std::string_view localeCfg) {
    return localeCfg.find("en") != std::string_view::npos ? Language::English : Language::Russian;
}

std::filesystem::path DefaultSettingsFolder() {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
#ifdef _WIN32
    else if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData && *appData)
        base = appData;
#endif
    else
        base = ".";
    return base / "dosimeter-manager";
}

namespace {

// One settings file for the start: from folder, else moved there from oldFolder.
std::optional<std::string> TakeSettingsFile(const std::filesystem::path& folder, const std::filesystem::path& oldFolder,
                                            const std::string& name, MessageSink& notes) {
    const std::filesystem::path path = folder / name, old = oldFolder / name;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        std::optional<std::string> bytes = TryReadFile(path);
        if (!bytes)
            notes.showMessage("Cannot read " + path.string() + ": the default is used");
        return bytes;
    }
    if (std::filesystem::equivalent(folder, oldFolder, ec) || !std::filesystem::exists(old, ec))
        return std::nullopt;
    std::optional<std::string> bytes = TryReadFile(old);
    if (!bytes) {
        notes.showMessage("Cannot read " + old.string() + ": the default is used");
        return std::nullopt;
    }
    std::string error;
    std::filesystem::create_directories(folder, ec);
    if (!WriteFileAtomically(path, *bytes, &error)) {
        notes.showMessage("Cannot move " + old.string() + " to " + folder.string() + " (" + error +
                          "): read where it is");
        return bytes;
    }
    // Removed only now that the new copy is whole; one that stays is simply not read again.
    std::filesystem::remove(old, ec);
    notes.showMessage("Settings file " + old.string() + " moved to " + path.string());
    return bytes;
}

} // namespace

InterfaceSettings LoadSettingsAtStart(const std::filesystem::path& folder, const std::filesystem::path& oldFolder,
                                      MessageSink& notes) {
    InterfaceSettings settings;
    if (const auto system = TakeSettingsFile(folder, oldFolder, "system.cfg", notes))
        settings.access = AccessMaskFromText(*system);
    if (const auto locale = TakeSettingsFile(folder, oldFolder, "locale.cfg", notes))
        settings.language = LanguageFromText(*locale);
    return settings;
}

InterfaceSettings LoadInterfaceSettings(const std::filesystem::path& dir, MessageSink& messages) {
    InterfaceSettings settings;
    settings.access = AccessMaskFromText(ReadTextFile(dir / "system.cfg", Language::English, messages));
    settings.language = LanguageFromText(ReadTextFile(dir / "locale.cfg", Language::English, messages));
    return settings;
}

bool SaveInterfaceSettings(const std::filesystem::path& dir, const InterfaceSettings& settings,
                           std::string* error) {
    if (!WriteFileAtomically(dir / "locale.cfg", settings.language == Language::Russian ? "ru" : "en", error))
        return false;
    return WriteFileAtomically(dir / "system.cfg", std::to_string(ScrambleAccessMask(settings.access)),
                               error);
}

std::string SaveSettingsAtExit(const std::filesystem::path& dir, const InterfaceSettings& settings,
                               MessageSink& messages) {
    std::string error;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec); // a failure shows in the write below
    if (SaveInterfaceSettings(dir, settings, &error))
        return {};
    const std::string text = Tr(IDS_SETTINGS_NOT_SAVED, settings.language) + error;
    messages.showMessage(text);
    return text;
}

} // namespace dm
