#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/Profile.h"
#include "core/Recorder.h"
#include "platform/WinPaths.h"

// The profile and the log through the Windows file calls, in a folder whose name only Unicode
// can hold (paths are UTF-8 in the program), as a user's folder may be named.
namespace skiro {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WinFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        // "Jos\u00e9 \u5b57\u5e55 \ud55c": Latin, kanji and hangul, which no ANSI code page
        // holds together.
        folder = fs::temp_directory_path() /
                 fs::path(u8"skiro-Jos\u00e9-\u5b57\u5e55-\ud55c-" +
                          std::u8string(reinterpret_cast<const char8_t*>(
                              std::to_string(::GetCurrentProcessId()).c_str())));
        fs::remove_all(folder);
        ASSERT_TRUE(fs::create_directory(folder));
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder, ignored))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(folder, ignored);
    }
    // The path as the program holds it: UTF-8 bytes.
    std::string utf8(const fs::path& path) const {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    }
    fs::path folder;
};

TEST_F(WinFiles, ProfileIsReplacedWholeAndKeepsWhatOthersWrote) {
    const fs::path file = folder / "skiro.ini";
    std::ofstream(file, std::ios::binary) << "[Other]\r\nKey=kept\r\n";
    Profile profile = Profile::load(utf8(file));
    EXPECT_EQ(profile.readText("Other", "Key", ""), "kept");
    profile.writeInt("Scroll", "Tick", 30);
    // Written by someone else after the load: the save starts from the file as it is now.
    std::ofstream(file, std::ios::binary | std::ios::app) << "[Late]\r\nA=1\r\n";
    const ProfileSaveResult saved = profile.commit();
    ASSERT_TRUE(saved.ok()) << saved.message;
    const std::string bytes = readFile(file);
    EXPECT_NE(bytes.find("Key=kept\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("[Late]\r\nA=1\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("[Scroll]\r\nTick=30\r\n"), std::string::npos);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(WinFiles, ReadOnlyProfileIsLeftAlone) {
    const fs::path file = folder / "skiro.ini";
    std::ofstream(file, std::ios::binary) << "[Scroll]\r\nTick=50\r\n";
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    Profile profile = Profile::load(utf8(file));
    profile.writeInt("Scroll", "Tick", 10);
    const ProfileSaveResult saved = profile.commit();
    EXPECT_FALSE(saved.ok());
    EXPECT_EQ(readFile(file), "[Scroll]\r\nTick=50\r\n");
}

TEST_F(WinFiles, MissingProfileIsMadeAndAMissingFolderIsAnError) {
    Profile made(utf8(folder / "new.ini"));
    made.writeText("Font", "FaceName", "x");
    ASSERT_TRUE(made.commit().ok());
    EXPECT_EQ(readFile(folder / "new.ini"), "[Font]\r\nFaceName=x\r\n");

    Profile nowhere(utf8(folder / "missing" / "skiro.ini"));
    nowhere.writeText("Font", "FaceName", "x");
    EXPECT_FALSE(nowhere.commit().ok());
}

TEST_F(WinFiles, LogLinesAreAppendedWholeFromSeveralWriters) {
    const std::string log = utf8(folder / "261210.log");
    EXPECT_TRUE(appendRecord(log, "first\r\n"));
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            const std::string line = "writer " + std::to_string(w) + std::string(200, 'x') + "\r\n";
            for (int i = 0; i < 50; ++i)
                appendRecord(log, line);
        });
    for (std::thread& t : writers)
        t.join();
    const std::string bytes = readFile(folder / "261210.log");
    EXPECT_EQ(bytes.rfind("first\r\n", 0), 0u);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    EXPECT_EQ(lines, 1u + 4 * 50);
    EXPECT_EQ(bytes.size(), 7u + 4 * 50 * (8 + 200 + 2));
    EXPECT_FALSE(appendRecord(utf8(folder / "missing" / "x.log"), "x\r\n"));
}

TEST(WinFilesPaths, Utf8PathsBecomeWideAndAnsiOnesStillWork) {
    EXPECT_EQ(widePath("C:/a/\xE5\xAD\x97\xE5\xB9\x95.ini"), L"C:/a/\u5b57\u5e55.ini");
    // Bytes that are no UTF-8 are the system's ANSI code page, as Qt's encodeName gives them.
    std::string ansi = "C:/\xE9";
    std::wstring expected(4, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), 4, expected.data(), 4);
    EXPECT_EQ(widePath(ansi), expected);
}

} // namespace
} // namespace skiro
