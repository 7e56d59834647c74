#include "tools/pack/source_archive.h"

#include <algorithm>

#include "utils/encoding.h"
#include "utils/read_stream.h"

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
