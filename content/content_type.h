// The MIME type of a path, from its file-name extension.
#pragma once

#include <string>

namespace storage {

// The type for path's extension (the text after the last '.' of the last path segment,
// before any '?', lower-cased), or defaultType when the table has none. The table is
// built once, on first use, and only read afterwards: safe from any thread.
std::string GetContentType(const std::string& path, const std::string& defaultType);

}  // namespace storage
