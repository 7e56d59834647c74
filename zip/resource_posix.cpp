#include "zip/archive.h"

namespace amzip {

// POSIX executables carry no resources: nothing to open, and the archive stays closed.
int32_t Archive::OpenResource(const std::u16string& type, uint32_t identifier) {
  Close();
  return 0;
}

}  // namespace amzip
