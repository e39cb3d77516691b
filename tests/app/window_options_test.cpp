// The window's command line and the status log's entry texts.
#include "app/status_entry.h"
#include "app/window_options.h"
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using dm::ParseWindowOptions;
using dm::Model;

TEST(WindowOptions, LinkAndSimulatedModel) {
    EXPECT_EQ(ParseWindowOptions({}).link, "");
    EXPECT_FALSE(ParseWindowOptions({}).simulate);
    EXPECT_EQ(ParseWindowOptions({"--link", "tcp:127.0.0.1:6650"}).link, "tcp:127.0.0.1:6650");
    EXPECT_EQ(ParseWindowOptions({"--link=irda"}).link, "irda");
    EXPECT_EQ(*ParseWindowOptions({"--simulate"}).simulate, Model::Krt17a);
    EXPECT_EQ(*ParseWindowOptions({"--simulate", "MLV-52B"}).simulate, Model::Mlv52b);
    EXPECT_EQ(*ParseWindowOptions({"--simulate=MLV-52B"}).simulate, Model::Mlv52b);
    EXPECT_TRUE(ParseWindowOptions({"--help"}).help);
    EXPECT_EQ(ParseWindowOptions({"--db", "sqlite:/tmp/r.sqlite"}).db, "sqlite:/tmp/r.sqlite");
    EXPECT_EQ(ParseWindowOptions({"--simulate", "--db=sqlite:r"}).db, "sqlite:r");
    // The simulated dosimeter over IrDA unless told otherwise.
    EXPECT_EQ(ParseWindowOptions({"--simulate"}).simulateLink, "sir");
    EXPECT_EQ(ParseWindowOptions({"--simulate-link=tcp", "--simulate", "MLV-52B"}).simulateLink, "tcp");
}

TEST(WindowOptions, MistakesAreNamed) {
    EXPECT_NE(ParseWindowOptions({"--link"}).error.find("--link"), std::string::npos);
    EXPECT_NE(ParseWindowOptions({"--link="}).error.find("--link"), std::string::npos);
    EXPECT_NE(ParseWindowOptions({"--simulate", "KRT-17"}).error.find("KRT-17"), std::string::npos);
    EXPECT_NE(ParseWindowOptions({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
    EXPECT_FALSE(ParseWindowOptions({"--simulate", "--link", "irda"}).error.empty());
    EXPECT_NE(ParseWindowOptions({"--db"}).error.find("--db"), std::string::npos);
    EXPECT_NE(ParseWindowOptions({"--db="}).error.find("--db"), std::string::npos);
    EXPECT_NE(ParseWindowOptions({"--simulate", "--simulate-link", "irda"}).error.find("irda"), std::string::npos);
    EXPECT_NE(ParseWindowOptions({"--simulate-link", "tcp"}).error.find("--simulate"), std::string::npos);
}

TEST(StatusEntry, PaddedAndRawTimes) {
    EXPECT_EQ(dm::PaddedStatusEntry({9, 5, 3}, "Parameters received"), "09:05:03  Parameters received");
    EXPECT_EQ(dm::PaddedStatusEntry({23, 59, 59}, ""), "23:59:59  ");
    EXPECT_EQ(dm::RawStatusEntry({9, 5, 3}, "a\r\nb\nc\r"), "9:5:3  a  b c ");
    EXPECT_EQ(dm::RawStatusEntry({0, 0, 0}, "x"), "0:0:0  x");
}

TEST(WindowOptions, DefaultLinkFromTheInfraredSettings) {
    const auto dir = std::filesystem::temp_directory_path() / ("window-options-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "infrared.ini";
    EXPECT_EQ(dm::DefaultLinkName(file), "irda"); // no file
    std::ofstream(file) << "[File Transfer]\r\nRecvdFilesLocation=/tmp/x\r\n";
    EXPECT_EQ(dm::DefaultLinkName(file), "irda"); // no Link line
    std::ofstream(file) << "[File Transfer]\r\n  Link=tcp:127.0.0.1:6650 \r\nAllowSend=1\r\n";
    EXPECT_EQ(dm::DefaultLinkName(file), "tcp:127.0.0.1:6650");
    std::ofstream(file) << "Link=\n";
    EXPECT_EQ(dm::DefaultLinkName(file), "irda"); // empty value
    std::ofstream(file) << "Link=irda\r\nRecords=postgresql://st@db.site/records\r\n";
    EXPECT_EQ(dm::SettingsValue(file, "Records"), "postgresql://st@db.site/records");
    // Written by hand with blanks: read, and replaced in place rather than shadowed.
    std::ofstream(file) << "Records=x\r\n Link = tcp:127.0.0.1:6650 \r\n";
    EXPECT_EQ(dm::DefaultLinkName(file), "tcp:127.0.0.1:6650");
    std::string error;
    ASSERT_TRUE(dm::StoreSettingsValue(file, "Link", "irda", &error)) << error;
    EXPECT_EQ(dm::TryReadFile(file), "Records=x\r\nLink=irda\r\n");
    std::filesystem::remove_all(dir);
}
