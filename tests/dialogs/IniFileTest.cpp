#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
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

TEST(IniFileTest, LinesEndInCrLfLfOrCrAndAByteOrderMarkIsSkipped) {
    const std::string cases[] = {
        "[Options]\r\nfreq=3\r\n[X]\r\nfreq=1\r\n",
        "[Options]\nfreq=3\n[X]\nfreq=1",
        "[Options]\rfreq=3\r[X]\rfreq=1\r",
        "\xEF\xBB\xBF[Options]\r\nfreq=3\n\r[X]\rfreq=1\r\n",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        TempDir dir;
        WriteFile(dir.File("tamix.INI"), text);
        const IniFile ini(dir.File("tamix.INI"));
        EXPECT_EQ(ini.LoadError(), "");
        EXPECT_EQ(ini.GetInt("Options", "freq", 0), 3);
        EXPECT_EQ(ini.GetInt("X", "freq", 0), 1);
    }
}

TEST(IniFileTest, AByteOrderMarkIsKeptWhenSaving) {
    TempDir dir;
    const std::string path = dir.File("tamix.INI");
    WriteFile(path, "\xEF\xBB\xBF[Options]\r\nfreq=3\r\n");
    IniFile ini(path);
    ini.SetInt("Options", "freq", 4);
    std::string error;
    ASSERT_TRUE(ini.Save(error)) << error;
    EXPECT_EQ(ReadText(path), "\xEF\xBB\xBF[Options]\r\nfreq=4\r\n");
}

// Anything but a regular file of at most 1 MiB is an empty profile with a
// reason, read without blocking or without end, and never replaced by a save.
TEST(IniFileTest, OnlyRegularFilesUpToTheLimitAreRead) {
    TempDir dir;
    const std::string head = "[Options]\r\nfreq=3\r\n";
    const std::string atLimit = dir.File("limit.INI");
    WriteFile(atLimit, head + std::string(kMaxProfileBytes - head.size(), ';'));
    EXPECT_EQ(IniFile(atLimit).LoadError(), "");
    EXPECT_EQ(IniFile(atLimit).GetInt("Options", "freq", 0), 3);
    EXPECT_EQ(IniFile(dir.File("missing.INI")).LoadError(), "") << "a first run";

    const std::string overLimit = dir.File("large.INI");
    const std::string large = head + std::string(kMaxProfileBytes + 1 - head.size(), ';');
    WriteFile(overLimit, large);
    const std::string fifo = dir.File("fifo.INI");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> refused[] = {
        {overLimit, "Larger than 1 MiB"},
        {dir.path().string(), "Is a directory"},
        {fifo, "Not a regular file"},
        {"/dev/urandom", "Not a regular file"},
    };
    for (const auto& [path, reason] : refused) {
        SCOPED_TRACE(path);
        IniFile ini(path);
        EXPECT_EQ(ini.LoadError(), reason);
        EXPECT_EQ(ini.GetInt("Options", "freq", 2), 2);
        ini.SetInt("Options", "freq", 4);
        std::string error;
        EXPECT_FALSE(ini.Save(error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    EXPECT_EQ(ReadText(overLimit), large);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(IniFileTest, SavingKeepsTheFilesModeAndASymbolicLink) {
    namespace fs = std::filesystem;
    for (const mode_t mode : {0600, 0664}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        fs::create_directory(dir.File("real"));
        const std::string target = dir.File("real/tamix.INI");
        WriteFile(target, "[Options]\r\nfreq=1\r\n");
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        fs::create_symlink("real/tamix.INI", dir.File("link.INI"));
        IniFile ini(dir.File("link.INI"));
        ini.SetInt("Options", "freq", 4);
        std::string error;
        ASSERT_TRUE(ini.Save(error)) << error;
        EXPECT_TRUE(fs::is_symlink(dir.File("link.INI")));
        EXPECT_EQ(ReadText(target), "[Options]\r\nfreq=4\r\n");
        EXPECT_EQ(ModeOf(target), mode);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("real")), {}), 1)
            << "no temporary file left beside the target";
    }
}

TEST(IniFileTest, ANewProfileThroughADanglingLinkIsCreatedAtItsTarget) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::create_symlink(dir.File("cfg/tamix.INI"), dir.File("link.INI"));
    IniFile ini(dir.File("link.INI"));
    ini.SetInt("Options", "freq", 4);
    std::string error;
    ASSERT_TRUE(ini.Save(error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir.File("link.INI")));
    EXPECT_EQ(IniFile(dir.File("cfg/tamix.INI")).GetInt("Options", "freq", 0), 4);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(ModeOf(dir.File("cfg/tamix.INI")), 0666 & ~mask);
}

TEST(IniFileTest, NumbersTooLargeForADoubleReadAsInfinite) {
    EXPECT_EQ(LeadingNumber("1e999"), HUGE_VAL);
    EXPECT_EQ(LeadingNumber("-1e999x"), -HUGE_VAL);
    EXPECT_EQ(LeadingNumber("1e-999"), 0.0);
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
