#include "core/text_file.h"

#include <filesystem>
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
        EXPECT_EQ(ReadTextFile(path, 0, rec), bytes) << size;
        EXPECT_TRUE(rec.messages.empty());
        std::filesystem::remove(path);
    }
}

TEST(ReadTextFile, MissingFileMessageInEitherLanguage) {
    Recorder rec;
    EXPECT_EQ(ReadTextFile("no-such-file.lst", 0, rec), "");
    EXPECT_EQ(ReadTextFile("no-such-file.lst", 300, rec), "");
    ASSERT_EQ(rec.messages.size(), 2u);
    EXPECT_EQ(rec.messages[0], "File not found no-such-file.lst");
    EXPECT_EQ(rec.messages[1], "Не найден файл no-such-file.lst");
}

TEST(ReadTextFile, FolderIsNotAFile) {
    Recorder rec;
    EXPECT_EQ(ReadTextFile(std::filesystem::temp_directory_path(), 0, rec), "");
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

} // namespace
} // namespace dm
