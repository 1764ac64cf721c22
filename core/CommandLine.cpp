#include "core/CommandLine.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace skiro {
namespace {

// The options Qt's application object takes from any program's command line, with one or two
// dashes; those in the first list take a value, as the next argument or after "=".
constexpr std::array<std::string_view, 12> kWindowSystemValueOptions = {
    "platform",        "platformpluginpath",
    "platformtheme",   "plugin",
    "qwindowgeometry", "qwindowicon",
    "qwindowtitle",    "display",
    "geometry",        "style",
    "stylesheet",      "session"};
constexpr std::array<std::string_view, 6> kWindowSystemFlags = {
    "reverse", "nograb", "dograb", "sync", "widgetcount", "qmljsdebugger"};

std::string_view withoutDashes(std::string_view arg) {
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    return arg;
}

bool contains(const auto& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// How many arguments a window-system option at `args[i]` takes up, 0 when it is none.
std::size_t windowSystemOption(const std::vector<std::string_view>& args, std::size_t i) {
    const std::string_view name = withoutDashes(args[i]);
    const std::size_t equals = name.find('=');
    if (contains(kWindowSystemValueOptions, name.substr(0, equals)))
        return equals != std::string_view::npos || i + 1 >= args.size() ? 1 : 2;
    if (contains(kWindowSystemFlags, name.substr(0, equals)))
        return 1;
    return 0;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string_view>& args) {
    CommandLine line;
    const auto fail = [&line](std::string message) {
        line.action = CommandLine::Action::UsageError;
        line.error = std::move(message);
        return line;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (arg == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        if (arg == "--web") {
            line.web = true;
            line.webPort = 0;
            continue;
        }
        if (arg.starts_with("--web=")) {
            const std::string_view value = arg.substr(6);
            int port = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), port);
            if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
                port < 1 || port > 65535)
                return fail("--web=PORT: the port must be a number from 1 to 65535, not '" +
                            std::string(value) + "'");
            line.web = true;
            line.webPort = port;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            if (const std::size_t taken = windowSystemOption(args, i)) {
                i += taken - 1;
                continue;
            }
            return fail("unknown option '" + std::string(arg) + "'");
        }
        return fail("unexpected argument '" + std::string(arg) + "': skiro opens no files");
    }
    return line;
}

std::string commandLineUsage() {
    return "Usage: skiro [OPTION]...\n"
           "Shows Japanese text arriving in real time (Shift-JIS lines on a serial port, or text\n"
           "handed over by skiro-send) in a large font, new lines gliding in as old ones leave.\n"
           "\n"
           "  --web           serve the captions to browsers on the network for this run\n"
           "                  (the web view), on the port the profile names (default 8730)\n"
           "  --web=PORT      the same, on PORT (1 to 65535)\n"
           "  -h, --help      show this help and exit\n"
           "  --version       show the version and exit\n"
           "\n"
           "Qt's own options (-platform NAME, -display NAME, -style NAME, ...) are accepted too.\n"
           "\n"
           "The profile skiro.ini (viewer.ini for a copy renamed viewer) and the daily logs\n"
           "YYMMDD.log are kept beside the program when it runs from a folder of its own that\n"
           "it can write (the build folder, a portable copy); an installed program, or one in\n"
           "a folder it cannot write, keeps them in ~/.config/skiro/ and ~/.local/share/skiro/\n"
           "($XDG_CONFIG_HOME and $XDG_DATA_HOME where set).\n"
           "Everything else is set in the program's menus; F1 opens its help.\n"
           "\n"
           "Exit status: 0 after a normal close, 1 when the window could not be made, 2 for a\n"
           "usage error.\n";
}

} // namespace skiro
