// The start URL and the browser commands of POSIX systems.
//
// $BROWSER is read the way Python's webbrowser module reads it: a list of commands
// separated by ':'; in a command, every "%s" in its words is replaced by the URL, and a
// command without "%s" gets the URL appended as its last argument. Words are split with
// POSIX shell quoting (single and double quotes, backslash escapes); a last word "&"
// (run in the background) is dropped, since every browser is started detached anyway.
#pragma once

#include <string>
#include <vector>

namespace app {

// baseUrl + "index.html" + query, joined without separator or encoding.
std::u16string MakeStartUrl(const std::u16string& baseUrl, const std::u16string& query);

// Splits text into words with POSIX shell quoting. Returns false (and no words) for an
// unterminated quote or a trailing backslash.
bool SplitShellWords(const std::string& text, std::vector<std::string>& words);

// The commands to try, in order, each as argv (program first). Entries that are empty
// or do not split are left out.
std::vector<std::vector<std::string>> BrowserCommands(const std::string& browserVariable,
                                                      const std::string& url);

// The fall-back when $BROWSER is unset or names nothing that starts: the desktop's
// opener ("xdg-open", or "open" on macOS) with the URL.
std::vector<std::string> DefaultBrowserCommand(const std::string& url, bool macOs);

}  // namespace app
