#include "content/piggyback.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "testing/program_builder.h"

namespace {

namespace fs = std::filesystem;
using content::testing::AppendArchive;
using content::testing::Bytes;
using content::testing::MakePe;
using content::testing::MakeStoredZip;

#ifdef _WIN32
constexpr const char* kExeSuffix = ".exe";
#define popen _popen
#define pclose _pclose
#else
constexpr const char* kExeSuffix = "";
#endif

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("cx-locator-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Runs a command line and returns what it printed (stdout).
std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

std::map<std::string, std::string> ParseProbe(const std::string& output) {
  std::map<std::string, std::string> values;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 1;
  }
  return values;
}

std::string Crc(const Bytes& bytes) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lx", crc32(0, bytes.data(), uInt(bytes.size())));
  return text;
}

Bytes TestArchive() {
  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 251);
  return MakeStoredZip({{"index.html", "<html>hello</html>"}, {"media/big.bin", big}});
}

// A program image of imageSize bytes (any bytes: the locator does not look at them).
Bytes Image(size_t imageSize) {
  Bytes image(imageSize);
  for (size_t i = 0; i < imageSize; ++i) image[i] = uint8_t(i * 13);
  return image;
}

TEST(PiggyBackArchiveTest, FindsArchivesAtAlignedAndUnalignedStarts) {
  TempDir dir;
  const uint64_t g = content::ProgramFile::Granularity();
  Bytes archive = TestArchive();
  for (uint64_t imageSize :
       {uint64_t(0), uint64_t(1), g - 1, g, g + 1, 10 * g, 10 * g + 512, 3 * g + g / 2 + 3}) {
    SCOPED_TRACE(imageSize);
    fs::path file = dir.path() / "program.bin";
    WriteFile(file, AppendArchive(Image(imageSize), archive));
    PiggyBackArchive piggy;
    ASSERT_TRUE(piggy.OpenFile(file.u16string()));
    EXPECT_EQ(imageSize, piggy.GetStart());
    ASSERT_EQ(archive.size(), piggy.GetSize());
    EXPECT_EQ(0, std::memcmp(piggy.GetData(), archive.data(), archive.size()));
    // The view starts on a granularity boundary: data sits start % g bytes into it.
    EXPECT_EQ(imageSize % g, uintptr_t(piggy.GetData()) % g);
    EXPECT_TRUE(piggy.Close());
    EXPECT_EQ(nullptr, piggy.GetData());
    EXPECT_EQ(0u, piggy.GetSize());
  }
}

TEST(PiggyBackArchiveTest, FailuresLeaveNothingMappedAndCloseSucceeds) {
  TempDir dir;
  Bytes archive = TestArchive();
  Bytes good = AppendArchive(Image(300), archive);
  Bytes trailing = good;
  trailing.push_back('\n');
  Bytes zeroLength = good;
  content::testing::Put32(zeroLength, zeroLength.size() - 4, 0);
  Bytes tooLong = good;
  content::testing::Put32(tooLong, tooLong.size() - 4, uint32_t(good.size() - 15));
  const std::pair<const char*, Bytes> cases[] = {
      {"no footer", trailing}, {"length 0", zeroLength},     {"too long", tooLong},
      {"empty file", Bytes{}}, {"15 bytes", Bytes(15, 'K')},
  };
  for (const auto& [what, bytes] : cases) {
    fs::path file = dir.path() / "bad.bin";
    WriteFile(file, bytes);
    PiggyBackArchive piggy;
    EXPECT_FALSE(piggy.OpenFile(file.u16string())) << what;
    EXPECT_EQ(nullptr, piggy.GetData()) << what;
    EXPECT_TRUE(piggy.Close()) << what;
    EXPECT_TRUE(piggy.Close()) << what;
  }
  PiggyBackArchive missing;
  EXPECT_FALSE(missing.OpenFile((dir.path() / "missing.bin").u16string()));
  EXPECT_TRUE(missing.Close());
  // A directory is not a program file.
  PiggyBackArchive folder;
  EXPECT_FALSE(folder.OpenFile(dir.path().u16string()));
  EXPECT_TRUE(folder.Close());
}

TEST(PiggyBackArchiveTest, TheTestProgramItselfCarriesNoArchive) {
  PiggyBackArchive self;
  EXPECT_FALSE(self.Open());
  EXPECT_TRUE(self.Close());
  EXPECT_FALSE(content::ProgramFilePath().empty());
}

