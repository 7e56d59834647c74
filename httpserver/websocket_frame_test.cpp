#include "httpserver/websocket_frame.h"

#include <gtest/gtest.h>

#include "httpserver/websocket.h"
#include "testing/websocket_fixture.h"

namespace storage {
namespace {

using Status = WsFrameDecoder::Status;
using test::MaskedFrame;

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

TEST(WsFrameDecoderRfc6455, PublishedExamples) {
  // RFC 6455, section 5.7: a masked "Hello", an unmasked one, a fragmented one and a ping.
  WsFrameDecoder decoder(kWsVersionRfc6455);
  std::vector<WsFrame> frames;
  const std::string masked("\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58", 11);
  EXPECT_EQ(decoder.Feed(masked, frames), Status::kOpen);
  EXPECT_EQ(decoder.Feed(std::string("\x81\x05Hello"), frames), Status::kOpen);
  EXPECT_EQ(decoder.Feed(std::string("\x01\x03Hel\x80\x02lo"), frames), Status::kOpen);
  EXPECT_EQ(decoder.Feed(std::string("\x89\x05Hello"), frames), Status::kOpen);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(Payloads(frames), (std::vector<std::string>{"Hello", "Hello", "Hel", "lo", "Hello"}));
  EXPECT_EQ(frames[2].opcode, kWsOpText);
  EXPECT_FALSE(frames[2].fin);
  EXPECT_EQ(frames[3].opcode, kWsOpContinuation);
  EXPECT_TRUE(frames[3].fin);
  EXPECT_EQ(frames[4].opcode, kWsOpPing);
  EXPECT_EQ(decoder.buffered(), 0u);
}

TEST(WsFrameDecoderRfc6455, ExtendedLengthsAreUnmaskedEvenByteByByte) {
  for (size_t n : {125u, 126u, 65535u, 65536u, 70000u}) {
    const std::string payload = Pattern(n);
    const std::string wire = MaskedFrame(0x82, payload, 0xA1B2C3D4);
    // The key sits at bytes 2, 4 or 10 depending on the length code.
    EXPECT_EQ(static_cast<uint8_t>(wire[n < 126 ? 2 : n < 65536 ? 4 : 10]), 0xA1) << n;
    for (size_t piece : {wire.size(), size_t{1}}) {
      WsFrameDecoder decoder(kWsVersionRfc6455);
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
  for (size_t n : {5u, 0u, 200u, 1u, 126u, 300u}) {
    expected.push_back(Pattern(n));
    stream += MaskedFrame(0x81, expected.back(), 0x01020300 + static_cast<uint32_t>(n));
  }
  stream += MaskedFrame(0x89, "ping!");
  expected.push_back("ping!");

  for (size_t cut = 0; cut <= stream.size(); ++cut) {  // two receives, cut at every byte
    WsFrameDecoder decoder(kWsVersionRfc6455);
    std::vector<WsFrame> frames;
    decoder.Feed(std::string_view(stream).substr(0, cut), frames);
    decoder.Feed(std::string_view(stream).substr(cut), frames);
    ASSERT_EQ(Payloads(frames), expected) << "cut at " << cut;
    EXPECT_EQ(decoder.buffered(), 0u);
  }
  for (size_t piece : {1u, 3u, 7u, 64u, 1000u}) {
    WsFrameDecoder decoder(kWsVersionRfc6455);
    EXPECT_EQ(Payloads(FeedInPieces(decoder, stream, piece)), expected) << piece;
  }
}

TEST(WsFrameDecoderRfc6455, PayloadLimit) {
  {  // exactly at the limit is delivered; one more ends the stream, judged by the header
    WsFrameDecoder decoder(kWsVersionRfc6455, 300);
    std::vector<WsFrame> frames;
    EXPECT_EQ(decoder.Feed(MaskedFrame(0x81, Pattern(300)), frames), Status::kOpen);
    ASSERT_EQ(frames.size(), 1u);
    const std::string big = MaskedFrame(0x81, Pattern(301));
    EXPECT_EQ(decoder.Feed(big.substr(0, 4), frames), Status::kTooLarge);
    EXPECT_EQ(decoder.buffered(), 0u);
    EXPECT_EQ(decoder.Feed(big.substr(4), frames), Status::kTooLarge);
    EXPECT_EQ(frames.size(), 1u);
  }
  // The default limit is 16 MiB: headers declaring more stop at once, without waiting
  // for (or buffering) the payload.
  const std::string headers[] = {
      std::string("\x82\xFF\x00\x00\x00\x00\x01\x00\x00\x01", 10),  // 16 MiB + 1
      std::string("\x82\xFF\x80\x00\x00\x00\x00\x00\x00\x00", 10),  // 2^63
      std::string("\x82\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10),  // 2^64 - 1
  };
  for (const std::string& header : headers) {
    WsFrameDecoder decoder(kWsVersionRfc6455);
    std::vector<WsFrame> frames;
    EXPECT_EQ(decoder.Feed(header, frames), Status::kTooLarge);
    EXPECT_TRUE(frames.empty());
  }
  WsFrameDecoder decoder(kWsVersionRfc6455);
  std::vector<WsFrame> frames;
  EXPECT_EQ(decoder.Feed(std::string("\x82\xFF\x00\x00\x00\x00\x01\x00\x00\x00", 10), frames),
            Status::kOpen);  // exactly 16 MiB: waits for the payload
}

TEST(WsFrameDecoderRfc6455, CloseAndBrokenControlFrames) {
  {
    WsFrameDecoder decoder(kWsVersionRfc6455);
    std::vector<WsFrame> frames;
    const std::string stream =
        MaskedFrame(0x81, "a") + MaskedFrame(0x88, "\x03\xE8") + MaskedFrame(0x81, "after close");
    EXPECT_EQ(decoder.Feed(stream, frames), Status::kCloseReceived);
    EXPECT_EQ(Payloads(frames), (std::vector<std::string>{"a", "\x03\xE8"}));
    EXPECT_EQ(frames[1].opcode, kWsOpClose);
    EXPECT_EQ(decoder.Feed(MaskedFrame(0x81, "more"), frames), Status::kCloseReceived);
    EXPECT_EQ(frames.size(), 2u);
  }
  const std::string broken[] = {
      MaskedFrame(0x88, Pattern(126)),  // control frame over 125 bytes
      MaskedFrame(0x09, "x"),           // fragmented control frame
  };
  for (const std::string& frame : broken) {
    WsFrameDecoder decoder(kWsVersionRfc6455);
    std::vector<WsFrame> frames;
    EXPECT_EQ(decoder.Feed(MaskedFrame(0x81, "ok") + frame, frames), Status::kProtocolError);
    EXPECT_EQ(Payloads(frames), std::vector<std::string>{"ok"});
  }
}

TEST(WsFrameDecoderHixie, SentinelFramesSplitAnywhere) {
  std::string stream = std::string("\0Hello\xFF", 7) + std::string("\0\xFF", 2) +
                       std::string("\0", 1) + std::string(300, 'x') + "\xFF" +
                       std::string("\0last\xFF", 6);
  const std::vector<std::string> expected = {"Hello", "", std::string(300, 'x'), "last"};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    WsFrameDecoder decoder(kWsVersionHixie);
    std::vector<WsFrame> frames;
    decoder.Feed(std::string_view(stream).substr(0, cut), frames);
    decoder.Feed(std::string_view(stream).substr(cut), frames);
    ASSERT_EQ(Payloads(frames), expected) << "cut at " << cut;
  }
  WsFrameDecoder decoder(kWsVersionHixie);
  EXPECT_EQ(Payloads(FeedInPieces(decoder, stream, 1)), expected);
  EXPECT_EQ(decoder.buffered(), 0u);
}

TEST(WsFrameDecoderHixie, OtherFrameTypesAreSkippedAndCloseEnds) {
  WsFrameDecoder decoder(kWsVersionHixie);
  std::vector<WsFrame> frames;
  // A sentinel frame of another type, a length-prefixed frame of 130 bytes (length in two
  // 7-bit groups) whose data holds 0x00 and 0xFF, then a text frame.
  std::string stream = std::string("\x05skipped\xFF", 9);
  stream += std::string("\x80\x81\x02", 3) + std::string(65, '\0') + std::string(65, '\xFF');
  stream += std::string("\0kept\xFF", 6);
  stream += std::string("\xFF\x00", 2) + std::string("\0ignored\xFF", 9);
  EXPECT_EQ(Payloads(FeedInPieces(decoder, stream, 5)), std::vector<std::string>{"kept"});
  EXPECT_EQ(decoder.status(), Status::kCloseReceived);
}

TEST(WsFrameDecoderHixie, Limits) {
  WsFrameDecoder decoder(kWsVersionHixie, 100);
  std::vector<WsFrame> frames;
  EXPECT_EQ(decoder.Feed(std::string("\0", 1) + std::string(100, 'a') + "\xFF", frames),
            Status::kOpen);
  EXPECT_EQ(decoder.Feed(std::string("\0", 1) + std::string(100, 'a'), frames), Status::kOpen);
  EXPECT_EQ(decoder.Feed("a", frames), Status::kTooLarge);  // no terminator within limit
  EXPECT_EQ(frames.size(), 1u);
  // A length prefix over the limit, and an endless one that must not overflow.
  for (const std::string& prefix :
       {std::string("\x80\x81\x00", 3), "\x80" + std::string(20, '\xFF')}) {
    WsFrameDecoder limited(kWsVersionHixie, prefix.size() == 3 ? 100 : kWsMaxPayload);
    EXPECT_EQ(limited.Feed(prefix, frames), Status::kTooLarge);
  }
}

TEST(WsFrameEncoder, LengthCodesAndRoundTrip) {
  const std::string m300 = Pattern(300), m65536 = Pattern(65536);
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, m300), std::string("\x81\x7E\x01\x2C", 4) + m300);
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, "Hello"), "\x81\x05Hello");
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, ""), std::string("\x81\x00", 2));
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, Pattern(125)).substr(0, 2), "\x81\x7D");
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, Pattern(126)).substr(0, 4),
            std::string("\x81\x7E\x00\x7E", 4));
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, Pattern(65535)).substr(0, 4), "\x81\x7E\xFF\xFF");
  EXPECT_EQ(EncodeWsMessage(kWsVersionRfc6455, m65536),
            std::string("\x81\x7F\x00\x00\x00\x00\x00\x01\x00\x00", 10) + m65536);
  EXPECT_EQ(EncodeWsMessage(kWsVersionHixie, "Hello"), std::string("\0Hello\xFF", 7));
  EXPECT_EQ(EncodeWsFrame(kWsOpPong, "x"), "\x8A\x01x");
  EXPECT_EQ(EncodeWsClose(kWsCloseTooBig), "\x88\x02\x03\xF1");
  // Unmasked server frames decode back.
  for (int version : {kWsVersionRfc6455, kWsVersionHixie}) {
    const std::vector<std::string> expected = {"", "q", std::string(300, 'q'),
                                               std::string(65536, 'q')};
    std::string stream;
    for (const std::string& m : expected) stream += EncodeWsMessage(version, m);
    WsFrameDecoder decoder(version);
    EXPECT_EQ(Payloads(FeedInPieces(decoder, stream, 4096)), expected) << version;
  }
}

}  // namespace
}  // namespace storage
