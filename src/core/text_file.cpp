#include "core/text_file.h"

#include "core/string_table.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dm {

std::optional<std::string> TryReadFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text;
    char block[40960];
    while (in) {
        in.read(block, sizeof block);
        text.append(block, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        return std::nullopt;
    return text;
}

std::string ReadTextFile(const std::filesystem::path& path, Language language, MessageSink& messages) {
    if (auto text = TryReadFile(path))
        return *text;
    std::string message = Tr(IDS_FILE_NOT_FOUND, language);
    if (message.empty() || message.back() != ' ')
        message += ' ';
    message += path.string();
    messages.showMessage(message);
    return {};
}

namespace {

// "<name>.<process>-<count>-<attempt>.tmp": unique among the writers of this process and
// of others. A name near the length limit gets a short stem, so the suffix still fits.
std::filesystem::path TemporaryName(const std::filesystem::path& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(::getpid());
#endif
    const std::string suffix =
        "." + std::to_string(process) + "-" + std::to_string(counter++) + "-" + std::to_string(attempt) + ".tmp";
    if (target.filename().native().size() > 200)
        return target.parent_path() / ("dm" + suffix);
    std::filesystem::path temp = target;
    temp += suffix;
    return temp;
}

// The file a write to path lands in: a symbolic link is followed, so the link survives.
std::filesystem::path ResolvedTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec))
        return path;
    const auto target = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : target;
}

} // namespace

FileReplaceStatus ReplaceFileWhole(const std::filesystem::path& path, const std::string& bytes,
                                   FileAccess access) {
    FileReplaceStatus status;
    const std::filesystem::path target = ResolvedTarget(path);
#ifdef _WIN32
    (void)access;
    std::filesystem::path temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = TemporaryName(target, attempt);
        fd = _wopen(temp.c_str(), _O_WRONLY | _O_BINARY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        status.error = errno ? errno : EIO;
        return status;
    }
    status.created = true;
    std::size_t done = 0;
    while (done < bytes.size() && status.error == 0) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        const int n = _write(fd, bytes.data() + done, chunk);
        if (n <= 0)
            status.error = n < 0 && errno ? errno : ENOSPC;
        else
            done += static_cast<std::size_t>(n);
    }
    if (status.error == 0 && _commit(fd) != 0)
        status.error = errno ? errno : EIO;
    if (_close(fd) != 0 && status.error == 0)
        status.error = errno ? errno : EIO;
    if (status.error == 0 &&
        !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        status.error = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EACCES;
    if (status.error != 0)
        _wunlink(temp.c_str());
    return status;
#else
    std::filesystem::path temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = TemporaryName(target, attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    access == FileAccess::OwnerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        status.error = errno ? errno : EIO;
        return status;
    }
    status.created = true;
    // The replacement keeps the permission bits of the file it replaces; a private one is
    // the owner's alone whatever the umask or the old file allowed.
    struct stat old {};
    if (access == FileAccess::OwnerOnly) {
        if (::fchmod(fd, 0600) != 0)
            status.error = errno;
    } else if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    std::size_t done = 0;
    while (done < bytes.size() && status.error == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            status.error = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<std::size_t>(n);
    }
    // Space may be found missing only now (delayed allocation, network folders).
    if (status.error == 0 && ::fsync(fd) != 0)
        status.error = errno;
    if (::close(fd) != 0 && status.error == 0)
        status.error = errno;
    if (status.error == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        status.error = errno;
    if (status.error != 0)
        ::unlink(temp.c_str());
    return status;
#endif
}

bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* error, FileAccess access) {
    const FileReplaceStatus status = ReplaceFileWhole(path, bytes, access);
    if (!status && error)
        *error = path.string() + ": " + std::error_code(status.error, std::generic_category()).message();
    return static_cast<bool>(status);
}

std::filesystem::path ExecutableDir() {
#ifdef _WIN32
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n == 0 || n == MAX_PATH)
        return {};
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path();
#endif
}

std::filesystem::path FindDataFile(const std::string& name) {
    std::error_code ec;
    if (std::filesystem::exists(name, ec))
        return name;
    const auto dir = ExecutableDir();
    if (!dir.empty()) {
        const std::filesystem::path candidates[] = {
            dir / name,
            dir.parent_path() / "share" / "dosimeter-manager" / name,
        };
        for (const auto& c : candidates)
            if (std::filesystem::exists(c, ec))
                return c;
    }
    return name;
}

} // namespace dm
