#include "content/piggyback.h"

#include "content/footer.h"
#include "zip/archive.h"

bool PiggyBackArchive::Open() { return file_.OpenSelf() && Locate(); }

bool PiggyBackArchive::OpenFile(const std::u16string& path) { return file_.Open(path) && Locate(); }

bool PiggyBackArchive::Locate() {
  auto location =
      content::LocateArchive(file_.GetSize(), [this](uint64_t offset, void* buffer, size_t len) {
        return file_.ReadAt(offset, buffer, len);
      });
  if (!location) return false;
  // A view must begin on a granularity boundary at or below the archive's start; the
  // archive then lies dataOffset bytes into it.
  auto plan = content::PlanView(location->start, content::ProgramFile::Granularity());
  const uint8_t* view = file_.Map(plan.alignedStart);
  if (!view) return false;
  data_ = view + plan.dataOffset;
  size_ = location->size;
  start_ = location->start;
  return true;
}

bool PiggyBackArchive::Close() {
  data_ = nullptr;
  size_ = 0;
  start_ = 0;
  return file_.Close();
}

int32_t PiggyBackArchive::OpenArchive(amzip::Archive& archive) const {
  return archive.OpenMemory(data_, size_, u"ZIP");
}
