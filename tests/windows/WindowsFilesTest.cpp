// The Windows side of the file seams: the recording file's lock and positioned
// writes, the reader's positioned reads, the profile's replacement and place, with
// UTF-8 names that the system's ANSI functions would mangle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../support/TempDir.h"
#include "base/IniFile.h"
#include "recording/OutputFile.h"
#include "recording/ReadOnlyFile.h"

namespace tamix {
namespace {

const std::string kName = "Messung \xC3\xA4\xE2\x82\xAC.wdq";  // "Messung ä€.wdq"

std::filesystem::path Utf8Path(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

TEST(WindowsFiles, ASecondWriterIsRefusedAndTheFileKeepsItsBytes) {
    test::TempDir dir;
    const std::string path = dir.File("a.wdq");
    std::string error;
    auto first = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(first) << error;
    ASSERT_TRUE(first->Write("0123456789", 10));
    ASSERT_TRUE(first->Flush());
    EXPECT_FALSE(DefaultFileOpener().Create(path, error));
    EXPECT_EQ(error, "it is being recorded by another program");
    EXPECT_FALSE(DefaultFileOpener().CanCreate(path, error));
    ASSERT_TRUE(first->Close()) << first->Error();
    EXPECT_EQ(test::ReadText(path), "0123456789");
    // Readers may look at it while it is recorded.
    auto again = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(again) << error;
    ReadOnlyFile view;
    EXPECT_TRUE(view.Open(path, error)) << error;
}

TEST(WindowsFiles, AppendsContinueAtTheEndAfterAHeaderPatch) {
    test::TempDir dir;
    const std::string path = dir.File("b.wdq");
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->Write("abcdef", 6));
    ASSERT_TRUE(file->PatchAt(1, "XY", 2));
    ASSERT_TRUE(file->Write("gh", 2));
    EXPECT_EQ(file->DurableSize(), 8u);
    ASSERT_TRUE(file->PatchAt(7, "Z", 1));
    ASSERT_TRUE(file->Close()) << file->Error();
    EXPECT_EQ(test::ReadText(path), "aXYdefgZ");
}

TEST(WindowsFiles, CreateTruncatesAndCanCreateLeavesNoFile) {
    test::TempDir dir;
    const std::string path = dir.path().string() + "\\" + kName;
    std::string error;
    EXPECT_TRUE(DefaultFileOpener().CanCreate(path, error)) << error;
    EXPECT_FALSE(DefaultFileOpener().Exists(path));
    for (const std::string text : {"a longer first text", "short"}) {
        auto file = DefaultFileOpener().Create(path, error);
        ASSERT_TRUE(file) << error;
        ASSERT_TRUE(file->Write(text.data(), text.size()));
        ASSERT_TRUE(file->Close());
    }
    EXPECT_TRUE(DefaultFileOpener().Exists(path));
    EXPECT_TRUE(std::filesystem::exists(Utf8Path(path)));
    EXPECT_FALSE(DefaultFileOpener().Create(dir.File("no-such-folder\\x.wdq"), error));
    EXPECT_FALSE(error.empty());
}

TEST(WindowsFiles, ReadOnlyFileReadsFilesAndRefusesTheRest) {
    test::TempDir dir;
    const std::string path = dir.path().string() + "\\" + kName;
    std::string error;
    {
        auto file = DefaultFileOpener().Create(path, error);
        ASSERT_TRUE(file) << error;
        ASSERT_TRUE(file->Write("positioned bytes", 16));
        ASSERT_TRUE(file->Close());
    }
    ReadOnlyFile view;
    ASSERT_TRUE(view.Open(path, error)) << error;
    view.AdviseSequential();
    std::string text(5, '\0');
    ASSERT_TRUE(view.ReadAt(11, std::span(reinterpret_cast<uint8_t*>(text.data()), 5), error))
        << error;
    EXPECT_EQ(text, "bytes");
    ReadOnlyFile moved(std::move(view));
    EXPECT_EQ(moved.Size(), 16u);
    EXPECT_FALSE(moved.ReadAt(12, std::span(reinterpret_cast<uint8_t*>(text.data()), 5), error));

    // Nothing holds the file against others: it can be cut short while it is
    // open, and a read past the new end says so.
    std::filesystem::resize_file(Utf8Path(path), 4);
    EXPECT_FALSE(moved.ReadAt(11, std::span(reinterpret_cast<uint8_t*>(text.data()), 5), error));
    EXPECT_EQ(error, kFileChangedReason);

    ReadOnlyFile empty;
    std::filesystem::create_directory(dir.path() / "sub");
    {
        auto f = DefaultFileOpener().Create(dir.File("empty.wdq"), error);
        ASSERT_TRUE(f->Close());
    }
    EXPECT_TRUE(empty.Open(dir.File("empty.wdq"), error));
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_FALSE(empty.Open(dir.File("sub"), error));
    EXPECT_EQ(error, "not a regular file");
    error.clear();
    EXPECT_FALSE(empty.Open(dir.File("missing.wdq"), error));
    EXPECT_FALSE(error.empty());
}

TEST(WindowsFiles, ProfileIsReplacedWholeAndReadBack) {
    test::TempDir dir;
    const std::string path = dir.path().string() + "\\Profil \xC3\xA4.INI";
    std::string error;
    for (const char* value : {"first", "second"}) {
        IniFile profile(path);
        ASSERT_TRUE(profile.LoadError().empty()) << profile.LoadError();
        profile.SetString("Setup", "Name", value);
        ASSERT_TRUE(profile.Save(error)) << error;
    }
    const IniFile back(path);
    EXPECT_EQ(back.GetString("Setup", "Name", ""), "second");
    // Only the profile itself is left: no temporary file of the replacement.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1);

    std::filesystem::create_directory(dir.path() / "folder.INI");
    const IniFile folder(dir.File("folder.INI"));
    EXPECT_FALSE(folder.LoadError().empty());
    EXPECT_FALSE(folder.Save(error));
}

TEST(WindowsFiles, DefaultProfileLivesInTheRoamingApplicationData) {
    const char* appData = std::getenv("APPDATA");
    ASSERT_NE(appData, nullptr);
    EXPECT_EQ(DefaultProfilePath(), std::string(appData) + "\\tamix.INI");
}

}  // namespace
}  // namespace tamix
