#include "core/text_file.h"

#include "core/string_table.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
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

std::string ReadTextFile(const std::filesystem::path& path, int langBase, MessageSink& messages) {
    if (auto text = TryReadFile(path))
        return *text;
    std::string message = Tr(IDS_FILE_NOT_FOUND, langBase);
    if (message.empty() || message.back() != ' ')
        message += ' ';
    message += path.string();
    messages.showMessage(message);
    return {};
}

bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    std::filesystem::path temp = path;
    temp += ".tmp";
#ifdef _WIN32
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return fail("cannot create " + temp.string());
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out)
            return fail("cannot write " + temp.string());
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return fail("cannot replace " + path.string());
    }
    return true;
#else
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(temp.string() + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const std::string reason = std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(temp.string() + ": " + reason);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temp.c_str());
        return fail(temp.string() + ": " + reason);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temp.c_str());
        return fail(path.string() + ": " + reason);
    }
    return true;
#endif
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
