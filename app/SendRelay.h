#pragma once
#include <QString>

#include <functional>
#include <optional>
#include <string>

// skiro-send --relay as the build has it: CMake compiles SendRelay.cpp where the build has the
// relay, else NoSendRelay.cpp (Windows).
namespace skiro {

// Where and as whom to send, and how long to wait for the broker.
struct RelayTarget {
    QString address;                // mqtts://host[:port]/room
    QString user;                   // empty: from the environment
    QString passwordFile;           // empty: from the environment
    QString caFile;                 // empty: from the environment, else the system's store
    std::optional<int> waitSeconds; // empty: the relay's own default
};

// Whether this build has the relay.
bool relayBuilt();

// Sends each line `next` gives (UTF-8, with the CR that ends it when it has one) as the room's
// input and returns skiro-send's exit status. Only where relayBuilt().
int sendToRoom(const RelayTarget& target, const std::function<std::optional<std::string>()>& next);

} // namespace skiro
