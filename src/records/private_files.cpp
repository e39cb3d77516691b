#include "records/private_files.h"

#include "records/database_url.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>

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

} // namespace dm::records
