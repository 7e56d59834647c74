// Opening the start page: ContentBaseUrl + "index.html" + the start query, in the
// default browser or (Windows, when the content asks for it) in Internet Explorer.
//
// Runs once on the main thread after a server for the content listens. A failed launch
// is the caller's to tell (with the address to open by hand).
#pragma once

#include <string>

namespace app {

// True when the URL was handed to a browser.
//
// Windows: useIe asks for Internet Explorer through ieframe.dll's IELaunchURL; where
// that cannot be launched (current systems no longer have it) the default browser is
// used instead, through ShellExecuteW.
// POSIX: useIe has no effect; the commands of $BROWSER are tried in order, then
// xdg-open (open on macOS). A browser is started detached and never waited for.
bool LaunchBrowser(const std::u16string& query, bool useIe);

}  // namespace app
