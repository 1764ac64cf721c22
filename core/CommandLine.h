#pragma once
#include <string>
#include <string_view>
#include <vector>

// What `skiro` is asked to do by its command line, read before any window exists so that
// --help and --version work without a display.
namespace skiro {

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    // --web or --web=PORT: the web view on for this run; port 0 takes the profile's.
    bool web = false;
    int webPort = 0;
    // For a usage error: what was wrong, one line without the program's name.
    std::string error;
};

// Reads the arguments after the program's name. The window system's own options
// (-platform NAME, -display NAME, -style NAME, -reverse, ...) are accepted and left for it.
CommandLine parseCommandLine(const std::vector<std::string_view>& args);

// The text of `skiro --help`.
std::string commandLineUsage();

} // namespace skiro
