#include "sim/reply_folder.h"

#include "core/text_file.h"

#include <chrono>
#include <system_error>

namespace dm {

ReplyFolder::ReplyFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::string ReplyFolder::write(char letter, const std::string& bytes, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    // Time-based names are never reused across runs, so a manager that remembered the
    // files present at its start never mistakes a new reply for one of them.
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    std::string name;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        name =
            std::string(1, letter) + std::to_string(ms) + "-" + std::to_string(++counter_) + ".txt";
        if (!std::filesystem::exists(folder_ / name, ec))
            break;
    }
    std::string why;
    if (!WriteFileAtomically(folder_ / name, bytes, &why)) {
        if (error)
            *error = "cannot write reply " + (folder_ / name).string() + ": " + why;
        return {};
    }
    return name;
}

} // namespace dm
