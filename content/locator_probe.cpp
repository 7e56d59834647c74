// locator_probe: opens the archive appended to its own program file and prints what it
// found, one "key=value" a line. The packer's tests and the signed-probe script pack
// copies of it and run them; it embeds the runner marker, so the packer accepts it as a stub.
#include <zlib.h>

#include <cstdio>

#include "content/piggyback.h"
#include "content/runner_marker.h"
#include "zip/archive.h"

int main() {
  content::KeepRunnerMarker();
  PiggyBackArchive archive;
  if (!archive.Open()) {
    std::printf("found=0\nclosed=%d\n", archive.Close() ? 1 : 0);
    return 1;
  }
  uLong crc = crc32(0L, archive.GetData(), archive.GetSize());  // the size fits 32 bits
  std::printf("found=1\nstart=%llu\nsize=%lu\ncrc=%08lx\n",
              static_cast<unsigned long long>(archive.GetStart()),
              static_cast<unsigned long>(archive.GetSize()), static_cast<unsigned long>(crc));
  {
    amzip::Archive zip;
    int32_t code = archive.OpenArchive(zip);
    std::printf("open=%d\nentries=%zu\n", int(code), zip.Entries().size());
  }
  std::printf("closed=%d\n", archive.Close() ? 1 : 0);
  return 0;
}
