#include "records/private_files.h"

#include "records/database_url.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace dm::records {

std::optional<std::string> ReadableByOthers(const std::filesystem::path& file, const std::string& what) {
#ifdef _WIN32
    (void)file;
    (void)what;
    return std::nullopt;
#else
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return std::nullopt;
    auto mode = [](unsigned m) {
        char text[8];
        std::snprintf(text, sizeof text, "%04o", m & 07777u);
        return std::string(text);
    };
    if (st.st_mode & (S_IRGRP | S_IROTH))
        return what + " " + file.string() + " can be read by other users of this computer (mode " +
               mode(st.st_mode) + "); 'chmod 600' it to keep the dose records private";
    // Others who may write the folder (without the sticky bit) can replace the file.
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    struct stat fst {};
    if (::stat(folder.c_str(), &fst) == 0 && (fst.st_mode & (S_IWGRP | S_IWOTH)) &&
        !(fst.st_mode & S_ISVTX))
        return "the folder " + folder.string() + " of " + what + " " + file.string() +
               " can be written by other users of this computer (mode " + mode(fst.st_mode) +
               "), who could replace the file; 'chmod 700' it to keep the dose records private";
    return std::nullopt;
#endif
}

std::optional<std::string> DatabaseReadableByOthers(const DatabaseUrl& url) {
    if (url.kind != DatabaseUrl::Kind::Sqlite)
        return std::nullopt;
    return ReadableByOthers(url.path, "the records database");
}

bool CreatePrivateFolders(const std::filesystem::path& folder, std::string* error) {
    namespace fs = std::filesystem;
    if (folder.empty())
        return true;
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return true;
    if (!CreatePrivateFolders(folder.parent_path() == folder ? fs::path() : folder.parent_path(), error))
        return false;
#ifdef _WIN32
    fs::create_directory(folder, ec);
    if (ec && !fs::is_directory(folder)) {
        if (error)
            *error = "cannot create the folder " + folder.string() + ": " + ec.message();
        return false;
    }
#else
    if (::mkdir(folder.c_str(), 0700) != 0) {
        if (errno == EEXIST && fs::is_directory(folder, ec))
            return true; // made by someone else just now: judged by UnsafeRecordsFile
        if (error)
            *error = "cannot create the folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    // mkdir's mode passes through the umask; a folder of ours is 0700 whatever it is.
    ::chmod(folder.c_str(), 0700);
#endif
    return true;
}

std::optional<std::string> UnsafeRecordsFile(const std::filesystem::path& file, const std::string& what) {
#ifdef _WIN32
    (void)file;
    (void)what;
    return std::nullopt;
#else
    const uid_t me = ::geteuid();
    auto mode = [](unsigned m) {
        char text[8];
        std::snprintf(text, sizeof text, "%04o", m & 07777u);
        return std::string(text);
    };
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        if (st.st_uid != me)
            return what + " " + file.string() +
                   " belongs to another user; refusing to keep dose records in it (use a file of your own)";
        if (st.st_mode & (S_IWGRP | S_IWOTH))
            return what + " " + file.string() + " can be written by other users of this computer (mode " +
                   mode(st.st_mode) + "); 'chmod 600' it before use";
    }
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    struct stat fst {};
    if (::stat(folder.c_str(), &fst) == 0) {
        // A shared folder with the sticky bit (/tmp) lets nobody replace a file of ours.
        if (fst.st_uid != me && fst.st_uid != 0 && !(fst.st_mode & S_ISVTX))
            return "the folder " + folder.string() + " of " + what + " " + file.string() +
                   " belongs to another user, who could replace the file; use a folder of your own";
        if ((fst.st_mode & (S_IWGRP | S_IWOTH)) && !(fst.st_mode & S_ISVTX))
            return "the folder " + folder.string() + " of " + what + " " + file.string() +
                   " can be written by other users of this computer (mode " + mode(fst.st_mode) +
                   "), who could replace the file; 'chmod 700' it before use";
    }
    return std::nullopt;
#endif
}

} // namespace dm::records
