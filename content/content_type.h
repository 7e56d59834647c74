// The one extension table: the MIME type each file-name extension is served with, and
// which extensions name formats that are already compressed (media, archives), which
// the packer stores as they are. Every stored extension has its type.
#pragma once

#include <string>

namespace storage {

// The type for path's extension (the text after the last '.' of the last path segment,
// before any '?', lower-cased), or defaultType when the table has none. The table is
// built once, on first use, and only read afterwards: safe from any thread.
std::string GetContentType(const std::string& path, const std::string& defaultType);

// True for an extension (lower case, without the dot) that the packer stores.
bool IsStoredExtension(const std::string& extension);

}  // namespace storage
