#include <QString>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/QtSjisConversion.h"
#include "core/Profile.h"
#include "core/SettingsStore.h"

namespace {

using namespace skiro;

// A text as UTF-16 LE bytes with the byte-order mark, as Notepad and the Windows functions
// keep a Unicode profile.
std::string utf16(const std::string& utf8) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    std::string out = "\xFF\xFE";
    for (const QChar c : text) {
        out += static_cast<char>(c.unicode() & 0xFF);
        out += static_cast<char>(c.unicode() >> 8);
    }
    return out;
}

// Everything a profile gives the program, as the Shift-JIS bytes a save into a new profile
// writes.
std::string settingsOf(const Profile& profile) {
    Settings settings;
    KinsokuValues kinsoku;
    loadSettings(profile, settings, kinsoku);
    Profile out;
    saveSettings(settings, kinsoku, out);
    return out.bytes();
}

struct Value {
    const char* section;
    const char* key;
    std::string expected; // Shift-JIS; "<default>" when the key is not there
};

struct FileCase {
    const char* name;
    std::string in;
    std::vector<Value> values;
    Value write; // written, then the file's bytes are compared
    std::string after;
};

const std::string kGothic = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E"; // ＭＳ ゴシック
const std::string kMincho = "\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9";                 // ＭＳ 明朝

} // namespace

TEST(ProfileFiles, ReadInEveryEncodingAndWrittenBackInIt) {
    const FileCase cases[] = {
        {"blanks inside the brackets", "[ Serial ]\r\nComPort=2\r\n[\tKinsoku]\r\nType=1\r\n",
         {{"Serial", "ComPort", "2"}, {"Kinsoku", "Type", "1"}},
         {"Serial", "ComPort", "3"},
         "[ Serial ]\r\nComPort=3\r\n[\tKinsoku]\r\nType=1\r\n"},
        {"lines ended by CR alone", "[Serial]\rComPort=2\rBaudRate=9600\r",
         {{"Serial", "ComPort", "2"}, {"Serial", "BaudRate", "9600"}},
         {"Serial", "LocalEcho", "1"},
         "[Serial]\rComPort=2\rBaudRate=9600\rLocalEcho=1\r"},
        {"a stray CR inside a line", "[Scroll]\r\nTick=20\rStep=5\r\n",
         {{"Scroll", "Tick", "20"}, {"Scroll", "Step", "5"}},
         {"Scroll", "Step", "6"},
         "[Scroll]\r\nTick=20\rStep=6\r\n"},
        {"a line without '=' is no key", "[Kinsoku]\r\nHead\r\nType=2\r\n",
         {{"Kinsoku", "Head", "<default>"}, {"Kinsoku", "Type", "2"}},
         {"Kinsoku", "Head", "\x81\x42"},
         "[Kinsoku]\r\nHead\r\nType=2\r\nHead=\x81\x42\r\n"},
        {"UTF-16 LE with its mark",
         utf16("[Font]\r\nHeight=-600\r\nFaceName=ＭＳ ゴシック\r\n"),
         {{"Font", "Height", "-600"}, {"Font", "FaceName", kGothic}},
         {"Font", "FaceName", kMincho},
         utf16("[Font]\r\nHeight=-600\r\nFaceName=ＭＳ 明朝\r\n")},
        {"UTF-8 with its mark", "\xEF\xBB\xBF[Kinsoku]\nHead=。、\n",
         {{"Kinsoku", "Head", "\x81\x42\x81\x41"}},
         {"Kinsoku", "Tail", "\x81\x75"},
         "\xEF\xBB\xBF[Kinsoku]\nHead=。、\nTail=「\n"},
        {"UTF-8 without a mark, a character Shift-JIS lacks kept",
         "; 😀 edited here\n[Font]\nHeight=480\nFaceName=ＭＳ ゴシック\n",
         {{"Font", "FaceName", kGothic}},
         {"Font", "FaceName", kMincho},
         "; 😀 edited here\n[Font]\nHeight=480\nFaceName=ＭＳ 明朝\n"},
        {"ASCII only is Shift-JIS", "[Font]\r\nHeight=480\r\n",
         {{"Font", "Height", "480"}},
         {"Font", "FaceName", kGothic},
         "[Font]\r\nHeight=480\r\nFaceName=" + kGothic + "\r\n"},
        {"Shift-JIS", "[Font]\r\nHeight=480\r\nFaceName=" + kGothic + "\r\n",
         {{"Font", "FaceName", kGothic}},
         {"Font", "Weight", "700"},
         "[Font]\r\nHeight=480\r\nFaceName=" + kGothic + "\r\nWeight=700\r\n"},
        {"a new profile is Shift-JIS", "",
         {{"Font", "FaceName", "<default>"}},
         {"Font", "FaceName", kMincho},
         "[Font]\r\nFaceName=" + kMincho + "\r\n"},
    };
    const QtSjisConversion conversion;
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        Profile profile = Profile::fromBytes(c.in, {}, &conversion);
        for (const Value& v : c.values)
            EXPECT_EQ(profile.readText(v.section, v.key, "<default>"), v.expected) << v.key;

        // A save of the settings changes nothing they read from the file.
        Profile saved = profile;
        Settings settings;
        KinsokuValues kinsoku;
        loadSettings(profile, settings, kinsoku);
        saveSettings(settings, kinsoku, saved);
        EXPECT_EQ(settingsOf(Profile::fromBytes(saved.bytes(), {}, &conversion)),
                  settingsOf(profile));
        EXPECT_EQ(Profile::fromBytes(saved.bytes(), {}, &conversion).encoding(),
                  profile.encoding());

        profile.writeText(c.write.section, c.write.key, c.write.expected);
        EXPECT_EQ(profile.bytes(), c.after);
        EXPECT_EQ(Profile::fromBytes(c.after, {}, &conversion)
                      .readText(c.write.section, c.write.key, "<default>"),
                  c.write.expected);
    }
}
