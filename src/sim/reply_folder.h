#pragma once
// Beams replies into the received-files folder the way the infrared file-transfer
// service stores them: each under a temporary name first, then renamed, so a reader
// never sees half a file.
#include <filesystem>
#include <string>

namespace dm {

class ReplyFolder {
public:
    explicit ReplyFolder(std::filesystem::path folder);

    // Writes the bytes as a new ".txt" file whose name holds the letter and otherwise
    // only digits and "-" (so no other reply letter); never replaces an existing file.
    // Returns the file name, or an empty string with the reason in error.
    std::string write(char letter, const std::string& bytes, std::string* error);

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    unsigned long counter_ = 0;
};

} // namespace dm
