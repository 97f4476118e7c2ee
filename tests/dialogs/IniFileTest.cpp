#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "../support/TempDir.h"
#include "base/IniFile.h"

namespace tamix {
namespace {

using test::ReadText;
using test::TempDir;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(IniFileTest, ReadsLikeThePlatformProfileFunctions) {
    TempDir dir;
    const std::string path = dir.File("tamix.INI");
    WriteFile(path,
              "; kept comment\r\n[options]\r\n  Time Unit = 1 \r\nfreq=-3\r\nfiletype=5x\r\n"
              "time= 2.5min\r\nchn1=abc\r\n[Channel info]\r\nname0 = Blood  pressure \r\n"
              "1VValue0=junk\r\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.GetInt("Options", "time unit", 0), 1);
    EXPECT_EQ(ini.GetInt("OPTIONS", "freq", 2), -3);
    EXPECT_EQ(ini.GetInt("Options", "filetype", 0), 5);
    EXPECT_EQ(ini.GetInt("Options", "chn1", 1), 0) << "present but not a number";
    EXPECT_EQ(ini.GetInt("Options", "chn2", 1), 1) << "missing: the default";
    EXPECT_EQ(ini.GetReal("Options", "time", "30.0"), 2.5);
    EXPECT_EQ(ini.GetReal("Options", "missing", "30.0"), 30.0);
    EXPECT_EQ(ini.GetReal("Channel info", "1VValue0", "1.0"), 0.0);
    EXPECT_EQ(ini.GetString("channel INFO", "NAME0", "chn"), "Blood  pressure");
}

TEST(IniFileTest, WritingKeepsEverythingElseAndAddsWhatIsNew) {
    TempDir dir;
    const std::string path = dir.File("tamix.INI");
    WriteFile(path, "; comment\r\n[Options]\r\nfreq=1\r\nmine=42\r\n\r\n[Foreign]\r\nx=1\r\n");
    IniFile ini(path);
    ini.SetInt("options", "FREQ", 3);
    ini.SetReal("Options", "time", 1234.5678);
    ini.SetInt("System setup", "port", 7);
    std::string error;
    ASSERT_TRUE(ini.Save(error)) << error;
    EXPECT_EQ(ReadText(path),
              "; comment\r\n[Options]\r\nFREQ=3\r\nmine=42\r\ntime=1234.57\r\n\r\n[Foreign]\r\n"
              "x=1\r\n\r\n[System setup]\r\nport=7\r\n");
    const IniFile again(path);
    EXPECT_EQ(again.GetReal("Options", "time", "0"), 1234.57);
}

TEST(IniFileTest, AFailedSaveLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("tamix.INI");
    WriteFile(path, "[Options]\r\nfreq=1\r\n");
    IniFile ini(path);
    ini.SetInt("Options", "freq", 4);
    // The new file cannot be created (even by root): a directory is in its place.
    std::filesystem::create_directory(path + ".new" + std::to_string(::getpid()));
    std::string error;
    EXPECT_FALSE(ini.Save(error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadText(path), "[Options]\r\nfreq=1\r\n");
}

TEST(IniFileTest, AMissingFileGivesDefaultsAndCanBeCreated) {
    TempDir dir;
    IniFile ini(dir.File("sub/dir/tamix.INI"));
    EXPECT_EQ(ini.GetInt("System setup", "port", 0), 0);
    ini.SetInt("System setup", "chn8", 1);
    std::string error;
    ASSERT_TRUE(ini.Save(error)) << error;
    EXPECT_EQ(IniFile(dir.File("sub/dir/tamix.INI")).GetInt("System setup", "chn8", 0), 1);
}

TEST(IniFileTest, ProfileLivesInTheUsersConfigurationFolder) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
    EXPECT_EQ(DefaultProfilePath(), "/x/cfg/tamix.INI");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultProfilePath(), std::string(std::getenv("HOME")) + "/.config/tamix.INI");
    if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace tamix
