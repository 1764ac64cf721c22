// Any file as a profile: loading its settings, saving them back and loading again gives the same
// settings, and a second save changes no byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Profile.h"
#include "core/SettingsStore.h"
#include "core/ShiftJis.h"

namespace {

using namespace skiro;

// A conversion that is its own inverse on Shift-JIS bytes, so that a UTF-8 or UTF-16 profile
// round-trips every value without Unicode tables: a character beyond ASCII travels as a code
// point of the private-use plane U+F0000 that carries its bytes.
class PlaneConversion final : public SjisConversion {
  public:
    std::string toUtf8(std::string_view sjis) const override {
        std::string out;
        for (std::size_t i = 0; i < sjis.size();) {
            const std::size_t length = sjis::charLength(sjis, i);
            const auto b0 = static_cast<unsigned char>(sjis[i]);
            if (length == 1 && b0 < 0x80) {
                out += sjis[i];
            } else {
                std::uint32_t code = b0;
                if (length == 2)
                    code = (code << 8) | static_cast<unsigned char>(sjis[i + 1]);
                const std::uint32_t cp = 0xF0000 + code;
                out += static_cast<char>(0xF0 | (cp >> 18));
                out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (cp & 0x3F));
            }
            i += length;
        }
        return out;
    }
    std::string toSjis(std::string_view utf8) const override {
        std::string out;
        for (std::size_t i = 0; i < utf8.size();) {
            const auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
            if (b(i) < 0x80) {
                out += utf8[i++];
                continue;
            }
            if (b(i) == 0xF3 && i + 3 < utf8.size() && (b(i + 1) & 0xF0) == 0xB0 &&
                (b(i + 2) & 0xC0) == 0x80 && (b(i + 3) & 0xC0) == 0x80) {
                const std::uint32_t code = ((b(i + 1) & 0x0F) << 12) |
                                           ((b(i + 2) & 0x3F) << 6) | (b(i + 3) & 0x3F);
                const auto hi = static_cast<unsigned char>(code >> 8);
                const auto lo = static_cast<unsigned char>(code & 0xFF);
                if (hi == 0 && lo >= 0x80)
                    out += static_cast<char>(lo);
                else if (sjis::isLeadByte(hi) && sjis::isTrailByte(lo))
                    out += {static_cast<char>(hi), static_cast<char>(lo)};
                else
                    out += '?';
                i += 4;
                continue;
            }
            out += '?';
            ++i;
        }
        return out;
    }
};

const PlaneConversion kConversion;

struct Loaded {
    Settings settings;
    KinsokuValues kinsoku;
    std::string asSaved; // everything the profile gives the program, as a new profile holds it
};

Loaded load(const Profile& profile) {
    Loaded loaded;
    loadSettings(profile, loaded.settings, loaded.kinsoku);
    applyWriteTime(profile, loaded.settings);
    Profile out;
    saveSettings(loaded.settings, loaded.kinsoku, out);
    out.writeInt("Misc", "TimeStamp", loaded.settings.TimeStamp);
    out.writeInt("Misc", "WriteTime", loaded.settings.WriteTime);
    loaded.asSaved = out.bytes();
    return loaded;
}

std::string saveInto(Profile profile, const Loaded& loaded) {
    saveSettings(loaded.settings, loaded.kinsoku, profile);
    return profile.bytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Profile profile = Profile::fromBytes(bytes, {}, &kConversion);
    const Loaded first = load(profile);
    const std::string once = saveInto(profile, first);
    const Profile reread = Profile::fromBytes(once, {}, &kConversion);
    // Telling UTF-8 from Shift-JIS by validity alone cannot survive a save that replaces the
    // only bytes that told them apart; such a file is not a profile anyone keeps.
    if (reread.encoding() != profile.encoding())
        return 0;
    const Loaded second = load(reread);
    if (second.asSaved != first.asSaved)
        std::abort();
    if (saveInto(reread, second) != once)
        std::abort();
    return 0;
}