fs::path ProbePath() {
  // Tests land in <build>/tests, programs in <build>/bin.
  return fs::path(content::ProgramFilePath()).parent_path().parent_path() / "bin" /
         (std::string("locator_probe") + kExeSuffix);
}

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

// Copies the probe, appends padding bytes, an archive and the footer, and runs it.
TEST(LocatorProbeTest, ProgramFindsTheArchiveAppendedToItself) {
  fs::path probe = ProbePath();
  ASSERT_TRUE(fs::exists(probe)) << probe;
  Bytes image = ReadFile(probe);
  ASSERT_GT(image.size(), 1000u);
  TempDir dir;

  // Without an archive the probe says so and still releases cleanly.
  fs::path plain = dir.path() / (std::string("plain") + kExeSuffix);
  WriteFile(plain, image);
  fs::permissions(plain, fs::perms::owner_all, fs::perm_options::add);
  auto none = ParseProbe(RunCommand(Quoted(plain)));
  EXPECT_EQ("0", none["found"]);
  EXPECT_EQ("1", none["closed"]);

  const uint64_t g = content::ProgramFile::Granularity();
  Bytes archive = TestArchive();
  uint64_t alignedPadding = (g - image.size() % g) % g;
  for (uint64_t padding : {alignedPadding, alignedPadding + 1, alignedPadding + g / 2 + 7}) {
    SCOPED_TRACE(padding);
    Bytes packed = image;
    packed.insert(packed.end(), padding, 0);
    uint64_t start = packed.size();
    packed = AppendArchive(packed, archive);
    fs::path copy = dir.path() / ("probe" + std::to_string(padding) + kExeSuffix);
    WriteFile(copy, packed);
    fs::permissions(copy, fs::perms::owner_all, fs::perm_options::add);
    auto found = ParseProbe(RunCommand(Quoted(copy)));
    EXPECT_EQ("1", found["found"]);
    EXPECT_EQ(std::to_string(start), found["start"]);
    EXPECT_EQ(std::to_string(archive.size()), found["size"]);
    EXPECT_EQ(Crc(archive), found["crc"]);
    // The ZIP reader opens the mapped bytes in place and sees both entries.
    EXPECT_EQ("0", found["open"]);
    EXPECT_EQ("2", found["entries"]);
    EXPECT_EQ("1", found["closed"]);
  }
}

bool HaveTool(const std::string& probeCommand) {
#ifdef _WIN32
  (void)probeCommand;
  return false;  // the signing tools are host programs
#else
  return std::system((probeCommand + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

// Packs a PE, signs it with osslsigncode and a throwaway certificate, and opens it.
TEST(SignedProgramFileTest, ArchiveIsFoundBeforeARealAuthenticodeSignature) {
  if (!HaveTool("osslsigncode --version") || !HaveTool("openssl version"))
    GTEST_SKIP() << "osslsigncode and openssl are needed (host tools)";
  TempDir dir;
  const fs::path key = dir.path() / "key.pem", cert = dir.path() / "cert.pem";
  ASSERT_EQ(0, std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=cx-test"
                            " -keyout " +
                            Quoted(key) + " -out " + Quoted(cert) + " >/dev/null 2>&1")
                               .c_str()));
  Bytes archive = TestArchive();
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    // Odd lengths so the signing tool has to pad before the certificate table.
    Bytes image = MakePe(plus);
    image.insert(image.end(), 5, 0x90);
    Bytes packed = AppendArchive(image, archive);
    fs::path unsignedFile = dir.path() / "packed.exe", signedFile = dir.path() / "signed.exe";
    WriteFile(unsignedFile, packed);
    fs::remove(signedFile);
    ASSERT_EQ(0, std::system(("osslsigncode sign -certs " + Quoted(cert) + " -key " + Quoted(key) +
                              " -in " + Quoted(unsignedFile) + " -out " + Quoted(signedFile) +
                              " >/dev/null 2>&1")
                                 .c_str()));
    Bytes signedBytes = ReadFile(signedFile);
    ASSERT_GT(signedBytes.size(), packed.size() + 100);
    // The plain rule alone cannot see the footer any more.
    EXPECT_FALSE(content::ParseFooter(signedBytes.data() + signedBytes.size() - 16));

    PiggyBackArchive piggy;
    ASSERT_TRUE(piggy.OpenFile(signedFile.u16string()));
    EXPECT_EQ(image.size(), piggy.GetStart());
    ASSERT_EQ(archive.size(), piggy.GetSize());
    EXPECT_EQ(0, std::memcmp(piggy.GetData(), archive.data(), archive.size()));
    EXPECT_TRUE(piggy.Close());
  }
}

}  // namespace
