// Archive bytes served as the server serves them: every entry the archive lists is asked
// for through the provider, the response logic plans the answer (ranges, HEAD), and the
// body is drained the way the connection drains it (in-memory bytes through PeekMemory,
// others through Read in send blocks) into the bytes that would go on the wire. Any crash,
// hang or sanitizer report is a bug, and so is a body that is complete but whose CRC-32
// is not the one the archive records for it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "content/http_zip_provider.h"
#include "httpserver/response.h"
#include "utils/crc32.h"
#include "utils/encoding.h"
#include "zip/archive.h"

namespace {

constexpr uint64_t kBlock = 65536;
constexpr uint64_t kMaxBodyPerEntry = 4 << 20;  // a client that stops reading

// Drains the body as the connection does; false when the stream gave out early.
bool Drain(utils::ReadStreamI& stream, uint64_t length, std::string& body) {
  const uint8_t* data = nullptr;
  uint64_t available = 0;
  const bool inMemory = length > kBlock && stream.PeekMemory(data, available);
  std::string block(kBlock, '\0');
  while (body.size() < length) {
    const uint64_t left = length - body.size();
    if (inMemory) {
      if (!stream.PeekMemory(data, available) || available == 0) return false;
      uint64_t n = std::min({available, left, uint64_t(1) << 18});
      body.append(reinterpret_cast<const char*>(data), n);
      stream.Seek64(1, static_cast<int64_t>(n));
    } else {
      uint32_t want = static_cast<uint32_t>(std::min(left, kBlock));
      uint32_t got = 0;
      if (!stream.Read(block.data(), want, got) || got < want) return false;
      body.append(block, 0, got);
    }
    if (body.size() >= kMaxBodyPerEntry) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  utils::SharedPtr<amzip::Archive> archive(new amzip::Archive());
  archive->OpenMemory(data + 1, size - 1, u"ZIP");
  storage::HttpZipProvider provider(archive);
  const char* const ranges[] = {"", "bytes=0-", "bytes=0-0", "bytes=1-", "bytes=-3", "bytes=2-9"};
  size_t count = 0;
  for (const auto& entry : archive->Entries()) {
    if (++count > 16) break;
    std::u16string name = entry->name;
    for (char16_t& c : name) c = c == u'\\' ? u'/' : c;
    const std::string path = utils::WideToUtf8(name);
    const char* range = ranges[(mode + count) % 6];
    std::string text = "GET /" + path + " HTTP/1.1\r\nHost: localhost\r\n";
    if (*range) text += std::string("Range: ") + range + "\r\n";
    storage::HttpMessage request(text + "\r\n");
    storage::ProviderReply reply = provider.Open(path);
    std::string wire;
    if (reply.head.status != 200 || !reply.stream) {
      wire = storage::StatusResponse(reply.head.status, "Content-Length: 0\r\n");
      continue;
    }
    const std::string lastModified = reply.head.Get("Last-Modified");
    storage::ServeOptions options;
    const uint64_t entrySize = reply.stream->GetSize();
    storage::ServePlan plan =
        storage::PrepareServe(request, reply.head, entrySize, lastModified, options);
    if (plan.statusOnly) continue;
    if (plan.start != 0 &&
        reply.stream->Seek64(0, static_cast<int64_t>(plan.start)) != static_cast<int64_t>(plan.start)) {
      continue;
    }
    wire = storage::BuildResponseHead(reply.head, plan.size, plan.contentLength, lastModified);
    const bool withBody = (mode & 0x80) == 0;  // HEAD otherwise
    std::string body;
    if (!withBody || !Drain(*reply.stream, plan.contentLength, body)) continue;
    if (body.size() != plan.contentLength) __builtin_trap();
    // A whole entry handed out complete must be the entry the archive recorded. The path
    // names the first entry with its key, which need not be this one (a directory read
    // after scanned local headers lists names twice).
    const amzip::Entry* served = archive->FindEntry(utils::Utf8ToWide(path));
    if (served && plan.start == 0 && plan.contentLength == entrySize &&
        entrySize == served->uncompressedSize && entrySize > 0 &&
        utils::Crc32(0, body.data(), body.size()) != served->crc32) {
      __builtin_trap();
    }
    wire += body;
  }
  return 0;
}
