#include "core/RelaySettings.h"

#include <array>

#include "core/Profile.h"

namespace skiro {
namespace {

constexpr std::string_view kRelay = "Relay";
constexpr std::array<std::string_view, 4> kModeNames = {"off", "send", "receive", "follow"};

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::string_view relayModeName(std::int32_t mode) {
    return mode >= 0 && mode < static_cast<std::int32_t>(kModeNames.size()) ? kModeNames[mode]
                                                                            : kModeNames[0];
}

std::int32_t relayModeFromName(std::string_view name) {
    for (std::size_t i = 0; i < kModeNames.size(); ++i) {
        if (sameIgnoringCase(name, kModeNames[i]))
            return static_cast<std::int32_t>(i);
    }
    return RelaySettings::Off;
}

void loadRelaySettings(const Profile& profile, RelaySettings& relay) {
    relay.Mode = relayModeFromName(profile.readText(kRelay, "Mode", relayModeName(relay.Mode)));
    relay.Broker = profile.readText(kRelay, "Broker", relay.Broker);
    relay.Room = profile.readText(kRelay, "Room", relay.Room);
    relay.User = profile.readText(kRelay, "User", relay.User);
    relay.CaFile = profile.readText(kRelay, "CaFile", relay.CaFile);
    relay.ClientId = profile.readText(kRelay, "ClientId", relay.ClientId);
}

void saveRelaySettings(const RelaySettings& relay, Profile& profile) {
    const bool present = profile.contains(kRelay, "Mode") || profile.contains(kRelay, "Broker");
    if (!present && relay == RelaySettings{})
        return;
    profile.writeText(kRelay, "Mode", relayModeName(relay.Mode));
    profile.writeText(kRelay, "Broker", relay.Broker);
    profile.writeText(kRelay, "Room", relay.Room);
    profile.writeText(kRelay, "User", relay.User);
    profile.writeText(kRelay, "CaFile", relay.CaFile);
    profile.writeText(kRelay, "ClientId", relay.ClientId);
}

} // namespace skiro
