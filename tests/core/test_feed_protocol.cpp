#include <gtest/gtest.h>

#include <string>

#include "core/FeedProtocol.h"

namespace {

using namespace skiro::feed;
using Status = FrameReader::Status;

// Frames arrive in pieces of any size; a frame's bytes may take any value.
TEST(FrameReader, CutsFramesOutOfAStreamInAnyPieces) {
    const std::string payload("\x83\x5C\x00\xFF[Send(x)]", 13);
    const std::string stream = encodeInitiate("skiro", kTopic) +
                               encodeFrame(FrameType::Execute, payload) +
                               encodeFrame(FrameType::Terminate);
    for (std::size_t piece : {std::size_t(1), std::size_t(3), stream.size()}) {
        SCOPED_TRACE(piece);
        FrameReader reader;
        std::vector<Frame> frames;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.append(std::string_view(stream).substr(at, piece));
            Frame f;
            while (reader.next(f) == Status::Frame)
                frames.push_back(f);
        }
        ASSERT_EQ(frames.size(), 3u);
        EXPECT_EQ(frames[0].type, FrameType::Initiate);
        EXPECT_EQ(frames[1].payload, payload);
        EXPECT_EQ(requestText(frames[1].payload), "\x83\x5C");
        EXPECT_EQ(frames[2].type, FrameType::Terminate);
    }
}

TEST(FrameReader, RefusesWhatNoFrameMayBe) {
    struct Case {
        const char* name;
        std::string bytes;
        Status status;
    } cases[] = {
        {"unknown type", std::string("\x07\0\0\0\0", 5), Status::Malformed},
        {"type 0", std::string("\0\0\0\0\0", 5), Status::Malformed},
        {"terminate with a payload", std::string("\x05\0\0\0\x01x", 6), Status::Malformed},
        {"names longer than two of 255", encodeFrame(FrameType::Initiate, std::string(512, 'a')),
         Status::Malformed},
        {"request at the limit", encodeFrame(FrameType::Execute, std::string(kMaxRequest, 'a')),
         Status::Frame},
        {"request one byte over the limit",
         encodeFrame(FrameType::Execute, std::string(kMaxRequest + 1, 'a')).substr(0, kHeaderSize),
         Status::TooLarge},
        {"length of 4 GiB announced", std::string("\x03\xFF\xFF\xFF\xFF", 5), Status::TooLarge},
        {"header cut short", std::string("\x03\0\0", 3), Status::NeedMore},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameReader reader;
        reader.append(c.bytes);
        Frame f;
        EXPECT_EQ(reader.next(f), c.status);
    }
}

} // namespace
