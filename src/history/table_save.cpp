#include "history/table_save.h"

#include "core/cp1251.h"
#include "core/string_table.h"
#include "core/text_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace dm {
namespace {

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string NameOf(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

// Opens an existing file for writing, emptying it; nullptr and errno set on failure.
std::FILE* OpenFile(const std::filesystem::path& path) {
#ifdef _WIN32
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_BINARY | _O_TRUNC, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file)
        _close(fd);
    return file;
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

bool Writable(const std::filesystem::path& path) {
    errno = 0;
#ifdef _WIN32
    return _waccess(path.c_str(), 2) == 0;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

std::string Reason(int err) { return std::error_code(err, std::generic_category()).message(); }

enum class Failed { Create, Open, Write };

std::string FailureText(Failed what, const std::string& file, const std::string& reason,
                        Language language) {
    int verb = IDS_CANNOT_WRITE_FILE;
    switch (what) {
    case Failed::Create: verb = IDS_CANNOT_CREATE_FILE; break;
    case Failed::Open: verb = IDS_CANNOT_OPEN_FILE; break;
    case Failed::Write: verb = IDS_CANNOT_WRITE_FILE; break;
    }
    return Tr(verb, language) + " \"" + file + "\": " + reason;
}

SaveResult Fail(UserDialogs& dialogs, Failed what, const std::string& file, int err,
                Language language, std::optional<std::string> skipName = std::nullopt) {
    SaveResult result;
    result.skipName = std::move(skipName);
    result.error = FailureText(what, file, Reason(err), language);
    dialogs.showMessage(result.error);
    return result;
}

} // namespace

std::string DoseTableFileBytes(const HistoryTable& dose) {
    std::string text;
    for (int row = 0; row < dose.rowCount(); ++row) {
        text += dose.text(row, 0);
        text += '\t';
        text += dose.text(row, 1);
        text += "\r\n";
    }
    return Utf8ToCp1251(text);
}

std::string NeutronTableFileBytes(const HistoryTable& neutron) {
    if (neutron.rowCount() <= 1)
        return {};
    std::string text = kNeutronFileHeading;
    text += "\r\n";
    for (int row = 1; row < neutron.rowCount(); ++row) {
        for (int col = 0; col < 5; ++col) {
            if (col > 0)
                text += "\t ";
            text += neutron.text(row, col);
        }
        text += "\r\n";
    }
    return Utf8ToCp1251(text);
}

SaveResult SaveTableFile(UserDialogs& dialogs, Language language, const std::string& bytes) {
    const std::optional<std::string> chosen = dialogs.askSaveFileName();
    if (!chosen || chosen->empty())
        return {};
    const std::filesystem::path path = PathFromUtf8(*chosen);
    const std::string& file = *chosen;

    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    const bool exists = !ec && std::filesystem::exists(status);
    if (exists && std::filesystem::is_directory(status))
        return Fail(dialogs, Failed::Create, file, EISDIR, language);
    // Only an existing file may be overwritten, and only once the user agreed.
    if (exists && !dialogs.askYesNo(Tr(IDS_ASK_OVERWRITE, language)))
        return {};

    // From here on the name is ours whenever a file of that name is there afterwards:
    // keep the pickup away from it even if the write fails.
    const std::string skipName = NameOf(path);
    if (exists && !std::filesystem::is_regular_file(status)) {
        // A device or a pipe cannot be replaced, only written into.
        std::FILE* out = OpenFile(path);
        if (!out)
            return Fail(dialogs, Failed::Open, file, errno, language);
        errno = 0;
        const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), out);
        int writeError = written == bytes.size() ? 0 : (errno ? errno : EIO);
        if (std::fflush(out) != 0 && writeError == 0)
            writeError = errno ? errno : EIO;
        if (std::fclose(out) != 0 && writeError == 0)
            writeError = errno ? errno : EIO;
        if (writeError != 0)
            return Fail(dialogs, Failed::Write, file, writeError, language, skipName);
    } else {
        // Replacing goes through the folder: a file the user may not write stays as it is.
        if (exists && !Writable(path))
            return Fail(dialogs, Failed::Open, file, errno ? errno : EACCES, language);
        // A regular file is replaced whole only once the new one is complete, so a full
        // disk leaves the old file as it was and no part of the new one.
        const FileReplaceStatus replaced = ReplaceFileWhole(path, bytes);
        if (!replaced)
            return Fail(dialogs, replaced.created ? Failed::Write : Failed::Create, file, replaced.error,
                        language, exists ? std::optional<std::string>(skipName) : std::nullopt);
    }

    SaveResult result;
    result.saved = true;
    result.skipName = skipName;
    return result;
}

} // namespace dm
