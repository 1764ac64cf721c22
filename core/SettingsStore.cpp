#include "core/SettingsStore.h"

#include <cstdio>

#include "core/SettingsPages.h"

namespace skiro {

namespace {

constexpr std::string_view kFont = "Font";
constexpr std::string_view kColor = "Color";

std::uint8_t low8(std::int32_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

void loadFont(const Profile& profile, Font& font) {
    const std::int32_t height = profile.readInt(kFont, "Height", 0);
    if (height == 0)
        return;
    font.lfHeight = height;
    font.lfWeight = profile.readInt(kFont, "Weight", font.lfWeight);
    font.lfItalic = low8(profile.readInt(kFont, "Italic", font.lfItalic));
    font.lfUnderline = low8(profile.readInt(kFont, "Underline", font.lfUnderline));
    font.lfCharSet = low8(profile.readInt(kFont, "CharSet", font.lfCharSet));
    font.lfPitchAndFamily = low8(profile.readInt(kFont, "PitchAndFamily", font.lfPitchAndFamily));
    std::string faceName = profile.readText(kFont, "FaceName", font.lfFaceName);
    if (faceName.size() <= Font::kFaceNameMax)
        font.lfFaceName = std::move(faceName);
}

void saveFont(const Font& font, Profile& profile) {
    profile.writeInt(kFont, "Height", font.lfHeight);
    profile.writeInt(kFont, "Weight", font.lfWeight);
    profile.writeInt(kFont, "Italic", font.lfItalic);
    profile.writeInt(kFont, "Underline", font.lfUnderline);
    profile.writeInt(kFont, "CharSet", font.lfCharSet);
    profile.writeInt(kFont, "PitchAndFamily", font.lfPitchAndFamily);
    profile.writeText(kFont, "FaceName", font.lfFaceName);
}

void loadColour(const Profile& profile, std::string_view key, Colour& colour) {
    const std::string text = profile.readText(kColor, key, "");
    if (!text.empty())
        scanColour(text, colour);
}

} // namespace

void loadSettings(const Profile& profile, Settings& settings, KinsokuValues& kinsoku) {
    SerialPage serial;
    serial.load(profile);
    serial.toSettings(settings);

    ScrollPage scroll;
    scroll.load(profile);
    scroll.toSettings(settings);

    loadFont(profile, settings.Font);

    loadColour(profile, "Text", settings.Color.Text);
    loadColour(profile, "Back", settings.Color.Back);

    OutlinePage outline;
    outline.load(profile);
    outline.toSettings(settings);

    KinsokuPage kinsokuPage;
    kinsokuPage.load(profile);
    kinsokuPage.toKinsoku(kinsoku);

    loadWebSettings(profile, settings.Web);
    loadRelaySettings(profile, settings.Relay);
}

void saveSettings(const Settings& settings, const KinsokuValues& kinsoku, Profile& profile) {
    SerialPage::fromSettings(settings).save(profile);
    ScrollPage::fromSettings(settings).save(profile);
    saveFont(settings.Font, profile);
    profile.writeText(kColor, "Text", formatColour(settings.Color.Text));
    profile.writeText(kColor, "Back", formatColour(settings.Color.Back));
    OutlinePage::fromSettings(settings).save(profile);
    KinsokuPage::fromKinsoku(kinsoku).save(profile);
    saveWebSettings(settings.Web, profile);
    saveRelaySettings(settings.Relay, profile);
}

void applyWriteTime(const Profile& profile, Settings& settings) {
    if (profile.readText("SKIRO", "Window", "").empty())
        return;
    const std::int32_t seconds = profile.readInt("Misc", "WriteTime", 0);
    if (seconds > 0) {
        settings.TimeStamp = 1;
        settings.WriteTime = seconds / 60 * 60;
    } else {
        settings.TimeStamp = 0;
    }
}

} // namespace skiro
