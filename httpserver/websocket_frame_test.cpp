#include "httpserver/websocket_frame.h"

#include <gtest/gtest.h>

#include "httpserver/websocket.h"
#include "testing/websocket_fixture.h"

namespace storage {
namespace {

using Status = WsFrameDecoder::Status;
using test::MaskedFrame;
constexpr int kRfc = kWsVersionRfc6455, kHixie = kWsVersionHixie;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 256) & 0xFF);
  return s;
}

std::vector<std::string> Payloads(const std::vector<WsFrame>& frames) {
  std::vector<std::string> out;
  for (const WsFrame& f : frames) out.push_back(f.payload);
  return out;
}

// Feeds `stream` in pieces of at most `piece` bytes, each in its own exactly-sized heap
// block, so a read past the piece is caught by the address sanitizer.
std::vector<WsFrame> FeedInPieces(WsFrameDecoder& decoder, const std::string& stream,
                                  size_t piece) {
  std::vector<WsFrame> frames;
  for (size_t at = 0; at < stream.size(); at += piece) {
    std::vector<char> block(stream.begin() + at,
                            stream.begin() + std::min(stream.size(), at + piece));
    decoder.Feed(std::string_view(block.data(), block.size()), frames);
  }
  return frames;
}

// The status after one Feed of the whole stream, and the payloads delivered.
std::pair<Status, std::vector<std::string>> Decode(const std::string& stream, int version = kRfc,
                                                   size_t limit = kWsMaxPayload) {
  WsFrameDecoder decoder(version, limit);
  std::vector<WsFrame> frames;
  Status status = decoder.Feed(stream, frames);
  return {status, Payloads(frames)};
}

// Every stream cut in two at every byte decodes to the same payloads, leaving nothing.
void ExpectSplitAnywhere(const std::string& stream, int version,
                         const std::vector<std::string>& expected) {
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    WsFrameDecoder decoder(version);
    std::vector<WsFrame> frames;
    decoder.Feed(std::string_view(stream).substr(0, cut), frames);
    decoder.Feed(std::string_view(stream).substr(cut), frames);
    ASSERT_EQ(Payloads(frames), expected) << "cut at " << cut;
    EXPECT_EQ(decoder.buffered(), 0u);
  }
}

TEST(WsFrameDecoderRfc6455, PublishedExamples) {
  // RFC 6455, section 5.7: a masked "Hello", an unmasked one, a fragmented one and a ping.
  WsFrameDecoder decoder(kRfc);
  std::vector<WsFrame> frames;
  const std::string stream(
      "\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58\x81\x05Hello"
      "\x01\x03Hel\x80\x02lo\x89\x05Hello",
      34);
  EXPECT_EQ(decoder.Feed(stream, frames), Status::kOpen);
  EXPECT_EQ(Payloads(frames), (std::vector<std::string>{"Hello", "Hello", "Hel", "lo", "Hello"}));
  EXPECT_EQ(frames[2].opcode, kWsOpText);
  EXPECT_FALSE(frames[2].fin);
  EXPECT_EQ(frames[3].opcode, kWsOpContinuation);
  EXPECT_TRUE(frames[3].fin);
  EXPECT_EQ(frames[4].opcode, kWsOpPing);
  EXPECT_EQ(decoder.buffered(), 0u);
}

TEST(WsFrameDecoderRfc6455, ExtendedLengthsAreUnmaskedEvenByteByByte) {
  for (size_t n : {125u, 126u, 65535u, 70000u}) {
    const std::string payload = Pattern(n);
    const std::string wire = MaskedFrame(0x82, payload, 0xA1B2C3D4);
    for (size_t piece : {wire.size(), size_t{1}}) {
      WsFrameDecoder decoder(kRfc);
      std::vector<WsFrame> frames = FeedInPieces(decoder, wire + MaskedFrame(0x81, "tail"), piece);
      ASSERT_EQ(frames.size(), 2u) << n;
      EXPECT_TRUE(frames[0].payload == payload) << n;
      EXPECT_EQ(frames[0].opcode, kWsOpBinary);
      EXPECT_EQ(frames[1].payload, "tail");
    }
  }
}

TEST(WsFrameDecoderRfc6455, SplitAtEveryByteAndManyFramesPerWrite) {
  std::string stream;
  std::vector<std::string> expected;
  for (size_t n : {5u, 0u, 200u, 126u}) {
    expected.push_back(Pattern(n));
    stream += MaskedFrame(0x81, expected.back(), 0x01020300 + static_cast<uint32_t>(n));
  }
  stream += MaskedFrame(0x89, "ping!");
  expected.push_back("ping!");
  ExpectSplitAnywhere(stream, kRfc, expected);
}

