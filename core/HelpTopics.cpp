#include "core/HelpTopics.h"

namespace skiro {
namespace {

std::uint32_t topicForCommand(std::uint32_t id) {
    switch (id) {
    case 32784:
        return 5001; // Start
    case 32785:
        return 5002; // Stop
    case 32786:
        return 5004; // serial settings
    case 32787:
        return 5014; // font
    case 32788:      // text colour
    case 32789:
        return 5020; // background colour shares the colour page
    case 32790:
        return 5023; // outline
    case 32791:
        return 5027; // scroll
    case 32792:
        return 5034; // kinsoku
    case 32793:
        return 5038; // misc
    case 32794:
        return 5060; // the audience web view
    case 32795:
        return 5061; // the relay
    case 57664:
        return 5052; // about
    case 57665:
        return 5003; // exit
    case 57666:
        return 5050; // help contents
    case 57667:
        return 5051; // help on help
    default:
        return 5000;
    }
}

std::uint32_t topicForDialog(std::uint32_t id) {
    switch (id) {
    case 100:
        return 5052; // version
    case 130:
        return 5004; // serial
    case 131:
        return 5023; // outline
    case 132:
        return 5027; // scroll
    case 133:
        return 5034; // kinsoku
    case 134:
        return 5038; // misc
    case 135:
        return 5060; // the audience web view
    case 136:
        return 5061; // the relay
    case 28678:
        return 5014; // the font picker
    case 28679:
        return 5020; // the colour picker
    default:
        return 5000;
    }
}

} // namespace

HelpRequest mapHelpRequest(HelpRequest request) {
    if (request.command != HelpCommand::Context)
        return request;
    const std::uint32_t context = request.data;
    if (context < 0x10000 || context >= 0x60000)
        return HelpRequest{0, HelpCommand::Contents};
    if (context < 0x20000)
        return HelpRequest{topicForCommand(context - 0x10000), HelpCommand::Context};
    if (context < 0x30000)
        return HelpRequest{topicForDialog(context - 0x20000), HelpCommand::Context};
    return request;
}

} // namespace skiro
