// The infrared file-transfer settings in the current user's registry.
#include "link/received_folder_store.h"

#include <windows.h>

namespace dm {

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

class RegistryFolderStore : public ReceivedFolderStore {
public:
    ~RegistryFolderStore() override { close(); }

    bool open() override {
        close();
        return RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Infrared\\File Transfer", 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key_,
                               nullptr) == ERROR_SUCCESS;
    }

    std::optional<std::string> location() override {
        // Sized first: a long value must be read whole, never taken for an absent one
        // and overwritten with the default.
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key_, L"RecvdFilesLocation", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return std::nullopt;
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key_, L"RecvdFilesLocation", nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                             &got) != ERROR_SUCCESS)
            return std::nullopt;
        value.resize(got / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0')
            value.pop_back();
        if (value.empty())
            return std::nullopt;
        return Narrow(value);
    }

    bool setLocation(const std::string& folder) override {
        const std::wstring value = Wide(folder);
        return RegSetValueExW(key_, L"RecvdFilesLocation", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

    bool setTransferSwitches() override {
        const BYTE off = 0x00;
        const BYTE on = 0x01;
        return RegSetValueExW(key_, L"ShowRecvStatus", 0, REG_BINARY, &off, 1) == ERROR_SUCCESS &&
               RegSetValueExW(key_, L"AllowSend", 0, REG_BINARY, &on, 1) == ERROR_SUCCESS;
    }

    std::string defaultLocation() override { return "C:\\"; }

    bool close() override {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
        return true;
    }

private:
    HKEY key_ = nullptr;
};

} // namespace

std::unique_ptr<ReceivedFolderStore> MakeReceivedFolderStore() {
    return std::make_unique<RegistryFolderStore>();
}

} // namespace dm