TEST(WsFrameDecoderRfc6455, PayloadLimit) {
  // Exactly at the limit is delivered; one more ends the stream, judged by the header.
  EXPECT_EQ(Decode(MaskedFrame(0x81, Pattern(300)), kRfc, 300).second.size(), 1u);
  WsFrameDecoder decoder(kRfc, 300);
  std::vector<WsFrame> frames;
  EXPECT_EQ(decoder.Feed(MaskedFrame(0x81, Pattern(301)).substr(0, 4), frames), Status::kTooLarge);
  EXPECT_EQ(decoder.buffered(), 0u);
  // The default limit is 16 MiB, up to 2^64 - 1 declared: stopped without the payload.
  EXPECT_EQ(Decode(std::string("\x82\xFF\x00\x00\x00\x00\x01\x00\x00\x01", 10)).first,
            Status::kTooLarge);
  EXPECT_EQ(Decode(std::string("\x82\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)).first,
            Status::kTooLarge);
  EXPECT_EQ(Decode(std::string("\x82\xFF\x00\x00\x00\x00\x01\x00\x00\x00", 10)).first,
            Status::kOpen);  // exactly 16 MiB: waits for the payload
}

TEST(WsFrameDecoderRfc6455, CloseAndBrokenControlFrames) {
  EXPECT_EQ(Decode(MaskedFrame(0x81, "a") + MaskedFrame(0x88, "\x03\xE8") + MaskedFrame(0x81, "b")),
            std::make_pair(Status::kCloseReceived, std::vector<std::string>{"a", "\x03\xE8"}));
  for (const std::string& broken : {
           MaskedFrame(0x88, Pattern(126)),  // control frame over 125 bytes
           MaskedFrame(0x09, "x"),           // fragmented control frame
       }) {
    EXPECT_EQ(Decode(MaskedFrame(0x81, "ok") + broken),
              std::make_pair(Status::kProtocolError, std::vector<std::string>{"ok"}));
  }
}

TEST(WsFrameDecoderHixie, SentinelFramesSplitAnywhereOtherTypesSkippedCloseEnds) {
  ExpectSplitAnywhere(std::string("\0Hello\xFF\0\xFF\0", 10) + std::string(300, 'x') +
                          std::string("\xFF\0last\xFF", 7),
                      kHixie, {"Hello", "", std::string(300, 'x'), "last"});
  WsFrameDecoder decoder(kHixie);
  // A sentinel frame of another type, a length-prefixed frame of 130 bytes (length in two
  // 7-bit groups) whose data holds 0x00 and 0xFF, a text frame, the close frame.
  std::string stream = std::string("\x05skipped\xFF", 9);
  stream += std::string("\x80\x81\x02", 3) + std::string(65, '\0') + std::string(65, '\xFF');
  stream += std::string("\0kept\xFF\xFF\x00\0ignored\xFF", 17);
  EXPECT_EQ(Payloads(FeedInPieces(decoder, stream, 5)), std::vector<std::string>{"kept"});
  EXPECT_EQ(decoder.status(), Status::kCloseReceived);
}

TEST(WsFrameDecoderHixie, Limits) {
  WsFrameDecoder decoder(kHixie, 100);
  std::vector<WsFrame> frames;
  EXPECT_EQ(decoder.Feed(std::string("\0", 1) + std::string(100, 'a') + "\xFF", frames),
            Status::kOpen);
  EXPECT_EQ(decoder.Feed(std::string("\0", 1) + std::string(100, 'a'), frames), Status::kOpen);
  EXPECT_EQ(decoder.Feed("a", frames), Status::kTooLarge);  // no terminator within limit
  EXPECT_EQ(frames.size(), 1u);
  // A length prefix over the limit, and an endless one that must not overflow.
  EXPECT_EQ(Decode(std::string("\x80\x81\x00", 3), kHixie, 100).first, Status::kTooLarge);
  EXPECT_EQ(Decode("\x80" + std::string(20, '\xFF'), kHixie).first, Status::kTooLarge);
}

TEST(WsFrameEncoder, LengthCodes) {
  const std::string m65536 = Pattern(65536);
  EXPECT_EQ(EncodeWsMessage(kRfc, Pattern(125)).substr(0, 2), "\x81\x7D");
  EXPECT_EQ(EncodeWsMessage(kRfc, Pattern(126)).substr(0, 4), std::string("\x81\x7E\x00\x7E", 4));
  EXPECT_EQ(EncodeWsMessage(kRfc, Pattern(65535)).substr(0, 4), "\x81\x7E\xFF\xFF");
  EXPECT_EQ(EncodeWsMessage(kRfc, m65536),
            std::string("\x81\x7F\x00\x00\x00\x00\x00\x01\x00\x00", 10) + m65536);
  EXPECT_EQ(EncodeWsMessage(kHixie, "Hello"), std::string("\0Hello\xFF", 7));
  EXPECT_EQ(EncodeWsFrame(kWsOpPong, "x"), "\x8A\x01x");
}

}  // namespace
}  // namespace storage
