#include <cinttypes>

#include "tools/pack/control_entries.h"
#include "tools/pack/pack.h"
#include "tools/pack/source_archive.h"

namespace pack {
namespace {

constexpr uint64_t kMaxControlEntry = 1 << 20;

std::string DosText(uint32_t t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", 1980 + (t >> 25), (t >> 21) & 15,
                (t >> 16) & 31, (t >> 11) & 31, (t >> 5) & 63);
  return text;
}

}  // namespace

std::string List(const std::filesystem::path& path, std::FILE* out) {
  auto shown = path.u8string();
  std::string name(shown.begin(), shown.end());
  SourceArchive source;
  if (auto why = source.Open(path, true); !why.empty()) return "'" + name + "': " + why;
  if (source.Appended())
    std::fprintf(out, "content executable: archive of %" PRIu64 " bytes at offset %" PRIu64 "\n",
                 source.Size(), source.Start());
  else
    std::fprintf(out, "ZIP archive of %" PRIu64 " bytes\n", source.Size());
  std::fprintf(out, "%12s  %-7s %12s  %-16s  %s\n", "Length", "Method", "Compressed", "Modified",
               "Name");
  uint64_t total = 0;
  for (const auto& entry : source.Zip().Entries()) {
    const amzip::Entry& e = *entry;
    const char* method = e.method == 0 ? "stored" : e.method == 8 ? "deflate" : "other";
    std::string entryName = EntryPath(e);
    std::fprintf(out, "%12" PRIu64 "  %-7s %12" PRIu64 "  %-16s  %s", e.uncompressedSize, method,
                 e.compressedSize, DosText(EntryDosTime(e)).c_str(), entryName.c_str());
    if (entryName == ".start" || entryName == ".port" || entryName == ".use_ie" ||
        entryName == ".caption" || entryName == kCrossOriginEntry) {
      auto bytes = source.ReadSmall(e, kMaxControlEntry);
      if (bytes)
        std::fprintf(out, " = \"%s\"", DecodeControlText(*bytes).c_str());
      else
        std::fprintf(out, " (unreadable)");
    }
    std::fputc('\n', out);
    total += e.uncompressedSize;
  }
  std::fprintf(out, "%zu entries, %" PRIu64 " bytes\n", source.Zip().Entries().size(), total);
  return {};
}

}  // namespace pack
