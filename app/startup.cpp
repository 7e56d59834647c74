#include "app/startup.h"

#include <cstdio>
#include <memory>

#include "app/browser.h"
#include "app/browser_command.h"
#include "app/instance_lock.h"
#include "app/port_choice.h"
#include "app/run_state.h"
#include "app/server_record.h"
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
#include "utils/exception.h"
#include "zip/archive.h"
#include "zip/sink.h"

namespace app {

namespace {

std::string FormatRunPrefix(uint32_t ticks) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x/", ticks);
  return buffer;
}

// The key of the settings store under which each content's last port is kept.
constexpr char16_t kPortsKey[] = u"Ports";

// The port of "http://localhost:PORT/"; 0 when there is none.
uint32_t PortOfUrl(const std::string& url) {
  size_t colon = url.rfind(':');
  uint32_t port = 0;
  for (size_t i = colon == std::string::npos ? url.size() : colon + 1;
       i < url.size() && url[i] >= '0' && url[i] <= '9' && port <= 65535; ++i) {
    port = port * 10 + static_cast<uint32_t>(url[i] - '0');
  }
  return port <= 65535 ? port : 0;
}

}  // namespace

std::u16string StartFailureMessage(int32_t port, const std::u16string& error, bool inUse) {
  std::u16string number = utils::AnsiToWide(std::to_string(port));
  if (inUse) {
    return u"The content could not be started: port " + number +
           u" is used by another program.\n\nClose that program and start the content again.";
  }
  std::u16string where = IsFixedPort(port) ? u"on port " + number : u"on any port";
  return u"The content could not be started: its web server could not listen " + where + u" (" +
         error +
         u").\n\nStart the content again; if this keeps happening, restart "
         u"the computer.";
}

storage::HttpServerOptions ServerOptions(int port) {
  storage::HttpServerOptions options;
  options.port = port;  // already chosen: the HttpPort setting was applied by the caller
  options.listenAny = settings::IsSwitchOn(u"HttpListenAny");
  // Other origins read the content only when the author or this machine's user asks.
  options.crossOriginAny =
      settings::IsSwitchOn(u"HttpCrossOriginAny") || ReadControlEntry(kCrossOriginEntry) == u"any";
  // Asked per response; the setting is read again only when the store changed, so a
  // changed HttpMaxAge holds from the next response on.
  auto age = std::make_shared<settings::FollowedDword>(u"HttpMaxAge", 0);
  auto on = std::make_shared<int>(-1);  // the switch, as read at the first response
  options.maxAge = [age, on] {
    // The switch holds for the run as the first response found it; its value follows
    // the store.
    if (*on < 0) *on = settings::IsSwitchOn(u"HttpMaxAge") ? 1 : 0;
    if (*on == 0) return storage::HttpServerOptions::kDefaultMaxAge;
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
                        std::unique_ptr<storage::HttpServer>& server, std::u16string& failure) {
  if (!otherInstanceRuns) {
    ClearDeployedServers();
  } else if (FindRunningServer()) {
    TraceHook(u"server for this content is already running at %s.\n", ContentBaseUrl.c_str());
    return true;
  }
  const std::u16string contentKey = RecordName(ContentId);
  const uint32_t remembered = settings::GetStoredDword(kPortsKey, contentKey, 0);
  std::u16string error = u"unknown error";
  int32_t failedPort = port;
  for (int32_t candidate : PortCandidates(port, remembered, ContentId)) {
    try {
      std::string runPrefix = FormatRunPrefix(TickCount());
      server = std::make_unique<storage::HttpServer>(true);
      server->options = ServerOptions(candidate);
      // Log-off and shut-down may end the process as soon as the session's end has been
      // told: the record goes at once, before the server stops.
      server->options.onSessionEnd = [] { UnregisterServer(); };
      server->SetRunPrefix(runPrefix);
      PrepareForServing();
      std::string url = server->Start(caption);
      ContentBaseUrl = utils::AnsiToWide(url) + utils::AnsiToWide(runPrefix);
      server->SetProvider(provider);
      RegisterServer();
      // The next start of this content asks for the same port, so its pages keep their
      // origin and with it what they stored.
      uint32_t bound = PortOfUrl(url);
      if (!IsFixedPort(port) && bound != 0 && bound != remembered) {
        settings::SetStoredDword(kPortsKey, contentKey, bound);
      }
      return true;
    } catch (const utils::Exception& e) {
      error = e.GetMessage();
    } catch (...) {
      error = u"unknown error";
    }
    failedPort = candidate;
    server.reset();
  }
  bool inUse =
      error == u"socket bind error: " + utils::AnsiToWide(std::to_string(AddressInUseCode()));
  failure = StartFailureMessage(IsFixedPort(port) ? port : failedPort, error, inUse);
  return false;
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
  if (ContentId == 0 || ProcessId == 0) {
    ShowErrorMessage(
        u"The content could not be started: its archive has no identity "
        u"(checksum 0). Ask its author for a new copy.");
    return kExitFailed;
  }
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
  // The record is written (or the start has failed) before the next start may look.
  std::u16string failure;
  bool started =
      StartContentServer(&provider, port, control.caption, otherInstanceRuns, server, failure);
  lock.EndStart();
  if (!started) {
    // Shown outside the start window: other starts need not wait for the user.
    ShowErrorMessage(failure);
    return kExitFailed;
  }
  if (!LaunchBrowser(query, control.useIe)) {
    // A server of our own goes on serving, its address told; a start that only handed
    // over to another process's server has done nothing for the user.
    ShowBrowserFailure(MakeStartUrl(ContentBaseUrl, query), server != nullptr);
    if (!server) exitCode = kExitFailed;
  }
  if (server) WaitForServer(*server);
  lock.Release();
  server.reset();
  return exitCode;
}

}  // namespace app
