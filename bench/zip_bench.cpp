// Timings of the ZIP reader against plain zlib and Info-ZIP unzip (see zip_bench.sh).
// Usage: zip_bench <archive with big.bin stored and mid.bin deflated> <10,000-entry archive>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "utils/encoding.h"
#include "zip/archive.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Counts bytes without keeping them, like unzip -p > /dev/null.
struct NullWriter : amzip::WriteI {
  explicit NullWriter(uint64_t* total) : bytes(*total) {}
  uint64_t& bytes;
  bool IsOpen() override { return true; }
  bool Write(const void*, uint32_t size) override {
    bytes += size;
    return true;
  }
  void Close() override {}
};
struct NullCreator : amzip::WriterCreatorI {
  uint64_t bytes = 0;  // the archive destroys its writers, so the count lives here
  amzip::WriteI* CreateWriter(const std::u16string&, uint64_t) override {
    return new NullWriter(&bytes);
  }
  int32_t CheckTarget(const std::u16string&) override { return 0; }
  void Finish(const std::u16string&, uint32_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string bytes = ReadFile(argv[1]);
  auto start = std::chrono::steady_clock::now();
  uLong crc =
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  double plain = Seconds(start);
  amzip::Archive archive;
  archive.OpenMemory(bytes.data(), bytes.size(), u"ZIP");
  start = std::chrono::steady_clock::now();
  uint32_t ours = archive.GetChecksum();
  double checksum = Seconds(start);
  std::printf("checksum %zu bytes: %.3f s, zlib crc32 %.3f s, ratio %.2f%s\n", bytes.size(),
              checksum, plain, checksum / plain, ours == crc ? "" : " MISMATCH");
  for (const char16_t* name : {u"big.bin", u"mid.bin"}) {
    amzip::Archive file;
    file.OpenFile(utils::Utf8ToWide(argv[1]));
    NullCreator creator;
    start = std::chrono::steady_clock::now();
    file.Extract(creator, name, name);
    double t = Seconds(start);
    std::printf("extract %s: %.3f s (%llu bytes, code %d)\n", utils::WideToUtf8(name).c_str(), t,
                static_cast<unsigned long long>(creator.bytes), file.LastError().code);
  }
  start = std::chrono::steady_clock::now();
  amzip::Archive many;
  many.OpenFile(utils::Utf8ToWide(argv[2]));
  std::printf("open %zu entries: %.1f ms\n", many.Entries().size(), Seconds(start) * 1000);
  return 0;
}
