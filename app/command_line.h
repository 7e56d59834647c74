// The runner's command line: splitting a Windows command line into elements, the rule
// that tells whether the first element is the program's own name, and the archive
// candidate and start query made from the arguments.
//
// Everything here is pure: the caller supplies the existence test for files, so the
// rules run the same on every platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace app {

// Splits a command line the way the shell's CommandLineToArgvW does: the first element
// (the program path) ends at the next quote when it starts with one, else at the first
// blank; later elements follow the C run-time rules (2n backslashes before a quote give
// n backslashes and toggle quoting, 2n+1 give n backslashes and a literal quote, a
// doubled quote inside quotes is a literal quote). Blanks are space and tab.
std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine);

// The extension of a path element: the characters after its last '.', where the
// backward search stops at the first '\' or '/'. Empty when there is no such '.' or
// it is the last character. Lower-cased (ASCII letters only).
std::u16string PathExtension(const std::u16string& element);

// True when the first element names the program itself (its extension is "exe"), so
// that the arguments begin at the second element.
bool FirstElementIsProgram(const std::vector<std::u16string>& elements);

struct StartArguments {
  std::u16string archivePath;  // empty unless the first argument names an existing file
  std::u16string query;        // empty or "?a&b..." (arguments copied verbatim)
};

// Appends one parameter to a start query: "?" before the first one, "&" after that.
void AppendQueryParameter(std::u16string& query, const std::u16string& parameter);

// The arguments (without the program's own name): the first is the archive candidate,
// taken when isFile answers true for it and never part of the query; each following
// argument becomes a query parameter.
StartArguments ParseArguments(const std::vector<std::u16string>& arguments,
                              const std::function<bool(const std::u16string&)>& isFile);

// The Windows form: split elements, skip the program's own name by the "exe" rule,
// then ParseArguments.
StartArguments ParseCommandLineElements(const std::vector<std::u16string>& elements,
                                        const std::function<bool(const std::u16string&)>& isFile);

}  // namespace app
