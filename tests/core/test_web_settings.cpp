#include <gtest/gtest.h>

#include "core/Profile.h"
#include "core/WebSettings.h"

using namespace skiro;

TEST(WebSettings, LoadTakesTheWebSectionAndFallsBackToTheDefaults) {
    struct Case {
        const char* name;
        const char* ini;
        WebSettings expected;
    };
    const Case cases[] = {
        {"no section: off, local, 8730, no code", "[Serial]\r\nComPort=1\r\n", {}},
        {"every key",
         "[Web]\r\nEnabled=1\r\nPort=9000\r\nBind=all\r\nAccessCode=Hall3\r\n",
         {1, 9000, true, "Hall3"}},
        {"Bind in another case", "[web]\r\nbind=ALL\r\n", {0, 8730, true, ""}},
        {"an unknown Bind is local", "[Web]\r\nBind=everyone\r\n", {}},
        {"port 0 is the default port", "[Web]\r\nPort=0\r\n", {}},
        {"port above 65535 is the default port", "[Web]\r\nPort=65536\r\n", {}},
        {"any Enabled but 0 is on", "[Web]\r\nEnabled=7\r\n", {1, 8730, false, ""}},
        // A hand-written code is never dropped: dropping it would open the page to anyone.
        {"a code the dialog would not take is kept",
         "[Web]\r\nAccessCode=a-b c\r\n",
         {0, 8730, false, "a-b c"}},
        {"host names",
         "[Web]\r\nHosts=Caption.LAN., hall.example\r\n",
         {0, 8730, false, "", "Caption.LAN., hall.example"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WebSettings web;
        loadWebSettings(Profile::fromBytes(c.ini), web);
        EXPECT_EQ(web, c.expected);
    }
}

TEST(WebSettings, SaveLeavesAProfileThatNeverUsedTheWebViewAsItWas) {
    Profile untouched = Profile::fromBytes("[Serial]\r\nComPort=1\r\n");
    saveWebSettings(WebSettings{}, untouched);
    EXPECT_EQ(untouched.bytes(), "[Serial]\r\nComPort=1\r\n");

    Profile changed = Profile::fromBytes("[Serial]\r\nComPort=1\r\n");
    saveWebSettings({1, 9000, true, "Hall3"}, changed);
    WebSettings back;
    loadWebSettings(changed, back);
    EXPECT_EQ(back, (WebSettings{1, 9000, true, "Hall3"}));

    // Host names are a key of their own only where they are used.
    EXPECT_FALSE(changed.contains("Web", "Hosts"));
    EXPECT_EQ(webHostNames("Caption.LAN., hall.example  x"),
              (std::vector<std::string>{"caption.lan", "hall.example", "x"}));

    // Once the section is there, turning the view off again is stored too.
    saveWebSettings(WebSettings{}, changed);
    EXPECT_EQ(changed.readText("Web", "Enabled", "?"), "0");
    EXPECT_EQ(changed.readText("Web", "Bind", "?"), "local");
}
