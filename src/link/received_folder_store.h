#pragma once
// The infrared file-transfer settings: where received files are stored
// ("RecvdFilesLocation") and the two switches the program sets ("ShowRecvStatus" 0,
// "AllowSend" 1). On Windows they are the current user's registry key of the
// infrared file transfer; elsewhere an ini-style file of ours.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm {

class ReceivedFolderStore {
public:
    virtual ~ReceivedFolderStore() = default;
    // Opens the settings, creating them when missing; false when that fails.
    virtual bool open() = 0;
    // "RecvdFilesLocation" (UTF-8); nothing when absent or empty.
    virtual std::optional<std::string> location() = 0;
    virtual bool setLocation(const std::string& folder) = 0;
    // "ShowRecvStatus" 0x00 and "AllowSend" 0x01.
    virtual bool setTransferSwitches() = 0;
    // The value written when "RecvdFilesLocation" is absent; an empty text when it
    // cannot be provided (for instance its folder cannot be created).
    virtual std::string defaultLocation() = 0;
    // Ends the access begun by open(), writing what changed; false when that fails.
    virtual bool close() = 0;
};

// Reads the received-files folder from the store: the stored location, else the
// store's default, which is then written; sets the two switches; strips one trailing
// path separator. Nothing when the store cannot be opened or written.
std::optional<std::string> ReadReceivedFilesFolder(ReceivedFolderStore& store);

// Why the received-files location cannot hold replies ("... is not a folder", "...
// does not exist"); empty when it is a folder.
std::string ReceivedFolderProblem(const std::string& folder);

// A folder given outright (the command line's --recv-dir, tests): no settings touched.
class FixedFolderStore : public ReceivedFolderStore {
public:
    explicit FixedFolderStore(std::string folder) : folder_(std::move(folder)) {}
    bool open() override { return true; }
    std::optional<std::string> location() override { return folder_; }
    bool setLocation(const std::string&) override { return true; }
    bool setTransferSwitches() override { return true; }
    std::string defaultLocation() override { return folder_; }
    bool close() override { return true; }

private:
    std::string folder_;
};

// The settings as an ini-style file:
//   [File Transfer]
//   RecvdFilesLocation=/home/user/.local/share/dosimeter-manager/received
//   ShowRecvStatus=0
//   AllowSend=1
// Lines it does not know are kept. The file is rewritten only when a value changes.
class IniReceivedFolderStore : public ReceivedFolderStore {
public:
    IniReceivedFolderStore(std::filesystem::path file, std::filesystem::path defaultFolder);
    bool open() override;
    std::optional<std::string> location() override;
    bool setLocation(const std::string& folder) override;
    bool setTransferSwitches() override;
    std::string defaultLocation() override;
    bool close() override;

    const std::filesystem::path& file() const { return file_; }

private:
    void set(const std::string& key, const std::string& value);

    std::filesystem::path file_;
    std::filesystem::path defaultFolder_;
    std::vector<std::string> lines_;
    bool changed_ = false;
    bool open_ = false;
};

// $XDG_CONFIG_HOME (else ~/.config) /dosimeter-manager/infrared.ini
std::filesystem::path DefaultSettingsFile();
// $XDG_DATA_HOME (else ~/.local/share) /dosimeter-manager/received
std::filesystem::path DefaultReceivedFolder();

// The platform's store: the registry on Windows, the ini file elsewhere.
std::unique_ptr<ReceivedFolderStore> MakeReceivedFolderStore();

// UTF-8 text to a path and back, on every platform.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);

} // namespace dm
