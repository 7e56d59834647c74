// The runner's start-up and run, shared by both platforms' entry functions.
//
// In order: open the content archive (the file named on the command line, the
// "RT_ZIP" resource, the archive appended to the program file), read the control
// entries, take ContentId, decide through the instance lock and the server records
// whether a server for this content already runs, start one if not, open the start page
// in the browser, and wait until the server is stopped.
//
// Main thread only. Failures to find or open the archive are shown (ShowErrorMessage);
// every later failure is silent.
#pragma once

#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/control_entries.h"

class PiggyBackArchive;

namespace storage {
class HttpServer;
class HttpStreamProviderI;
struct HttpServerOptions;
}  // namespace storage

namespace app {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = -1;

// Opens the process-wide archive from the first source that gives one and applies its
// control entries to query and control. False (after its message) when none does.
bool OpenContentArchive(const std::u16string& archivePath, PiggyBackArchive& locator,
                        std::u16string& query, ControlSettings& control);

// The decoded text of one control entry of the open archive; empty when missing.
// Never throws: an exception while extracting is shown and counts as missing.
std::u16string ReadControlEntry(const std::u16string& name);

// The server's options: port as chosen, HttpListenAny, cross-origin reads for every page
// when the HttpCrossOriginAny setting is on or ".cross_origin" says "any", and a max-age
// source that follows HttpMaxAge (read again only when the settings changed).
storage::HttpServerOptions ServerOptions(int port);

// Either finds another process's server for this content (server stays empty and
// ContentBaseUrl holds its URL) or starts, records and returns this process's own.
// False on any failure.
bool StartContentServer(storage::HttpStreamProviderI* provider, int port,
                        const std::u16string& caption, bool otherInstanceRuns,
                        std::unique_ptr<storage::HttpServer>& server);

// The whole run after the command line was taken apart; returns the exit code.
int RunContent(const StartArguments& arguments);

}  // namespace app
