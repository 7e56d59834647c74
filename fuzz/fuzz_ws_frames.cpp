// Frame decoder under hostile input. The first byte picks the format and how the rest is
// cut into receives; the frames must come out the same whichever way the bytes were cut,
// and nothing may be read beyond what was fed (each piece lives in its own heap block).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "httpserver/websocket.h"
#include "httpserver/websocket_frame.h"

namespace {

using storage::WsFrame;
using storage::WsFrameDecoder;

struct Outcome {
  std::vector<WsFrame> frames;
  WsFrameDecoder::Status status;
};

Outcome Decode(int version, size_t limit, const uint8_t* data, size_t size, size_t piece) {
  WsFrameDecoder decoder(version, limit);
  Outcome out;
  for (size_t at = 0; at < size; at += piece) {
    const size_t n = size - at < piece ? size - at : piece;
    std::unique_ptr<char[]> block(new char[n]);
    std::memcpy(block.get(), data + at, n);
    decoder.Feed(std::string_view(block.get(), n), out.frames);
    // What an unfinished frame takes is never less than what it holds; reserving it (as
    // the server does within its budget) changes nothing that is decoded.
    if (decoder.committed() < decoder.buffered()) std::abort();
    if (decoder.committed() <= (size_t{1} << 20)) decoder.ReserveFrame();
  }
  out.status = decoder.status();
  return out;
}

bool Same(const Outcome& a, const Outcome& b) {
  if (a.status != b.status || a.frames.size() != b.frames.size()) return false;
  for (size_t i = 0; i < a.frames.size(); ++i) {
    if (a.frames[i].opcode != b.frames[i].opcode || a.frames[i].fin != b.frames[i].fin ||
        a.frames[i].payload != b.frames[i].payload)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int version = (data[0] & 1) ? storage::kWsVersionRfc6455 : storage::kWsVersionHixie;
  const size_t piece = 1 + ((data[0] >> 1) & 0x1F);
  // A small limit reaches the too-large paths with short inputs.
  const size_t limit = (data[0] & 0x40) ? 64 : storage::kWsMaxPayload;
  ++data;
  --size;
  const Outcome whole = Decode(version, limit, data, size, size == 0 ? 1 : size);
  const Outcome pieces = Decode(version, limit, data, size, piece);
  if (!Same(whole, pieces)) std::abort();
  for (const WsFrame& frame : whole.frames) {
    if (frame.payload.size() > limit) std::abort();
  }
  // The encoder's output decodes back to the same message.
  if (!whole.frames.empty()) {
    const std::string& message = whole.frames.front().payload;
    std::vector<WsFrame> again;
    WsFrameDecoder decoder(version);
    decoder.Feed(storage::EncodeWsMessage(version, message), again);
    if (again.size() != 1 || again[0].payload != message) std::abort();
  }
  return 0;
}
