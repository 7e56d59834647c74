#include "content/folder_provider.h"

#include <zlib.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "content/content_type.h"
#include "utils/encoding.h"
#include "utils/file/streams.h"
#include "zip/entry_key.h"

namespace storage {
namespace fs = std::filesystem;
namespace {

// The request path's segments; empty when any segment would step out of the folder or
// name something other than a plain name in it.
std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> segments;
  if (path.empty() || path[0] == '/' || path[0] == '\\') return {};
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;  // "a//b" is "a/b", as for an entry key
    if (segment == "." || segment == "..") return {};
    // A drive ("C:") or a Windows alternate stream ("page.html::$DATA") is not a name
    // the packer ever packs; a zero byte would cut the name short at the OS.
    if (segment.find_first_of(std::string(":\0", 2)) != std::string::npos) return {};
    segments.push_back(std::move(segment));
  }
  return segments;
}

fs::path PathOfUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::u16string Key(const std::u16string& name) { return amzip::NormalizeEntryKey(name); }

// The child of folder whose name matches segment as entry keys match: the exact name
// first, then any name with the same key.
fs::path FindChild(const fs::path& folder, const std::string& segment) {
  std::error_code ec;
  fs::path exact = folder / PathOfUtf8(segment);
  if (fs::exists(fs::symlink_status(exact, ec))) return exact;
  std::u16string wanted = Key(utils::Utf8ToWide(segment));
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (Key(it->path().filename().u16string()) == wanted) return it->path();
  }
  return {};
}

int64_t UnixSeconds(fs::file_time_type time) {
  auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

std::string LowerExtension(const fs::path& file) {
  auto ext = file.extension().u8string();
  std::string text(ext.begin(), ext.end());
  if (!text.empty()) text.erase(0, 1);
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

// bytes as one gzip member, or empty when zlib fails.
utils::SharedPtr<utils::ByteVector> Gzip(const utils::ByteVector& bytes) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return {};
  utils::SharedPtr<utils::ByteVector> out(new utils::ByteVector(deflateBound(&z, bytes.size())));
  z.next_in = const_cast<Bytef*>(bytes.data());
  z.avail_in = uInt(bytes.size());
  z.next_out = out->data();
  z.avail_out = uInt(out->size());
  int status = deflate(&z, Z_FINISH);
  out->resize(z.total_out);
  deflateEnd(&z);
  if (status != Z_STREAM_END) return {};
  return out;
}

}  // namespace

HttpFolderProvider::HttpFolderProvider(fs::path root) : root_(std::move(root)) {}

bool HttpFolderProvider::IsWithin(const fs::path& base, const fs::path& path) {
  auto b = base.begin(), p = path.begin();
  for (; b != base.end(); ++b, ++p) {
    if (b->empty() && std::next(b) == base.end()) break;  // "dir/" ends with an empty part
    if (p == path.end() || *b != *p) return false;
  }
  return true;
}

bool HttpFolderProvider::IsInside(const fs::path& root, const fs::path& file) {
  std::error_code ec1, ec2;
  fs::path base = fs::canonical(root, ec1), resolved = fs::canonical(file, ec2);
  return !ec1 && !ec2 && IsWithin(base, resolved);
}

fs::path HttpFolderProvider::Resolve(const std::string& path) const {
  // Browsers send UTF-8; other bytes name nothing the packer would have named.
  if (!utils::IsValidUtf8(path)) return {};
  std::vector<std::string> segments = Segments(path);
  if (segments.empty()) return {};
  // Names at the root that start with a dot are the packed program's control entries,
  // which it does not serve.
  if (segments.size() == 1 && segments[0][0] == '.') return {};
  fs::path file = root_;
  for (const std::string& segment : segments) {
    file = FindChild(file, segment);
    if (file.empty()) return {};
  }
  std::error_code ec;
  if (!fs::is_regular_file(file, ec) || !IsInside(root_, file)) return {};
  return file;
}

ProviderReply HttpFolderProvider::Open(const std::string& path) {
  ProviderReply reply;
  fs::path file = Resolve(path);
  std::error_code ec;
  uint64_t size = file.empty() ? 0 : fs::file_size(file, ec);
  auto modified = file.empty() || ec ? fs::file_time_type() : fs::last_write_time(file, ec);
  if (file.empty() || ec) {
    reply.head.status = 404;
    reply.head.reason = "Not Found";
    return reply;
  }
  std::u16string name = utils::Utf8ToWide(path);
  if (!IsStoredExtension(LowerExtension(file)) && size <= kMaxGzipSize) {
    std::ifstream in(file, std::ios::binary);
    utils::SharedPtr<utils::ByteVector> bytes(
        new utils::ByteVector(std::istreambuf_iterator<char>(in), {}));
    if (in && !in.bad()) {
      size = bytes->size();  // what was read, should the file have changed meanwhile
      reply.stream =
          utils::SharedPtr<utils::ReadStreamI>(new utils::MemoryStreamReader(bytes, name));
      if (utils::SharedPtr<utils::ByteVector> gz = Gzip(*bytes))
        reply.gzipStream =
            utils::SharedPtr<utils::ReadStreamI>(new utils::MemoryStreamReader(gz, name));
    }
  } else {
    utils::SharedPtr<utils::ReadStreamI> stream(new utils::ReadFileStream(file.u16string()));
    if (stream->IsOpen()) {
      size = stream->GetSize();
      reply.stream = stream;
    }
  }
  if (!reply.stream) {
    reply.head.status = 500;
    reply.head.reason = "Internal Server Error";
    reply.head.Set("Content-Length", "0");
    return reply;
  }
  reply.head.Set("Content-Type", GetContentType(path, "text/html"));
  reply.head.Set("Content-Length", std::to_string(size));
  reply.head.Set("Last-Modified", FormatHttpDate(HttpTimeFromUnix(UnixSeconds(modified))));
  return reply;
}

}  // namespace storage
