// skiro-send in a build without the relay (Windows): --relay is refused before anything is sent.
#include "app/SendRelay.h"

namespace skiro {

bool relayBuilt() {
    return false;
}

int sendToRoom(const RelayTarget&, const std::function<std::optional<std::string>()>&) {
    return 1; // not reached: skiro-send asks relayBuilt() first
}

} // namespace skiro
