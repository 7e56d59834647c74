#include "content/http_zip_provider.h"

#include <cstdio>

#include "content/content_type.h"
#include "content/gzip_member.h"
#include "utils/encoding.h"
#include "zip/entry_stream.h"
#include "zip/format.h"
#include "zip/platform.h"

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

// A stored entry of an archive in a file, as the server's file body: the entry stream's
// checked bytes, where they lie in the file.
class EntryFileBody : public FileBodyI {
 public:
  EntryFileBody(utils::SharedPtr<utils::ReadStreamI> stream, amzip::EntryStream* entry,
                uintptr_t file, uint64_t offset)
      : stream_(std::move(stream)), entry_(entry), file_(file), offset_(offset) {}
  void Next(uintptr_t& file, uint64_t& offset, uint64_t& count) override {
    file = file_;
    offset = offset_ + entry_->Tell();
    if (!entry_->Vouched(count)) count = 0;
  }

 private:
  utils::SharedPtr<utils::ReadStreamI> stream_;  // keeps entry_ (and its file) alive
  amzip::EntryStream* entry_;
  uintptr_t file_;
  uint64_t offset_;
};

utils::SharedPtr<FileBodyI> OpenFileBody(const utils::SharedPtr<utils::ReadStreamI>& stream) {
  auto* entry = dynamic_cast<amzip::EntryStream*>(stream.Get());
  uintptr_t file = 0;
  uint64_t offset = 0;
  if (!entry || !entry->FileSpan(file, offset)) return {};
  return utils::SharedPtr<FileBodyI>(new EntryFileBody(stream, entry, file, offset));
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

const amzip::Entry* HttpZipProvider::Resolve(const amzip::Archive& archive,
                                            const std::string& path) const {
  for (const std::u16string& name : CandidateNames(path)) {
    const amzip::Entry* entry = archive.FindEntry(name);
    // A folder's own record has no content to serve.
    if (!entry || entry->name.empty() || entry->name.back() == u'\\') continue;
    // Control entries (".port", ".start", ...: a name at the root that starts with a dot)
    // are read by the program, not content: served, they would tell any scanner what runs.
    if (entry->name[0] == u'.' && entry->name.find_first_of(u"\\/") == std::u16string::npos) {
      return nullptr;
    }
    return entry;
  }
  return nullptr;
}

const HttpZipProvider::Resolved& HttpZipProvider::Lookup(
    const utils::SharedPtr<amzip::Archive>& archive, const std::string& path) {
  if (resolvedFor_.Get() != archive.Get() || resolvedGeneration_ != archive->Generation() ||
      resolved_.size() >= kMaxResolved) {
    resolved_.clear();
    resolvedFor_ = archive;
    resolvedGeneration_ = archive->Generation();
  }
  auto [at, added] = resolved_.try_emplace(path);
  Resolved& r = at->second;
  if (!added) return r;
  r.entry = archive->IsOpen() ? Resolve(*archive, path) : nullptr;
  if (!r.entry) return r;
  const amzip::Entry& entry = *r.entry;
  r.contentType = GetContentType(path, "text/html");
  r.contentLength = std::to_string(entry.uncompressedSize);
  amzip::FileTime time;
  // An entry without date and time gets no "Last-Modified" rather than a 1601 date.
  if ((entry.modDate != 0 || entry.modTime != 0) &&
      amzip::DosDateTimeToUtc(entry.modDate, entry.modTime, time)) {
    r.lastModified = FormatHttpDate(HttpTimeFromUnix(UnixSeconds(time)));
  }
  r.streamName = utils::AnsiToWide(path);
  if (entry.method != 0 && inflated_.Accepts(entry.uncompressedSize)) {
    r.cacheKey = CacheKey(*archive, entry);
  }
  return r;
}

ProviderReply HttpZipProvider::Open(const std::string& path) {
  ProviderReply reply;
  reply.head.headers.reserve(12);  // room for what the server adds, without moving them
  utils::SharedPtr<amzip::Archive> archive = Archive();
  const Resolved* resolved = archive ? &Lookup(archive, path) : nullptr;
  if (!resolved || !resolved->entry) {
    reply.head.status = 404;
    reply.head.reason = "Not Found";
    return reply;
  }
  reply.stream = OpenEntry(*archive, *resolved);
  if (!reply.stream) {
    if (archive->LastError().code == amzip::AZERROR_CHANGED && !warnedChanged_) {
      // The one person who can act on it is the author at the terminal.
      warnedChanged_ = true;
      std::fprintf(stderr,
                   "The archive %s was changed on disk while it is served: its entries that "
                   "changed are refused. To serve the new archive, stop the program and start it "
                   "again; to change an archive while it is served, write the new one beside it "
                   "and rename it over the old one.\n",
                   utils::WideToUtf8(archive->Name()).c_str());
    }
    // Refused before anything is sent, with a length of its own: never a 200 that breaks off.
    reply.head.status = 500;
    reply.head.reason = "Internal Server Error";
    reply.head.Set("Content-Length", "0");
    return reply;
  }
  reply.fileBody = OpenFileBody(reply.stream);
  reply.gzipStream = OpenGzipForm(*archive, *resolved->entry, resolved->streamName);
  reply.head.Set("Content-Type", resolved->contentType);
  reply.head.Set("Content-Length", resolved->contentLength);
  if (!resolved->lastModified.empty()) reply.head.Set("Last-Modified", resolved->lastModified);
  return reply;
}

utils::SharedPtr<utils::ReadStreamI> HttpZipProvider::OpenEntry(amzip::Archive& archive,
                                                                const Resolved& resolved) {
  const amzip::Entry& entry = *resolved.entry;
  // The archive checks the entry's local header before handing out a stream, whatever
  // its source; an entry it refuses gets an empty pointer.
  utils::SharedPtr<utils::ReadStreamI> direct = archive.OpenEntryStream(entry);
  // Small deflated entries (scripts, style sheets, pages) are inflated once and then
  // served from memory; stored entries already read straight from the archive.
  if (!direct || resolved.cacheKey.empty()) return direct;
  utils::SharedPtr<utils::ByteVector> bytes = inflated_.Find(resolved.cacheKey);
  // An entry that does not inflate to its size and CRC-32 is refused (empty pointer).
  if (!bytes) bytes = inflated_.Fill(resolved.cacheKey, *direct, entry.uncompressedSize);
  if (!bytes) return {};
  return utils::SharedPtr<utils::ReadStreamI>(
      new utils::MemoryStreamReader(bytes, resolved.streamName));
}

utils::SharedPtr<utils::ReadStreamI> HttpZipProvider::OpenGzipForm(
    amzip::Archive& archive, const amzip::Entry& entry, const std::u16string& streamName) {
  if (entry.method != amzip::kMethodDeflated || (entry.flags & amzip::kFlagEncrypted) != 0) {
    return {};
  }
  amzip::EntryLocation where;
  if (!archive.LocateEntry(entry, where)) return {};
  return utils::SharedPtr<utils::ReadStreamI>(new GzipMemberStream(std::move(where), streamName));
}

utils::SharedPtr<utils::ReadStreamI> HttpZipProvider::PostStream(
    const std::string& path, const std::string& body, int32_t& status,
    const std::u16string& contentTypeLine) {
  return utils::SharedPtr<utils::ReadStreamI>();
}

}  // namespace storage
