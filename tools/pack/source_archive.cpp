#include "tools/pack/source_archive.h"

#include <algorithm>
#include <memory>

#include "utils/encoding.h"
#include "utils/read_stream.h"
#include "zip/entry_stream.h"
#include "zip/format.h"

namespace pack {

std::string SourceArchive::Open(const std::filesystem::path& path, bool findAppended) {
  const uint8_t* bytes = nullptr;
  if (findAppended && !piggyBack_.OpenFile(path.u16string())) piggyBack_.Close();
  if (piggyBack_.GetData()) {
    appended_ = true;
    bytes = piggyBack_.GetData();
    start_ = piggyBack_.GetStart();
    size_ = piggyBack_.GetSize();
  } else {
    if (!file_.Open(path.u16string())) return "cannot open the file";
    size_ = file_.GetSize();
    // The shortest archive is a bare end record.
    if (size_ < 22) return "not a ZIP archive (too short)";
    bytes = file_.Map(0);
    if (!bytes) return "cannot map it into memory";
  }
  int32_t code = zip_.OpenMemory(bytes, size_, u"ZIP");
  if (zip_.NotZip() || code == amzip::AZERROR_CANT_FIND_CENTRALDIR ||
      code == amzip::AZERROR_BAD_SIGNATURE)
    return "not a ZIP archive";
  if (code != 0) return std::string("damaged ZIP archive (") + amzip::ErrorName(code) + ")";
  if (!findAppended) return CheckDeflatedData();
  return {};
}

std::string SourceArchive::CheckDeflatedData() {
  std::unique_ptr<uint8_t[]> block(new uint8_t[1 << 16]);
  for (const auto& entry : zip_.Entries()) {
    if (entry->method != amzip::kMethodDeflated || (entry->flags & amzip::kFlagEncrypted)) continue;
    auto stream = zip_.OpenEntryStream(*entry);
    if (!stream) continue;  // refused by name when the entry is taken, with its reason
    uint32_t got = 0;
    while (stream->Read(block.get(), 1 << 16, got) && got > 0) {
    }
    const int32_t failure = static_cast<amzip::EntryStream&>(*stream).FailureCode();
    if (failure == 0) continue;
    const std::string what = failure == amzip::AZERROR_CRC
                                 ? "its data does not match its CRC-32"
                                 : "its deflate data is corrupt or ends before its recorded size";
    return "damaged entry '" + EntryPath(*entry) + "': " + what +
           "; repair the archive or make it again from the files";
  }
  return {};
}

std::optional<std::string> SourceArchive::ReadSmall(const amzip::Entry& entry, uint64_t limit) {
  if (entry.uncompressedSize > limit || entry.compressedSize > limit) return std::nullopt;
  auto stream = zip_.OpenEntryStream(entry);
  if (!stream) return std::nullopt;
  std::string out(stream->GetSize(), '\0');
  uint32_t got = 0;
  if (!out.empty() && (!stream->Read(out.data(), uint32_t(out.size()), got) || got != out.size()))
    return std::nullopt;
  return out;
}

std::string EntryPath(const amzip::Entry& entry) {
  std::u16string name = entry.name;
  std::replace(name.begin(), name.end(), u'\\', u'/');
  return utils::WideToUtf8(name);
}

}  // namespace pack
