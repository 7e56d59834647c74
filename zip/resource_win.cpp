#include <windows.h>

#include "zip/archive.h"

namespace amzip {

// The resource stays mapped as long as the module is loaded, which for the program's own
// module is the whole run, so the archive may read it in place.
int32_t Archive::OpenResource(const std::u16string& type, uint32_t identifier) {
  Close();
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(identifier),
                             reinterpret_cast<const wchar_t*>(type.c_str()));
  if (!info) return 0;
  HGLOBAL handle = LoadResource(module, info);
  if (!handle) return 0;
  const void* data = LockResource(handle);
  DWORD size = SizeofResource(module, info);
  if (!data || size == 0) return 0;
  return OpenMemory(data, size, type);
}

}  // namespace amzip
