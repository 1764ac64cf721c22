#pragma once
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace skiro {

// skiro-send --relay: text for a room's input, through the broker, to the display that
// receives the room. The password comes from a file or the environment, never the command line.
struct RelaySendOptions {
    QString address;      // mqtts://host[:port]/room
    QString user;         // --user, else SKIRO_RELAY_USER
    QString passwordFile; // --password-file, else SKIRO_RELAY_PASSWORD
    QString caFile;       // --ca, else SKIRO_RELAY_CA; empty: the system's store
    int waitSeconds = 10; // for the broker, at the start and for the last acknowledgements
};

// Sends each line `next` gives (UTF-8, the CR that ends it already on it when it has one) as
// one input message, in order, and waits for the broker to acknowledge them all. Returns
// skiro-send's exit status: 0 all acknowledged, 1 nothing delivered (with the reason on
// standard error), 3 only part, or not known whether the rest arrived.
int sendThroughRelay(const RelaySendOptions& options,
                     const std::function<std::optional<std::string>()>& next);

} // namespace skiro
