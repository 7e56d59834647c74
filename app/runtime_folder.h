// POSIX: the per-user folder for the instance lock and the server records:
// $XDG_RUNTIME_DIR/<branch>, else <temporary folder>/<branch>-<uid>. The folder is
// made with mode 0700; one that belongs to somebody else, or that others may write to,
// is refused, since a record there decides which URL our browser opens.
#pragma once

#include <string>

namespace app {

// The folder (created when missing), or an empty string when it cannot be used.
std::string RuntimeFolder();
// A subfolder of it, made the same way; empty when unusable.
std::string RuntimeSubfolder(const std::string& name);

}  // namespace app
