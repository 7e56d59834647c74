#include "content/http_zip_provider.h"

#include "utils/encoding.h"

namespace storage {
namespace {

// FILETIME ticks (100 ns since 1601) to seconds since 1970.
int64_t UnixSeconds(const amzip::FileTime& time) {
  uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

void AddUnique(std::vector<std::u16string>& names, std::u16string name) {
  if (name.empty()) return;
  for (const auto& n : names) {
    if (n == name) return;
  }
  names.push_back(std::move(name));
}

}  // namespace

// The archive object and the entry's place in it: a provider may serve another archive
// later (tests do), and equal names in two archives must not share bytes.
std::u16string HttpZipProvider::CacheKey(const amzip::Archive& archive, const amzip::Entry& entry) {
  std::string where = std::to_string(reinterpret_cast<uintptr_t>(&archive)) + ":" +
                      std::to_string(entry.localHeaderOffset) + ":" +
                      std::to_string(entry.diskStart) + ":";
  return std::u16string(where.begin(), where.end()) + entry.name;
}

std::vector<std::u16string> HttpZipProvider::CandidateNames(const std::string& path) {
  std::vector<std::u16string> names;
  // Browsers send UTF-8; an archive that stored UTF-8 bytes without saying so shows
  // them as legacy-code-page characters, so those are tried as well.
  if (utils::IsValidUtf8(path)) AddUnique(names, utils::Utf8ToWide(path));
  AddUnique(names, utils::AnsiToWide(path));
  AddUnique(names, utils::BytesToWide(path, utils::kCodePageOem));
  return names;
}

utils::SharedPtr<amzip::Archive> HttpZipProvider::Archive() const {
  return archive_ ? archive_ : amzip::Archive::GetInstance();
}

std::u16string HttpZipProvider::Resolve(const amzip::Archive& archive,
                                        const std::string& path) const {
  for (const std::u16string& name : CandidateNames(path)) {
    if (archive.FindEntry(name)) return name;
  }
  return std::u16string();
}

int32_t HttpZipProvider::GetInfo(const std::string& path, HttpMessage& response) {
  utils::SharedPtr<amzip::Archive> archive = Archive();
  if (!archive || !archive->IsOpen()) return 404;
  std::u16string name = Resolve(*archive, path);
  uint32_t size = 0;
  amzip::FileTime time;
  if (name.empty() || !archive->GetEntryInfo(name, size, &time)) return 404;
  response.Set("Content-Length", std::to_string(size));
  // An entry without date and time gets no "Last-Modified" rather than a 1601 date.
  if (time.dwHighDateTime != 0 || time.dwLowDateTime != 0) {
    response.Set("Last-Modified", FormatHttpDate(HttpTimeFromUnix(UnixSeconds(time))));
  }
  return 200;
}

utils::SharedPtr<utils::ReadStreamI> HttpZipProvider::GetStream(const std::string& path,
                                                                int32_t& status,
                                                                HttpMessage& streamHeaders) {
  utils::SharedPtr<amzip::Archive> archive = Archive();
  std::u16string name;
  if (archive && archive->IsOpen()) name = Resolve(*archive, path);
  if (name.empty()) {
    status = 404;
    return {};
  }
  // The entry's local header is checked before any byte goes out: an entry that cannot
  // be served (encrypted, unsupported method, damaged) gets a status of its own.
  utils::SharedPtr<utils::ReadStreamI> direct = archive->OpenEntryStream(name);
  if (!direct) {
    status = 500;
    return {};
  }
  const amzip::Entry* entry = archive->FindEntry(name);
  // Small deflated entries (scripts, style sheets, pages) are inflated once and then
  // served from memory; stored entries already read straight from the archive.
  if (entry && entry->method != 0 && inflated_.Accepts(entry->uncompressedSize)) {
    std::u16string key = CacheKey(*archive, *entry);
    utils::SharedPtr<utils::ByteVector> bytes = inflated_.Find(key);
    if (!bytes) bytes = inflated_.Fill(key, *direct, entry->uncompressedSize);
    if (bytes) {
      return utils::SharedPtr<utils::ReadStreamI>(
          new utils::MemoryStreamReader(bytes, utils::AnsiToWide(path)));
    }
    direct = archive->OpenEntryStream(name);
  }
  return direct;
}

utils::SharedPtr<utils::ReadStreamI> HttpZipProvider::PostStream(
    const std::string& path, const std::string& body, int32_t& status,
    const std::u16string& contentTypeLine) {
  return utils::SharedPtr<utils::ReadStreamI>();
}

}  // namespace storage
