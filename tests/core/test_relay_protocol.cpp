#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Profile.h"
#include "core/RelayProtocol.h"
#include "core/RelaySettings.h"

namespace skiro::relay {
namespace {

TEST(RelayProtocol, MessagesSurviveTheWireAndForeignPayloadsAreRefused) {
    Message line{Kind::Line,
                 1765400000123,
                 42,
                 1765400001000,
                 rgb(0x12, 0x34, 0x56),
                 rgb(255, 0, 0),
                 "字幕\x1CTCFF0000:赤い行\nは続く"};
    const std::string wire = encode(line);
    EXPECT_EQ(wire.substr(0, wire.find('\n')),
              "SKIRO1 L 1765400000123 42 1765400001000 123456 FF0000");
    EXPECT_EQ(decode(wire), line);

    for (Kind kind : {Kind::Growing, Kind::Input}) {
        Message other{kind, 7, 3, 99, 0, 0, "途中まで"};
        EXPECT_EQ(decode(encode(other)), other);
    }
    const Message empty{Kind::Line, 1, 1, 0, 0, 0, ""};
    EXPECT_EQ(decode(encode(empty)), empty);

    for (const char* foreign : {
             "",                                // nothing
             "hello",                           // no header
             "SKIRO2 L 1 1 0 000000 000000\nx", // another version
             "SKIRO1 X 1 1 0\nx",               // unknown kind
             "SKIRO1 L 1 0 0 000000 000000\nx", // seq 0
             "SKIRO1 L 1 1 0 00000 000000\nx",  // short colour
             "SKIRO1 L 1 1 0 GG0000 000000\nx", // not hexadecimal
             "SKIRO1 L 1 1 0\nx",               // a line without its colours
             "SKIRO1 G -1 1 0\nx",              // negative run
             "SKIRO1 G 1 1x 0\nx",              // trailing junk in a number
         })
        EXPECT_FALSE(decode(foreign)) << foreign;
}

TEST(RelayProtocol, TopicsAndRoomNames) {
    EXPECT_EQ(linesTopic("hall-1"), "skiro/hall-1/lines");
    EXPECT_EQ(growingTopic("hall-1"), "skiro/hall-1/growing");
    EXPECT_EQ(inputTopic("hall-1"), "skiro/hall-1/input");
    for (const std::string& room :
         {std::string("a"), std::string("Hall_2.overflow"), std::string(64, 'r')})
        EXPECT_TRUE(validRoomName(room)) << room;
    for (const std::string& room :
         {std::string(), std::string(65, 'r'), std::string("a/b"), std::string("a+"),
          std::string("#"), std::string("会場"), std::string("a b")})
        EXPECT_FALSE(validRoomName(room)) << room;
}

struct Arrival {
    std::uint64_t run, seq;
    bool deliver;
    std::uint64_t missedFrom, missedTo;
};

TEST(RelayProtocol, FollowerTakesEachLineOnceAndMarksWhatCannotCome) {
    const std::vector<Arrival> arrivals = {
        {10, 5, true, 0, 0},                        // joined mid-stream: nothing is missing yet
        {10, 6, true, 0, 0},                        // the next
        {10, 6, false, 0, 0},                       // a repeat after a reconnect
        {10, 4, false, 0, 0},                       // an old repeat
        {10, 9, true, 7, 8},                        // two lines dropped by the sender's full queue
        {9, 100, false, 0, 0},                      // a repeat from a run given up on
        {20, 1, true, 0, 0},                        // the sender started again
        {20, 2, true, 0, 0},   {30, 3, true, 1, 2}, // started again, its first lines gone
    };
    FollowerSequence follower;
    for (const Arrival& a : arrivals) {
        const bool next = follower.isNext(a.run, a.seq);
        const FollowerSequence::Verdict v = follower.accept(a.run, a.seq);
        EXPECT_EQ(v.deliver, a.deliver) << a.run << "/" << a.seq;
        EXPECT_EQ(next, a.deliver) << a.run << "/" << a.seq;
        EXPECT_EQ(v.missedFrom, a.missedFrom) << a.run << "/" << a.seq;
        EXPECT_EQ(v.missedTo, a.missedTo) << a.run << "/" << a.seq;
    }
}

TEST(RelayProtocol, InputRepeatsAreDroppedForEachSenderApart) {
    InputRepeats input;
    EXPECT_TRUE(input.accept(1, 1));
    EXPECT_TRUE(input.accept(2, 1)); // a second captioner
    EXPECT_TRUE(input.accept(1, 2));
    EXPECT_FALSE(input.accept(1, 2));
    EXPECT_FALSE(input.accept(2, 1));
    EXPECT_TRUE(input.accept(2, 2));
    // Forgotten runs are taken again rather than held for ever.
    for (std::uint64_t run = 100; run < 100 + InputRepeats::kRuns; ++run)
        EXPECT_TRUE(input.accept(run, 1));
    EXPECT_TRUE(input.accept(1, 1));
}

TEST(RelayProtocol, SendQueueDropsTheOldestPastEitherBound) {
    SendQueue byCount(3, 1000);
    for (std::uint64_t seq = 1; seq <= 3; ++seq)
        EXPECT_EQ(byCount.push(seq, "x").count, 0u);
    const SendQueue::Dropped one = byCount.push(4, "x");
    EXPECT_EQ(one.count, 1u);
    EXPECT_EQ(one.from, 1u);
    EXPECT_EQ(byCount.front().seq, 2u);

    SendQueue byBytes(100, 10);
    byBytes.push(1, "aaaa");
    byBytes.push(2, "bbbb");
    const SendQueue::Dropped two = byBytes.push(3, "cccccccc");
    EXPECT_EQ(two.count, 2u);
    EXPECT_EQ(two.from, 1u);
    EXPECT_EQ(two.to, 2u);
    EXPECT_EQ(byBytes.size(), 1u);
    EXPECT_EQ(byBytes.bytes(), 8u);
    // A line larger than the bound on its own is still sent.
    EXPECT_EQ(byBytes.push(4, std::string(50, 'd')).to, 3u);
    EXPECT_EQ(byBytes.size(), 1u);
    byBytes.pop();
    EXPECT_TRUE(byBytes.empty());
    EXPECT_EQ(byBytes.bytes(), 0u);

    SendQueue defaults;
    for (std::uint64_t seq = 1; seq <= SendQueue::kMaxLines + 5; ++seq)
        defaults.push(seq, "line");
    EXPECT_EQ(defaults.size(), SendQueue::kMaxLines);
    EXPECT_EQ(defaults.front().seq, 6u);
}

} // namespace
} // namespace skiro::relay

namespace skiro {
namespace {

TEST(RelaySettings, ProfileKeepsTheRelayButOnlyOnceUsed) {
    Profile untouched;
    saveRelaySettings(RelaySettings{}, untouched);
    EXPECT_EQ(untouched.bytes(), "");

    RelaySettings relay;
    relay.Mode = RelaySettings::Follow;
    relay.Broker = "mqtts://broker.example:8883";
    relay.Room = "hall";
    relay.User = "display";
    relay.CaFile = "/etc/ssl/ca.pem";
    relay.ClientId = "skiro-abc";
    Profile profile;
    saveRelaySettings(relay, profile);
    EXPECT_EQ(profile.readText("Relay", "Mode", ""), "follow");
    EXPECT_EQ(profile.readText("Relay", "Password", "none"), "none");
    RelaySettings loaded;
    loadRelaySettings(profile, loaded);
    EXPECT_EQ(loaded, relay);

    EXPECT_EQ(relayModeFromName("Receive"), RelaySettings::Receive);
    EXPECT_EQ(relayModeFromName("bogus"), RelaySettings::Off);
}

} // namespace
} // namespace skiro
