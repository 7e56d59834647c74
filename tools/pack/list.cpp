#include <zlib.h>

#include <cinttypes>
#include <memory>

#include "content/footer.h"
#include "content/program_file.h"
#include "tools/pack/control_entries.h"
#include "tools/pack/pack.h"
#include "tools/pack/zip_reader.h"

namespace pack {
namespace {

constexpr uint64_t kMaxControlEntry = 1 << 20;

// The uncompressed bytes of a small entry, or nullopt.
std::optional<std::string> ReadSmallEntry(uint64_t archiveStart, const ZipEntry& e,
                                          const content::ReadAtFn& readAt) {
  if (e.size > kMaxControlEntry || e.compressedSize > kMaxControlEntry) return std::nullopt;
  auto offset = EntryDataOffset(archiveStart, e, readAt);
  if (!offset) return std::nullopt;
  std::string raw(e.compressedSize, '\0');
  if (!raw.empty() && !readAt(archiveStart + *offset, raw.data(), raw.size())) return std::nullopt;
  if (e.method == 0) return raw;
  if (e.method != 8) return std::nullopt;
  std::string out(e.size, '\0');
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(raw.data());
  z.avail_in = uInt(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

std::string DosText(uint32_t t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", 1980 + (t >> 25), (t >> 21) & 15,
                (t >> 16) & 31, (t >> 11) & 31, (t >> 5) & 63);
  return text;
}

}  // namespace

std::string List(const std::filesystem::path& path, std::FILE* out) {
  content::ProgramFile file;
  auto shown = path.u8string();
  std::string name(shown.begin(), shown.end());
  if (!file.Open(path.u16string())) return "cannot open '" + name + "'";
  auto readAt = [&file](uint64_t o, void* b, size_t n) { return file.ReadAt(o, b, n); };
  uint64_t start = 0, size = file.GetSize();
  if (auto location = content::LocateArchive(file.GetSize(), readAt)) {
    start = location->start;
    size = location->size;
    std::fprintf(out, "content executable: archive of %" PRIu64 " bytes at offset %" PRIu64 "\n",
                 size, start);
  } else {
    std::fprintf(out, "ZIP archive of %" PRIu64 " bytes\n", size);
  }
  std::string error;
  auto entries = ReadCentralDirectory(start, size, readAt, error);
  if (!entries) return "'" + name + "': " + error;
  std::fprintf(out, "%12s  %-7s %12s  %-16s  %s\n", "Length", "Method", "Compressed", "Modified",
               "Name");
  uint64_t total = 0;
  for (const ZipEntry& e : *entries) {
    const char* method = e.method == 0 ? "stored" : e.method == 8 ? "deflate" : "other";
    std::fprintf(out, "%12" PRIu64 "  %-7s %12" PRIu64 "  %-16s  %s", e.size, method,
                 e.compressedSize, DosText(e.dosTime).c_str(), e.name.c_str());
    if (e.name == ".start" || e.name == ".port" || e.name == ".use_ie" || e.name == ".caption") {
      auto bytes = ReadSmallEntry(start, e, readAt);
      if (bytes)
        std::fprintf(out, " = \"%s\"", DecodeControlText(*bytes).c_str());
      else
        std::fprintf(out, " (unreadable)");
    }
    std::fputc('\n', out);
    total += e.size;
  }
  std::fprintf(out, "%zu entries, %" PRIu64 " bytes\n", entries->size(), total);
  return {};
}

}  // namespace pack
