#include "app/startup.h"

#include <cstdio>
#include <memory>

#include "app/browser.h"
#include "app/instance_lock.h"
#include "app/run_state.h"
#include "app/server_registry.h"
#include "app/settings.h"
#include "app/shell_platform.h"
#include "app/trace_hook.h"
#include "content/http_zip_provider.h"
#include "content/navigation_provider.h"
#include "content/piggyback.h"
#include "httpserver/http_server.h"
#include "translation/dict.h"
#include "utils/encoding.h"
#include "zip/archive.h"
#include "zip/sink.h"

namespace app {

uint32_t ContentId = 0;
uint32_t ProcessId = 0;
std::u16string ContentBaseUrl;

namespace {

std::string FormatRunPrefix(uint32_t ticks) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x/", ticks);
  return buffer;
}

}  // namespace

storage::HttpServerOptions ServerOptions(int port) {
  storage::HttpServerOptions options;
  options.port = port;  // already chosen: the HttpPort setting was applied by the caller
  options.listenAny = settings::IsSwitchOn(u"HttpListenAny");
  // Other origins read the content only when the author or this machine's user asks.
  options.crossOriginAny = settings::IsSwitchOn(u"HttpCrossOriginAny") ||
                           ReadControlEntry(kCrossOriginEntry) == u"any";
  // Asked per response; the setting is read again only when the store changed, so a
  // changed HttpMaxAge holds from the next response on.
  auto age = std::make_shared<settings::FollowedDword>(u"HttpMaxAge", 0);
  options.maxAge = [age] {
    // The switch holds for the run once seen on; its value follows the store.
    if (!settings::IsSwitchOn(u"HttpMaxAge")) return storage::HttpServerOptions::kDefaultMaxAge;
    return int64_t{age->Get()};
  };
  return options;
}

std::u16string ReadControlEntry(const std::u16string& name) {
  try {
    amzip::MemCreator creator;
    amzip::Archive::GetInstance()->Extract(creator, name, name);
    const std::string* bytes = creator.Find(name);
    return bytes ? DecodeControlText(*bytes) : std::u16string();
  } catch (...) {
    ShowErrorMessage(u"unknown error: extractbuffer(" + name + u")\n");
    return {};
  }
}

bool OpenContentArchive(const std::u16string& archivePath, PiggyBackArchive& locator,
                        std::u16string& query, ControlSettings& control) {
  utils::SharedPtr<amzip::Archive> archive = amzip::Archive::GetInstance();
  if (!archivePath.empty()) {
    try {
      // The result is not looked at: a file that cannot be read leaves the archive
      // closed, and the next source is tried. So does a file in which no entry is found
      // (a document dropped onto the program): it is ignored like a missing one.
      archive->OpenFile(archivePath);
      if (archive->Entries().empty()) archive->Close();
    } catch (...) {
      ShowErrorMessage(u"Fatal error while trying to open archive");
      return false;
    }
  }
  if (!archive->IsOpen()) {
    try {
      archive->OpenResource(u"RT_ZIP", 777);
    } catch (...) {
      ShowErrorMessage(u"Fatal error while trying to open zip resource");
      return false;
    }
  }
  if (!archive->IsOpen()) {
    try {
      if (!locator.Open()) {
        ShowErrorMessage(u"Error while trying to open piggy-back archive");
        return false;
      }
      locator.OpenArchive(*archive);
      // A footer over bytes that yield no entry at all (a foreign or damaged payload)
      // would otherwise start a server with nothing to serve and open the browser on a
      // 404 page; telling the user the program holds no archive is more useful. A
      // partly readable directory still counts as found.
      if (archive->Entries().empty()) {
        archive->Close();
      }
    } catch (...) {
      ShowErrorMessage(u"Fatal error while trying to open piggy-back archive");
      return false;
    }
  }
  if (!archive->IsOpen()) {
    ShowErrorMessage(u"Couldn't find any archive");
    return false;
  }
  std::u16string start = ReadControlEntry(kStartEntry);
  std::u16string port = ReadControlEntry(kPortEntry);
  std::u16string useIe = ReadControlEntry(kUseIeEntry);
  std::u16string caption = ReadControlEntry(kCaptionEntry);
  ApplyControlEntries(start, port, useIe, caption, query, control);
  return true;
}

bool StartContentServer(storage::HttpStreamProviderI* provider, int port,
                        const std::u16string& caption, bool otherInstanceRuns,
                        std::unique_ptr<storage::HttpServer>& server) {
  if (!otherInstanceRuns) {
    ClearDeployedServers();
  } else if (FindRunningServer()) {
    TraceHook(u"server for this content is already running at %s.\n", ContentBaseUrl.c_str());
    return true;
  }
  try {
    std::string runPrefix = FormatRunPrefix(TickCount());
    server = std::make_unique<storage::HttpServer>(true);
    server->options = ServerOptions(port);
    server->SetRunPrefix(runPrefix);
    PrepareForServing();
    std::string url = server->Start(caption);
    ContentBaseUrl = utils::AnsiToWide(url) + utils::AnsiToWide(runPrefix);
    server->SetProvider(provider);
    RegisterServer();
    return true;
  } catch (...) {
    return false;
  }
}

int RunContent(const StartArguments& arguments) {
  // The dictionary's debug switch is read once per process, and exception texts take
  // their captions from the dictionary.
  t9n::SetDebugLookups(settings::IsSwitchOn(u"dict_debug"));
  t9n::InstallExceptionTexts();
  int exitCode = kExitOk;
  std::u16string query = arguments.query;
  ControlSettings control;
  // Destroyed in reverse order: the server first (it stops the network thread, the
  // provider's only caller), then the provider, then the locator that maps the
  // archive bytes.
  PiggyBackArchive locator;
  storage::HttpZipProvider archiveProvider;
  // Nothing in this program fills the navigation members: documents go out as stored.
  storage::NavigationProvider provider(archiveProvider, {});
  std::unique_ptr<storage::HttpServer> server;

  if (!OpenContentArchive(arguments.archivePath, locator, query, control)) return kExitFailed;
  ContentId = amzip::Archive::GetInstance()->GetChecksum();
  ProcessId = CurrentProcessId();
  if (ContentId == 0 || ProcessId == 0) return kExitFailed;
  // Restart points of large deflated entries are built while the server starts, so
  // the first range request far into one does not inflate it from the start.
  amzip::Archive::GetInstance()->StartIndexing();

  // The lock outlives this function when the start fails, as a mutex handle left
  // open until the process ends.
  static InstanceLock lock;
  bool otherInstanceRuns = lock.Acquire();
  // -1 asks for any free port without consulting the settings.
  int32_t port = control.port;
  if (port != -1 && settings::IsSwitchOn(u"HttpPort")) {
    port = ChooseServerPort(port, settings::GetDwordSetting(u"HttpPort", 0));
  }
  if (!StartContentServer(&provider, port, control.caption, otherInstanceRuns, server)) {
    return kExitFailed;
  }
  if (LaunchBrowser(query, control.useIe) && server) WaitForServer(*server);
  lock.Release();
  server.reset();
  return exitCode;
}

}  // namespace app
