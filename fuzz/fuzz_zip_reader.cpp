// Feeds arbitrary bytes to the ZIP reader as a memory archive: open, extract and stream
// every entry it lists, and checksum. Any crash, hang or sanitizer report is a bug.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  amzip::Archive archive;
  archive.OpenMemory(data, size, u"ZIP");
  size_t count = 0;
  for (const auto& entry : archive.Entries()) {
    if (++count > 64) break;
    amzip::MemCreator creator;
    archive.Extract(creator, entry->name, entry->name);
    uint32_t entrySize = 0;
    amzip::FileTime time;
    archive.GetEntryInfo(entry->name, entrySize, &time);
    if (auto stream = archive.OpenEntryStream(entry->name)) {
      char buffer[4096];
      for (int i = 0; i < 64 && stream->Read(buffer, sizeof(buffer)) > 0; ++i) {
      }
      stream->Seek64(0, 1);
      stream->Read(buffer, 16);
    }
  }
  archive.GetChecksum();
  return 0;
}
