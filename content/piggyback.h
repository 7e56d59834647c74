// PiggyBackArchive: finds the ZIP archive appended to the program file (closed by the
// 16-byte footer of content/footer.h) and maps it read-only without copying it, or, when
// the process lacks the address space for one view of it (a 32-bit process and an
// archive of more than 1 GiB), leaves it to be read in place.
//
// Owns the open program file, its mapping and the view. GetData() points into the view
// and stays valid until Close (or destruction), so the object must outlive every reader
// of the archive bytes. Used on the main thread during start-up; afterwards the bytes
// are read-only memory any thread may read. Failures are reported by result only.
#pragma once

#include <cstdint>
#include <string>

#include "utils/file/mapped_file.h"

namespace amzip {
class Archive;
}

class PiggyBackArchive {
 public:
  PiggyBackArchive() = default;
  PiggyBackArchive(const PiggyBackArchive&) = delete;
  PiggyBackArchive& operator=(const PiggyBackArchive&) = delete;
  ~PiggyBackArchive() { Close(); }

  // Locates the archive in the running program's own file and maps it. True: GetData()
  // and GetSize() describe the archive. False: no usable footer, or a system call
  // failed; whatever was opened so far stays for Close to release.
  bool Open();
  // The same over the program file at path (tools and tests).
  bool OpenFile(const std::u16string& path);

  // Unmaps the view, then closes the mapping, then the file; true when every release
  // succeeded. Also right after a failed Open, and when nothing was opened.
  bool Close();

  // Opens archive over the located bytes under the name "ZIP": OpenMemory over the view,
  // or, without one, OpenSource over the archive's region of a second handle of the
  // file. Returns its error code (0: opened cleanly); call after a successful Open.
  int32_t OpenArchive(amzip::Archive& archive) const;

  // The mapped archive; null when it is read in place (see OpenArchive).
  const uint8_t* GetData() const { return data_; }
  uint32_t GetSize() const { return size_; }
  // File offset of the archive's first byte (diagnostics and tests).
  uint64_t GetStart() const { return start_; }

 private:
  bool Locate();

  utils::MappedFile file_;
  std::u16string path_;  // empty: the running program's own file
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  uint64_t start_ = 0;
};
