#include <gtest/gtest.h>

#include "core/HelpTopics.h"
#include "core/Placement.h"
#include "core/ResourceVersion.h"

namespace {

using namespace skiro;

TEST(Placement, EntriesFromTheProfile) {
    struct Case {
        const char* name;
        const char* entry;
        std::optional<WindowPlacement> expected;
    } cases[] = {
        {"normal window", "0,1,-1,-1,-1,-1,100,100,740,580",
         WindowPlacement{0, 1, -1, -1, -1, -1, 100, 100, 740, 580}},
        {"maximized", "2,3,-1,-1,-8,-8,10,20,650,500",
         WindowPlacement{2, 3, -1, -1, -8, -8, 10, 20, 650, 500}},
        {"fewer than ten numbers", "0,1,100,100", std::nullopt},
        {"empty", "", std::nullopt},
        {"garbage in the middle", "0,1,-1,-1,x,-1,100,100,740,580", std::nullopt},
        {"blanks after commas are skipped", "0, 1, -1, -1, -1, -1, 100, 100, 740, 580",
         WindowPlacement{0, 1, -1, -1, -1, -1, 100, 100, 740, 580}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parsePlacement(c.entry), c.expected);
    }
}

TEST(Placement, WrittenEntryReadsBackTheSame) {
    const WindowPlacement minimized{0, 2, -32000, -32000, -1, -1, 100, 100, 740, 580};
    EXPECT_EQ(formatPlacement(minimized), "0,2,-32000,-32000,-1,-1,100,100,740,580");
    EXPECT_EQ(parsePlacement(formatPlacement(minimized)), minimized);
}

TEST(HelpTopics, ContextRequestsMapToPages) {
    struct Case {
        const char* name;
        std::uint32_t context;
        HelpRequest expected;
    } cases[] = {
        {"below the command range shows the contents", 0xFFFF, {0, HelpCommand::Contents}},
        {"start", 0x10000 + 32784, {5001, HelpCommand::Context}},
        {"background colour shares the colour page", 0x10000 + 32789, {5020, HelpCommand::Context}},
        {"text colour", 0x10000 + 32788, {5020, HelpCommand::Context}},
        {"exit", 0x10000 + 57665, {5003, HelpCommand::Context}},
        {"unknown command", 0x10000 + 1, {5000, HelpCommand::Context}},
        {"misc dialog", 0x20000 + 134, {5038, HelpCommand::Context}},
        {"web view command", 0x10000 + 32794, {5060, HelpCommand::Context}},
        {"web view dialog", 0x20000 + 135, {5060, HelpCommand::Context}},
        {"font picker", 0x20000 + 0x7006, {5014, HelpCommand::Context}},
        {"unknown dialog", 0x20000 + 999, {5000, HelpCommand::Context}},
        {"third range passes unchanged", 0x31234, {0x31234, HelpCommand::Context}},
        {"last of the passing range", 0x5FFFF, {0x5FFFF, HelpCommand::Context}},
        {"above shows the contents", 0x60000, {0, HelpCommand::Contents}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mapHelpRequest({c.context, HelpCommand::Context}), c.expected);
    }
    EXPECT_EQ(mapHelpRequest({7, HelpCommand::Quit}), (HelpRequest{7, HelpCommand::Quit}));
}

TEST(ResourceVersion, OnlyMajorAndMinorMustMatch) {
    struct Case {
        const char* name;
        const char* file;
        const char* product;
        bool used;
    } cases[] = {
        {"same version", "2.2.0.0", "2.2.0.0", true},
        {"other build and revision", "2.2.3.1", "2.2.0.0", true},
        {"newer minor file version", "2.3.0.0", "2.2.0.0", false},
        {"older product version", "2.2.0.0", "2.1.9.9", false},
        {"major differs", "3.2.0.0", "3.2.0.0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ModuleVersions bundle{*parseModuleVersion(c.file), *parseModuleVersion(c.product)};
        EXPECT_EQ(versionsMatch(kProgramVersions, bundle), c.used);
    }
    EXPECT_FALSE(parseModuleVersion(""));
    EXPECT_FALSE(parseModuleVersion("2.x"));
    EXPECT_FALSE(parseModuleVersion("2.2.0.0.1"));
    EXPECT_FALSE(parseModuleVersion("70000.1"));
}

} // namespace
