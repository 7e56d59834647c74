#include "content/piggyback.h"

#include <memory>

#include "content/footer.h"
#include "zip/archive.h"
#include "zip/source.h"

bool PiggyBackArchive::Open() {
  path_.clear();
  return file_.OpenSelf() && Locate();
}

bool PiggyBackArchive::OpenFile(const std::u16string& path) {
  path_ = path;
  return file_.Open(path) && Locate();
}

bool PiggyBackArchive::Locate() {
  auto location =
      content::LocateArchive(file_.GetSize(), [this](uint64_t offset, void* buffer, size_t len) {
        return file_.ReadAt(offset, buffer, len);
      });
  if (!location) return false;
  start_ = location->start;
  size_ = location->size;
  if (!amzip::FileReader::Mappable(size_)) return true;
  // A view must begin on a granularity boundary at or below the archive's start; the
  // archive then lies dataOffset bytes into it.
  auto plan = content::PlanView(location->start, utils::MappedFile::Granularity());
  const uint8_t* view = file_.Map(plan.alignedStart);
  if (!view) return false;
  data_ = view + plan.dataOffset;
  return true;
}

bool PiggyBackArchive::Close() {
  data_ = nullptr;
  size_ = 0;
  start_ = 0;
  return file_.Close();
}

int32_t PiggyBackArchive::OpenArchive(amzip::Archive& archive) const {
  // The view of the program file: the archive reads the mapped bytes, and stored entries
  // can be sent from the file itself.
  if (data_) {
    return archive.OpenSource(
        amzip::SourcePtr(new amzip::MemReader(data_, size_, file_.NativeHandle(), start_)), u"ZIP");
  }
  if (size_ == 0) return 0;
  auto file = std::make_unique<utils::MappedFile>();
  if (!(path_.empty() ? file->OpenSelf() : file->Open(path_))) return amzip::ERROR_OPEN_FILE;
  amzip::SourcePtr region(amzip::FileReader::Region(std::move(file), start_, size_, true));
  return archive.OpenSource(region, u"ZIP");
}
