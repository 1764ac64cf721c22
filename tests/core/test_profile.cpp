#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Profile.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using skiro::Profile;

namespace {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "skiro-profile-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    fs::path operator/(const std::string& name) const { return fs::path(m_path) / name; }
    const fs::path& path() const { return m_path; }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_path), {}));
    }

  private:
    fs::path m_path;
};

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TextCase {
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::string expected; // the default is "<default>"
};

} // namespace

TEST(ProfileRead, TextValuesAsTheWindowsReaderReturnsThem) {
    const TextCase cases[] = {
        {"blanks around key and value", "[Serial]\r\n  BaudRate  =  9600  \r\n", "Serial",
         "BaudRate", "9600"},
        {"section and key in other ASCII case", "[sErIaL]\nbaudRATE=9600\n", "Serial", "BaudRate",
         "9600"},
        {"blanks around the header", "  [Serial]  \nA=1", "Serial", "A", "1"},
        {"double quotes removed", "[K]\nHead=\"a b\"\n", "K", "Head", "a b"},
        {"single quotes removed", "[K]\nHead='ab'\n", "K", "Head", "ab"},
        {"blanks inside quotes kept", "[K]\nHead=\"  ab \"\n", "K", "Head", "  ab "},
        {"a lone opening quote kept", "[K]\nHead=\"ab\n", "K", "Head", "\"ab"},
        {"quotes of two kinds kept", "[K]\nHead=\"ab'\n", "K", "Head", "\"ab'"},
        {"a single quote character kept", "[K]\nHead=\"\n", "K", "Head", "\""},
        {"missing key", "[K]\nOther=1\n", "K", "Head", "<default>"},
        {"missing section", "[L]\nHead=1\n", "K", "Head", "<default>"},
        {"key of the previous section not seen", "[Scroll]\nTick=10\n[Serial]\n", "Serial", "Tick",
         "<default>"},
        {"first of duplicate keys wins", "[K]\nA=1\nA=2\n", "K", "A", "1"},
        {"first of duplicate sections wins", "[K]\nA=1\n[K]\nA=2\n", "K", "A", "1"},
        {"a line without '=' is no key", "[K]\nFlag\n", "K", "Flag", "<default>"},
        {"'=' inside the value kept", "[K]\nA=b=c\n", "K", "A", "b=c"},
        {"empty file", "", "K", "A", "<default>"},
        {"keys before any section belong to none", "A=1\n[K]\n", "K", "A", "<default>"},
        {"line cut inside a double-byte character", "[K]\nHead=\x81\x42\x81\r\nTail=x\r\n", "K",
         "Head", "\x81\x42"},
        {"']' as a trail byte closes no header", "[F\x81]\nA=1\n", "F\x81", "A", "<default>"},
        {"double-byte name is not case-folded", "[K]\n\x83\x41=1\n", "K", "\x83\x61", "<default>"},
        {"double-byte name matches itself", "[K]\n\x83\x41=1\n", "K", "\x83\x41", "1"},
        {"NUL byte ends the value", "[K]\nA=ab\0cd\n"s, "K", "A", "ab"},
        {"UTF-8 byte-order mark before the first section", "\xEF\xBB\xBF[Serial]\r\nComPort=2\r\n",
         "Serial", "ComPort", "2"},
        {"a lone CR ends the line", "[K]\nA=1\r2\r\n", "K", "A", "1"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Profile profile = Profile::fromBytes(c.file);
        EXPECT_EQ(profile.readText(c.section, c.key, "<default>"), c.expected);
    }
}

TEST(ProfileRead, TextIsCutTo259BytesWithoutSplittingACharacter) {
    const std::string kanji = "\x88\x9F"; // 亜
    struct {
        const char* name;
        std::string value;
        std::string expected;
    } cases[] = {
        {"258 bytes whole", std::string(258, 'a'), std::string(258, 'a')},
        {"259 bytes whole", std::string(259, 'a'), std::string(259, 'a')},
        {"260 bytes cut to 259", std::string(260, 'a'), std::string(259, 'a')},
        {"double-byte character ending at 259", std::string(257, 'a') + kanji,
         std::string(257, 'a') + kanji},
        {"double-byte character across the cut", std::string(258, 'a') + kanji,
         std::string(258, 'a')},
        {"quotes removed before the cut", "\"" + std::string(259, 'a') + "\"",
         std::string(259, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Profile profile = Profile::fromBytes("[K]\r\nA=" + c.value + "\r\n");
        EXPECT_EQ(profile.readText("K", "A", ""), c.expected);
    }
    // The default is cut the same way, as it goes through the same buffer.
    EXPECT_EQ(Profile().readText("K", "A", std::string(300, 'b')), std::string(259, 'b'));
}

TEST(ProfileRead, IntegersAsTheWindowsReaderParsesThem) {
    struct {
        const char* line; // nullptr: no key at all
        std::int32_t expected;
    } cases[] = {
        {nullptr, 7},     {"A=", 7},        {"A=\"\"", 7},        {"A=12", 12},
        {"A=12abc", 12},  {"A=abc", 0},     {"A=-5", -5},         {"A=+5", 5},
        {"A=  42  ", 42}, {"A=\"15\"", 15}, {"A=12 34", 12},      {"A=- 5", 0},
        {"A=0x1F", 31},   {"A=-0x10", -16}, {"A=0X1F", 0},        {"A=0b101", 5},
        {"A=0o17", 15},   {"A=007", 7},     {"A=4294967295", -1}, {"A=2147483648", INT32_MIN},
        {"A", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "(missing)");
        const Profile profile =
            Profile::fromBytes(std::string("[K]\r\n") + (c.line ? c.line : "") + "\r\n");
        EXPECT_EQ(profile.readInt("K", "A", 7), c.expected);
    }
}

TEST(ProfileRead, GarbageLoadsAndStaysEditable) {
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> byte(0, 255);
    const char interesting[] = {'[', ']', '=', '\r', '\n', '\0', '"', '\x81', ' '};
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::string garbage;
        for (int i = 0; i < 400; ++i) {
            const int b = byte(random);
            garbage += b < 64 ? interesting[b % sizeof interesting] : static_cast<char>(b);
        }
        Profile profile = Profile::fromBytes(garbage);
        (void)profile.readText("Serial", "ComPort", "");
        (void)profile.readInt("Serial", "ComPort", 0);
        profile.writeInt("Serial", "ComPort", 3);
        profile.writeText("Kinsoku", "Head", "\x81\x42\x81\x41");
        const Profile reread = Profile::fromBytes(profile.bytes());
        EXPECT_EQ(reread.readInt("Serial", "ComPort", 0), 3);
        EXPECT_EQ(reread.readText("Kinsoku", "Head", ""), "\x81\x42\x81\x41");
    }
}

TEST(ProfileWrite, KeepsOtherLinesReplacesInPlaceAndAppendsInOrder) {
    Profile profile = Profile::fromBytes("; SKIRO profile\n"
                                         "[SKIRO]\n"
                                         "Window=0,1,-1,-1\n"
                                         "\n"
                                         "[serial]\n"
                                         "COM1=/dev/ttyUSB0\n"
                                         "ComPort = 0\n"
                                         "\n"
                                         "[Font]\n"
                                         "Height=480");
    profile.writeInt("Serial", "ComPort", 3);
    profile.writeInt("Serial", "BaudRate", 9600);
    profile.writeInt("Serial", "TxCrConv", 1);
    profile.writeText("Color", "Text", "255,255,255");
    profile.writeText("Color", "Back", "0,0,255");
    // New lines end as the file's lines do (LF here); the last line gets its end when a line
    // follows it.
    EXPECT_EQ(profile.bytes(), "; SKIRO profile\n"
                               "[SKIRO]\n"
                               "Window=0,1,-1,-1\n"
                               "\n"
                               "[serial]\n"
                               "COM1=/dev/ttyUSB0\n"
                               "ComPort=3\n"
                               "BaudRate=9600\n"
                               "TxCrConv=1\n"
                               "\n"
                               "[Font]\n"
                               "Height=480\n"
                               "[Color]\n"
                               "Text=255,255,255\n"
                               "Back=0,0,255\n");
}

TEST(ProfileWrite, ByteOrderMarkIsKeptWhenWrittenBack) {
    Profile profile = Profile::fromBytes("\xEF\xBB\xBF[Serial]\r\nComPort=2\r\n");
    profile.writeInt("Serial", "ComPort", 1);
    EXPECT_EQ(profile.bytes(), "\xEF\xBB\xBF[Serial]\r\nComPort=1\r\n");
}

TEST(ProfileWrite, ValuesReadBackAsWrittenAndCannotInjectLines) {
    struct {
        const char* name;
        std::string value;
        std::string readBack;
    } cases[] = {
        {"blanks at both ends", "  a ", "  a "},
        {"enclosed in double quotes", "\"q\"", "\"q\""},
        {"enclosed in single quotes", "'q'", "'q'"},
        {"one quote only", "\"q", "\"q"},
        {"CR LF and a forged section stay on the line", "a\r\n[Evil]\r\nK=v", "a[Evil]K=v"},
        {"LF left out", "a\nb", "ab"},
        {"NUL left out", "a\0b"s, "ab"},
        // A lead byte whose trail is left out would pair with the next byte, or be dropped as
        // the last byte by the reader: it goes with the control byte.
        {"lead byte before CR", "\xE3\r\x81", ""},
        {"set with a CR inside", "\x81\x42\x81\x41\r\x81\x76", "\x81\x42\x81\x41\x81\x76"},
        {"lead byte last", "a\x81", "a"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Profile profile;
        profile.writeText("K", "A", c.value);
        const Profile reread = Profile::fromBytes(profile.bytes());
        EXPECT_EQ(reread.readText("K", "A", "<default>"), c.readBack);
        EXPECT_EQ(profile.readText("K", "A", "<default>"), c.readBack);
        EXPECT_FALSE(reread.contains("Evil", "K"));
    }
}

TEST(ProfileCommit, WritesTheWholeFileOnceAndKeepsItsMode) {
    TempFolder folder;
    const fs::path file = folder / "skiro.ini";
    writeFile(file, "[SKIRO]\nVersion=2.2(32)\n");
    ::chmod(file.c_str(), 0640);

    Profile profile = Profile::load(file.string());
    profile.writeInt("Serial", "ComPort", 2);
    const skiro::ProfileSaveResult result = profile.commit();
    ASSERT_TRUE(result.ok()) << result.message;

    EXPECT_EQ(readFile(file), "[SKIRO]\nVersion=2.2(32)\n[Serial]\nComPort=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(folder.entries(), 1u) << "no temporary file left behind";
}

TEST(ProfileCommit, EditsMadeToTheFileWhileTheProgramRunsSurvive) {
    TempFolder folder;
    const fs::path file = folder / "skiro.ini";
    writeFile(file, "; mine\r\n[Serial]\r\nComPort = 0\r\nBaudRate=1200\r\n\r\n[Scroll]\r\nTick=50\r\n");
    Profile profile = Profile::load(file.string());

    // The user maps a port, adds a comment and a section of their own, and sets a key the
    // program also writes.
    writeFile(file, "; mine\r\n[Serial]\r\nComPort = 0\r\nBaudRate=1200\r\nCOM1=/dev/ttyUSB0\r\n"
                    "\r\n; added\n[Scroll]\r\nTick=50\r\nStep=7\r\n[Other]\rA=1\r");
    EXPECT_EQ(profile.current().readText("Serial", "COM1", ""), "/dev/ttyUSB0");

    profile.writeInt("Serial", "ComPort", 0); // as read: the line stays as the user spelled it
    profile.writeInt("Serial", "BaudRate", 9600);
    profile.writeInt("Scroll", "Step", 2);
    profile.writeInt("Scroll", "SpeedUp", 1);
    profile.writeInt("Serial", "LocalEcho", 1);
    ASSERT_TRUE(profile.commit().ok());
    EXPECT_EQ(readFile(file), "; mine\r\n[Serial]\r\nComPort = 0\r\nBaudRate=9600\r\n"
                              "COM1=/dev/ttyUSB0\r\nLocalEcho=1\r\n\r\n; added\n[Scroll]\r\nTick=50\r\nStep=2\r\n"
                              "SpeedUp=1\r\n[Other]\rA=1\r");
}

TEST(ProfileCommit, ReadOnlyFileIsLeftAlone) {
    TempFolder folder;
    const fs::path file = folder / "skiro.ini";
    writeFile(file, "[Serial]\r\nComPort=1\r\n");
    ::chmod(file.c_str(), 0444);
    Profile profile = Profile::load(file.string());
    profile.writeInt("Serial", "ComPort", 2);
    const skiro::ProfileSaveResult result = profile.commit();
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.message.find("read-only"), std::string::npos) << result.message;
    EXPECT_EQ(readFile(file), "[Serial]\r\nComPort=1\r\n");
    EXPECT_EQ(folder.entries(), 1u);
}

TEST(ProfileCommit, MissingFileLoadsEmptyAndIsCreated) {
    TempFolder folder;
    const fs::path file = folder / "skiro.ini";
    Profile profile = Profile::load(file.string());
    EXPECT_EQ(profile.bytes(), "");
    EXPECT_EQ(profile.readInt("Serial", "ComPort", 5), 5);
    profile.writeInt("Serial", "ComPort", 1);
    ASSERT_TRUE(profile.commit().ok());
    EXPECT_EQ(readFile(file), "[Serial]\r\nComPort=1\r\n");
}

TEST(ProfileCommit, ThroughALinkReplacesTheTargetAndKeepsTheLink) {
    TempFolder folder;
    const fs::path target = folder / "real.ini";
    const fs::path link = folder / "skiro.ini";
    writeFile(target, "[Serial]\r\nComPort=0\r\n");
    fs::create_symlink(target, link);
    Profile profile = Profile::load(link.string());
    profile.writeInt("Serial", "ComPort", 3);
    ASSERT_TRUE(profile.commit().ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), "[Serial]\r\nComPort=3\r\n");
}

TEST(ProfileCommit, FailedWriteLeavesTheOldFileAndNoTemporary) {
    const std::string old = "[Serial]\r\nComPort=1\r\n";

    {
        SCOPED_TRACE("a directory in the way of the profile");
        TempFolder folder;
        const fs::path file = folder / "skiro.ini";
        fs::create_directory(file);
        writeFile(file / "keep", "x");
        Profile profile(file.string());
        profile.writeInt("Serial", "ComPort", 2);
        const skiro::ProfileSaveResult result = profile.commit();
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.message.empty());
        EXPECT_TRUE(fs::is_directory(file));
        EXPECT_EQ(readFile(file / "keep"), "x");
        EXPECT_EQ(folder.entries(), 1u);
    }
    {
        SCOPED_TRACE("the folder does not exist");
        TempFolder folder;
        Profile profile((folder / "gone" / "skiro.ini").string());
        profile.writeInt("Serial", "ComPort", 2);
        EXPECT_FALSE(profile.commit().ok());
        EXPECT_FALSE(fs::exists(folder / "gone"));
    }
    {
        SCOPED_TRACE("the disk fills during the write (file size limit)");
        TempFolder folder;
        const fs::path file = folder / "skiro.ini";
        writeFile(file, old);
        Profile profile = Profile::load(file.string());
        profile.writeText("Kinsoku", "Head", std::string(200, 'x'));

        // Over the limit, write() fails with EFBIG instead of raising SIGXFSZ.
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit small = previous;
        small.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &small);
        const skiro::ProfileSaveResult result = profile.commit();
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);

        EXPECT_EQ(result.error, EFBIG) << result.message;
        EXPECT_EQ(readFile(file), old);
        EXPECT_EQ(folder.entries(), 1u);
    }
}

TEST(ProfileCommit, ReadOnlyFolderLeavesTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    TempFolder folder;
    const fs::path file = folder / "skiro.ini";
    writeFile(file, "[Serial]\r\nComPort=1\r\n");
    ::chmod(folder.path().c_str(), 0500);
    Profile profile = Profile::load(file.string());
    profile.writeInt("Serial", "ComPort", 2);
    EXPECT_EQ(profile.commit().error, EACCES);
    ::chmod(folder.path().c_str(), 0700);
    EXPECT_EQ(readFile(file), "[Serial]\r\nComPort=1\r\n");
    EXPECT_EQ(folder.entries(), 1u);
}
