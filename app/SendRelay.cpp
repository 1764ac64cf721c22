#include "app/SendRelay.h"

#include "relay/RelaySend.h"

namespace skiro {

bool relayBuilt() {
    return true;
}

int sendToRoom(const RelayTarget& target, const std::function<std::optional<std::string>()>& next) {
    RelaySendOptions options;
    options.address = target.address;
    options.user = target.user;
    options.passwordFile = target.passwordFile;
    options.caFile = target.caFile;
    if (target.waitSeconds)
        options.waitSeconds = *target.waitSeconds;
    return sendThroughRelay(options, next);
}

} // namespace skiro
