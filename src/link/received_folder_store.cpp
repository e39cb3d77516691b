#include "link/received_folder_store.h"

#include "core/text_file.h"
#include "core/text_lines.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace dm {

namespace {

constexpr const char* kSection = "[File Transfer]";
constexpr const char* kLocation = "RecvdFilesLocation";

std::string_view KeyOf(const std::string& line) {
    const KeyValueLine kv = SplitKeyValueLine(line);
    return kv.hasValue ? kv.key : std::string_view();
}

std::filesystem::path FromEnvironment(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && *value)
        return PathFromUtf8(value);
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        home = ".";
    return PathFromUtf8(home) / fallbackUnderHome;
}

} // namespace

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

std::optional<std::string> ReadReceivedFilesFolder(ReceivedFolderStore& store) {
    if (!store.open())
        return std::nullopt;
    std::optional<std::string> folder = store.location();
    bool ok = true;
    if (!folder) {
        folder = store.defaultLocation();
        ok = !folder->empty() && store.setLocation(*folder);
    }
    ok = ok && store.setTransferSwitches();
    ok = store.close() && ok;
    if (!ok)
        return std::nullopt;
    std::string& f = *folder;
#ifdef _WIN32
    const bool separator = !f.empty() && (f.back() == '\\' || f.back() == '/');
#else
    const bool separator = f.size() > 1 && f.back() == '/';
#endif
    if (separator)
        f.pop_back();
    return folder;
}

std::string ReceivedFolderProblem(const std::string& folder) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(PathFromUtf8(folder), ec);
    if (std::filesystem::is_directory(status))
        return {};
    const std::string what = "The received-files location " + folder;
    if (status.type() == std::filesystem::file_type::not_found)
        return what + " does not exist; no reply can be picked up.";
    if (ec)
        return what + " cannot be examined (" + ec.message() + "); no reply can be picked up.";
    return what + " is not a folder; no reply can be picked up.";
}

IniReceivedFolderStore::IniReceivedFolderStore(std::filesystem::path file, std::filesystem::path defaultFolder)
    : file_(std::move(file)), defaultFolder_(std::move(defaultFolder)) {}

bool IniReceivedFolderStore::open() {
    lines_.clear();
    changed_ = false;
    open_ = false;
    std::error_code ec;
    if (std::filesystem::exists(file_, ec)) {
        const std::optional<std::string> bytes = TryReadFile(file_);
        if (!bytes)
            return false;
        std::istringstream in(*bytes);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines_.push_back(line);
        }
    } else {
        if (ec)
            return false;
        if (file_.has_parent_path())
            std::filesystem::create_directories(file_.parent_path(), ec);
        if (ec)
            return false;
        lines_.push_back(kSection);
        changed_ = true;
    }
    open_ = true;
    return true;
}

std::optional<std::string> IniReceivedFolderStore::location() {
    for (const std::string& line : lines_) {
        if (KeyOf(line) == kLocation) {
            std::string value(SplitKeyValueLine(line).value); // a folder name, blanks and all
            if (value.empty())
                return std::nullopt;
            return value;
        }
    }
    return std::nullopt;
}

void IniReceivedFolderStore::set(const std::string& key, const std::string& value) {
    const std::string wanted = key + "=" + value;
    for (std::string& line : lines_) {
        if (KeyOf(line) == key) {
            if (line != wanted) {
                line = wanted;
                changed_ = true;
            }
            return;
        }
    }
    lines_.push_back(wanted);
    changed_ = true;
}

bool IniReceivedFolderStore::setLocation(const std::string& folder) {
    if (folder.find_first_of("\r\n") != std::string::npos)
        return false; // would not survive the next read
    set(kLocation, folder);
    return true;
}

bool IniReceivedFolderStore::setTransferSwitches() {
    set("ShowRecvStatus", "0");
    set("AllowSend", "1");
    return true;
}

std::string IniReceivedFolderStore::defaultLocation() {
    std::error_code ec;
    std::filesystem::create_directories(defaultFolder_, ec);
    if (ec || !std::filesystem::is_directory(defaultFolder_, ec))
        return {};
    return PathToUtf8(defaultFolder_);
}

bool IniReceivedFolderStore::close() {
    if (!open_)
        return false;
    open_ = false;
    if (!changed_)
        return true;
    std::string bytes;
    for (const std::string& line : lines_)
        bytes += line + "\n";
    changed_ = false;
    return WriteFileAtomically(file_, bytes);
}

std::filesystem::path DefaultSettingsFile() {
    return FromEnvironment("XDG_CONFIG_HOME", ".config") / "dosimeter-manager" / "infrared.ini";
}

std::filesystem::path DefaultReceivedFolder() {
    return FromEnvironment("XDG_DATA_HOME", ".local/share") / "dosimeter-manager" / "received";
}

#ifndef _WIN32
std::unique_ptr<ReceivedFolderStore> MakeReceivedFolderStore() {
    return std::make_unique<IniReceivedFolderStore>(DefaultSettingsFile(), DefaultReceivedFolder());
}
#endif

} // namespace dm
