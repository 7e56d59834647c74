#include "tools/pack/preview.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/browser.h"
#include "app/control_entries.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "app/shell_platform.h"
#include "content/folder_provider.h"
#include "content/http_zip_provider.h"
#include "httpserver/http_server.h"
#include "tools/pack/control_entries.h"
#include "utils/encoding.h"
#include "utils/file/mapped_file.h"
#include "zip/archive.h"
#include "zip/sink.h"

namespace pack {
namespace fs = std::filesystem;
namespace {

std::string Show(const fs::path& path) {
  auto text = path.u8string();
  return "'" + std::string(text.begin(), text.end()) + "'";
}

std::u16string Wide(const std::optional<std::string>& text) {
  return text ? utils::Utf8ToWide(*text) : std::u16string();
}

// A source .zip, mapped read-only for the run so that deflated entries also go out in
// their gzip form, as from the packed program's mapped file.
struct ZipSource {
  utils::MappedFile file;
  utils::SharedPtr<amzip::Archive> archive{new amzip::Archive()};

  std::string Open(const fs::path& path) {
    const uint8_t* data = file.Open(path.u16string()) ? file.Map(0) : nullptr;
    if (!data) return "cannot read the source archive " + Show(path);
    archive->OpenMemory(data, file.GetSize(), path.u16string());
    if (!archive->IsOpen() || archive->Entries().empty())
      return "the source archive " + Show(path) + " holds no entries it can read";
    return {};
  }
};

// A control entry the source itself holds (a .zip made for the runner, or a folder with
// the file), decoded; empty when it has none. The packer keeps these unless an option
// replaces them, so the preview reads them too.
std::u16string SourceControl(const fs::path& source, const ZipSource& zip, const char* name) {
  std::string bytes;
  if (zip.archive->IsOpen()) {
    const std::u16string entry = utils::Utf8ToWide(name);
    amzip::MemCreator creator;
    zip.archive->Extract(creator, entry, entry);
    if (const std::string* found = creator.Find(entry)) bytes = *found;
  } else {
    std::ifstream in(source / name, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return app::DecodeControlText(bytes);
}

}  // namespace

int Preview(const PackOptions& o, std::FILE* out) {
  auto fail = [out](const std::string& message) {
    std::fprintf(out, "contentexe-pack: %s\n", message.c_str());
    return 1;
  };
  std::error_code ec;
  if (o.source.empty() || !fs::exists(o.source, ec))
    return fail("the source " + Show(o.source) + " does not exist");
  if (auto why = ControlOptionsError(o); !why.empty()) return fail(why);
  // What the packer would refuse is refused here too; its link warnings are shown once.
  PackResult checked = Check(o);
  if (!checked.ok) return fail(checked.error);
  for (const std::string& warning : checked.warnings)
    std::fprintf(out, "contentexe-pack: warning: %s\n", warning.c_str());

  // Destroyed in reverse order: the server (the providers' only caller) first.
  ZipSource zip;
  std::unique_ptr<storage::HttpStreamProviderI> provider;
  if (fs::is_directory(o.source, ec)) {
    provider = std::make_unique<storage::HttpFolderProvider>(o.source);
  } else {
    if (auto why = zip.Open(o.source); !why.empty()) return fail(why);
    provider = std::make_unique<storage::HttpZipProvider>(zip.archive);
  }

  // The control entries the packed program would read: the options, else the source's.
  auto controlText = [&](const std::optional<std::string>& option, const char* name) {
    return option ? Wide(option) : SourceControl(o.source, zip, name);
  };
  std::u16string query;
  app::ControlSettings control;
  const std::u16string useIe = controlText(o.useIe, ".use_ie");
  app::ApplyControlEntries(controlText(o.start, ".start"), controlText(o.port, ".port"),
                           useIe.empty() ? u"0" : useIe,
                           controlText(o.caption ? o.caption : o.name, ".caption"), query,
                           control);
  int32_t port = control.port;
  app::InitializeThread();  // POSIX: a browser that hangs up must not end us with SIGPIPE
  if (port != -1 && settings::IsSwitchOn(u"HttpPort"))
    port = app::ChooseServerPort(port, settings::GetDwordSetting(u"HttpPort", 0));

  storage::HttpServer server(false);
  server.options.port = port;
  server.options.listenAny = false;  // an author's working copy is nobody else's business
  server.options.crossOriginAny =
      settings::IsSwitchOn(u"HttpCrossOriginAny") ||
      controlText(o.crossOrigin, kCrossOriginEntry) == utils::Utf8ToWide(kCrossOriginAny);
  server.options.maxAge = [] { return int64_t{0}; };
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%x/", app::TickCount());
  server.SetRunPrefix(prefix);
  app::PrepareForServing();
  std::string url;
  try {
    url = server.Start(control.caption);
  } catch (...) {
    app::UninitializeThread();
    return fail("cannot start the preview server on port " + std::to_string(port) +
                " (is another program using it? choose another with --port)");
  }
  server.SetProvider(provider.get());
  app::ContentBaseUrl = utils::Utf8ToWide(url + prefix);
  std::fprintf(out, "contentexe-pack: previewing %s; edits show at the next reload.\n",
               Show(o.source).c_str());
  std::fflush(out);
  if (!app::LaunchBrowser(query, control.useIe))
    std::fprintf(out, "contentexe-pack: no browser could be started; open %s\n",
                 utils::WideToUtf8(app::ContentBaseUrl + u"index.html" + query).c_str());
  WaitForPreviewStop(server);
  server.Stop();
  app::UninitializeThread();
  return 0;
}

}  // namespace pack
