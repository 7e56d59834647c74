// contentexe-pack --preview: serves a source folder (or a .zip the packer accepts) as the
// packed program would serve it, without packing: the same server with a run prefix,
// the same request rules, content types, headers, ranges and gzip forms, the control
// entries taken from the options. A folder's files are read at each request, so an edit
// shows at the next reload; responses carry "max-age=0" so that the browser asks again.
//
// Listens on loopback only (whatever HttpListenAny says), opens the start page in the
// browser and runs until Ctrl+C (POSIX: SIGINT or SIGTERM; Windows: Ctrl+C, Ctrl+Break
// or closing the console). Main thread only.
#pragma once

#include <cstdio>
#include <string>

#include "tools/pack/pack.h"

namespace storage {
class HttpServer;
}

namespace pack {

// The options' texts checked as packing checks them. Empty string when they are fine.
std::string CheckControlOptions(const PackOptions& options);

// Serves options.source (start, port, useIe, caption and name apply) until stopped.
// Messages go to out. Returns the exit code: 0 after a stop, 1 when it could not start.
int Preview(const PackOptions& options, std::FILE* out);

// Blocks until the server has stopped: on a stop signal or console event it asks the
// server to stop first (preview_posix.cpp, preview_win.cpp).
void WaitForPreviewStop(storage::HttpServer& server);

}  // namespace pack
