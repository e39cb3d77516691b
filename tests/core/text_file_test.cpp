#include "core/text_file.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

namespace dm {
namespace {

struct Recorder : MessageSink {
    std::vector<std::string> messages;
    void showMessage(const std::string& text) override { messages.push_back(text); }
};

std::filesystem::path TempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("dm-textfile-" + std::to_string(::getpid()) + "-" + name);
}

TEST(ReadTextFile, WholeFileAcrossBlockBoundaries) {
    for (std::size_t size : {std::size_t{0}, std::size_t{40959}, std::size_t{40960},
                             std::size_t{40961}, std::size_t{100000}}) {
        const auto path = TempFile("blocks");
        std::string bytes(size, 'x');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i % 251);
        std::ofstream(path, std::ios::binary) << bytes;
        Recorder rec;
        EXPECT_EQ(ReadTextFile(path, Language::English, rec), bytes) << size;
        EXPECT_TRUE(rec.messages.empty());
        std::filesystem::remove(path);
    }
}

TEST(ReadTextFile, MissingFileMessageInEitherLanguage) {
    Recorder rec;
    EXPECT_EQ(ReadTextFile("no-such-file.lst", Language::English, rec), "");
    EXPECT_EQ(ReadTextFile("no-such-file.lst", Language::Russian, rec), "");
    ASSERT_EQ(rec.messages.size(), 2u);
    EXPECT_EQ(rec.messages[0], "File not found no-such-file.lst");
    EXPECT_EQ(rec.messages[1], "Не найден файл no-such-file.lst");
}

TEST(ReadTextFile, FolderIsNotAFile) {
    Recorder rec;
    EXPECT_EQ(ReadTextFile(std::filesystem::temp_directory_path(), Language::English, rec), "");
    EXPECT_EQ(rec.messages.size(), 1u);
}

TEST(WriteFileAtomically, ReplacesWholeFile) {
    const auto path = TempFile("atomic");
    ASSERT_TRUE(WriteFileAtomically(path, "first version, long"));
    ASSERT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(TryReadFile(path).value(), "second");
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
    std::filesystem::remove(path);
    std::string error;
    EXPECT_FALSE(WriteFileAtomically("/nonexistent-dir/x.cfg", "x", &error));
    EXPECT_NE(error.find("nonexistent-dir"), std::string::npos);
}

// Exports of personal data: owner-only from the first byte, whatever the umask, and a
// world-readable file they replace becomes owner-only too.
TEST(WriteFileAtomically, OwnerOnlyWhateverTheUmaskOrTheOldMode) {
    const auto path = TempFile("private");
    std::ofstream(path) << "old";
    std::filesystem::permissions(path, std::filesystem::perms(0644));
    const mode_t umask = ::umask(0);
    const bool written = WriteFileAtomically(path, "names and doses", nullptr, FileAccess::OwnerOnly);
    const bool fresh = WriteFileAtomically(path.string() + "-new", "x", nullptr, FileAccess::OwnerOnly);
    const bool plain = WriteFileAtomically(path.string() + "-plain", "x");
    ::umask(umask);
    ASSERT_TRUE(written && fresh && plain);
    struct stat st {};
    for (const char* suffix : {"", "-new"}) {
        ASSERT_EQ(::stat((path.string() + suffix).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << suffix;
    }
    ASSERT_EQ(::stat((path.string() + "-plain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u); // the default is unchanged
    EXPECT_EQ(TryReadFile(path), "names and doses");
    for (const char* suffix : {"", "-new", "-plain"})
        std::filesystem::remove(path.string() + suffix);
}

} // namespace
} // namespace dm
