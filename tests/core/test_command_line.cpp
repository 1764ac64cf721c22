#include <gtest/gtest.h>

#include "core/CommandLine.h"

namespace {

using skiro::CommandLine;
using skiro::parseCommandLine;
using Action = CommandLine::Action;

TEST(CommandLine, OptionsAsTheUserTypesThem) {
    struct Case {
        const char* name;
        std::vector<std::string_view> args;
        Action action;
        bool web;
        int webPort;
        const char* errorHas; // part of the message for a usage error
    };
    const Case cases[] = {
        {"nothing: the window", {}, Action::Run, false, 0, ""},
        {"--web: the profile's port", {"--web"}, Action::Run, true, 0, ""},
        {"--web=PORT", {"--web=8731"}, Action::Run, true, 8731, ""},
        {"the last --web counts", {"--web=8731", "--web"}, Action::Run, true, 0, ""},
        {"lowest and highest port", {"--web=1", "--web=65535"}, Action::Run, true, 65535, ""},
        {"port 0", {"--web=0"}, Action::UsageError, false, 0, "from 1 to 65535"},
        {"port above the range", {"--web=65536"}, Action::UsageError, false, 0, "'65536'"},
        {"port with letters", {"--web=80a"}, Action::UsageError, false, 0, "'80a'"},
        {"port left out after =", {"--web="}, Action::UsageError, false, 0, "not ''"},
        {"negative port", {"--web=-1"}, Action::UsageError, false, 0, "'-1'"},
        {"--help wins over what follows", {"--help", "--bogus"}, Action::Help, false, 0, ""},
        {"-h", {"-h"}, Action::Help, false, 0, ""},
        {"--version", {"--web", "--version"}, Action::Version, true, 0, ""},
        {"unknown long option",
         {"--webb"},
         Action::UsageError,
         false,
         0,
         "unknown option '--webb'"},
        {"unknown short option", {"-x"}, Action::UsageError, false, 0, "unknown option '-x'"},
        {"--web as two words is no port",
         {"--web", "8731"},
         Action::UsageError,
         true,
         0,
         "unexpected argument '8731'"},
        {"a file name", {"notes.txt"}, Action::UsageError, false, 0, "opens no files"},
        {"a lone dash", {"-"}, Action::UsageError, false, 0, "unexpected argument '-'"},
        {"Qt's options with their values",
         {"-platform", "offscreen", "--style=Fusion", "-reverse"},
         Action::Run,
         false,
         0,
         ""},
        {"Qt's value option last, value missing", {"--web", "-display"}, Action::Run, true, 0, ""},
        {"a Qt value is not read as ours",
         {"-qwindowtitle", "--version"},
         Action::Run,
         false,
         0,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandLine line = parseCommandLine(c.args);
        EXPECT_EQ(line.action, c.action);
        if (c.action != Action::UsageError) {
            EXPECT_EQ(line.web, c.web);
            EXPECT_EQ(line.webPort, c.webPort);
        }
        EXPECT_NE(line.error.find(c.errorHas), std::string::npos) << line.error;
        EXPECT_EQ(line.error.empty(), c.action != Action::UsageError);
    }
}

} // namespace
