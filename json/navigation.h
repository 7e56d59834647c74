// The rewrite of navigation documents on their way to the browser: extra members from
// the server's table are set on the document's root object, and the result is served
// from memory instead of the stored bytes.
//
// Pure functions of the stream and the table; called on the server's network thread.
#pragma once

#include <map>
#include <string>

#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace json {

// Member name to value, applied in key order.
using NavigationMembers = std::map<std::u16string, std::u16string>;

// True when the document was rewritten: bytes then hold the new document (compact JSON
// in UTF-8). False when it is to be served as stored: the table is empty (the stream is
// not touched), the stream does not hold an object at its root, or its text is in an
// encoding that cannot be read; in the last two cases the stream is rewound to its start.
bool RewriteNavigation(const utils::SharedPtr<utils::ReadStreamI>& stream,
                       const NavigationMembers& members, std::string& bytes);

// The stream to serve: stream itself (rewound if it was read), or a memory stream over
// the rewritten document that carries stream's name.
utils::SharedPtr<utils::ReadStreamI> TransformNavigation(
    const utils::SharedPtr<utils::ReadStreamI>& stream, const NavigationMembers& members);

}  // namespace json
