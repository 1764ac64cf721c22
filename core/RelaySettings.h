#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace skiro {

class Profile;

// What this display does with a room on an MQTT broker, kept in the profile's [Relay] section.
// The password is never kept here: it lives in the desktop's secret store or in a file only the
// user can read.
struct RelaySettings {
    enum Mode : std::int32_t {
        Off = 0,
        Send = 1,    // the lines this display records, and its growing line, go to the room
        Receive = 2, // the room's input comes in as if from the serial port; the lines go out
        Follow = 3,  // the lines of the display that sends to the room are shown here
    };

    std::int32_t Mode = Off;
    std::string Broker; // mqtts://host[:port], mqtt://host[:port]
    std::string Room;
    std::string User;
    std::string CaFile;   // empty: the system's store
    std::string ClientId; // made once, so that the broker keeps this display's session

    bool operator==(const RelaySettings&) const = default;
};

// The mode's name in the profile: "off", "send", "receive", "follow".
std::string_view relayModeName(std::int32_t mode);
// Any other name is Off.
std::int32_t relayModeFromName(std::string_view name);

// Missing keys keep the defaults.
void loadRelaySettings(const Profile& profile, RelaySettings& relay);
// Writes the section only where the profile has one already or the settings differ from the
// defaults, so a profile that never used the relay stays as it was.
void saveRelaySettings(const RelaySettings& relay, Profile& profile);

} // namespace skiro
