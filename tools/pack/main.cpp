// contentexe-pack: packs a folder or a ZIP archive of web content into a content
// executable, or lists what one holds. See README.md ("Usage").
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#else
#include <unistd.h>
#endif

#include "tools/pack/pack.h"

namespace {

const char kUsage[] =
    "usage: contentexe-pack SOURCE -o OUTPUT [--start TEXT] [--port N] [--use-ie N]\n"
    "                       [--caption TEXT] [--cross-origin any] [--icon FILE] [--name TEXT]\n"
    "                       [--version TEXT] [--company TEXT] [--stub RUNNER] [--force]\n"
    "       contentexe-pack --list FILE\n";

const char kHelp[] =
    "\n"
    "Packs SOURCE, a folder or a .zip of web content, into the program OUTPUT; its\n"
    "index.html is the page that opens first.\n"
    "\n"
    "  -o, --output OUTPUT  the program to write\n"
    "  --start TEXT         added to the start page's address as show=TEXT\n"
    "  --port N             the port to ask for, 1 to 65535; 0 or absent: the user's\n"
    "                       HttpPort setting, else any free port; -1: any free port\n"
    "  --use-ie N           Windows: 0 (the default) opens the default browser,\n"
    "                       otherwise Internet Explorer where it still exists\n"
    "  --caption TEXT       the notification-area tooltip (default: --name)\n"
    "  --cross-origin any   let every web page the user opens read the content and open\n"
    "                       WebSockets to it (default: only the content's own pages)\n"
    "  --icon FILE          Windows: the program's icon, a .ico or a PNG file of at\n"
    "                       most 256 by 256 pixels\n"
    "  --name TEXT          Windows: the program's description and product name\n"
    "  --version TEXT       Windows: its file and product version, e.g. 1.2.0\n"
    "  --company TEXT       Windows: its company name\n"
    "  --stub RUNNER        the runner to append the content to (default: the runner\n"
    "                       beside this packer, contentexe or contentexe.exe)\n"
    "  --force              replace an existing OUTPUT\n"
    "  --list FILE          show the entries of a content program or a .zip\n"
    "  -h, --help           show this text\n";

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The arguments as UTF-8, whatever the platform's command-line encoding.
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide && i < count; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    args.push_back(arg);
  }
  LocalFree(wide);
#else
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
#endif
  return args;
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "contentexe-pack: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Arguments(argc, argv);
  pack::PackOptions options;
  std::optional<std::string> list;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::optional<std::string>& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::optional<std::string> text;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--force") {
      options.force = true;
    } else if (a == "-o" || a == "--output" || a == "--stub" || a == "--list" || a == "--icon") {
      if (!value(text)) return Usage(a + " needs a value");
      if (a == "--stub")
        options.stub = PathOf(*text);
      else if (a == "--icon")
        options.icon = PathOf(*text);
      else if (a == "--list")
        list = *text;
      else
        options.output = PathOf(*text);
    } else if (a == "--start" || a == "--port" || a == "--use-ie" || a == "--caption" ||
               a == "--name" || a == "--version" || a == "--company" || a == "--cross-origin") {
      auto& into = a == "--start"          ? options.start
                   : a == "--cross-origin" ? options.crossOrigin
                   : a == "--port"    ? options.port
                   : a == "--use-ie"  ? options.useIe
                   : a == "--name"    ? options.name
                   : a == "--version" ? options.version
                   : a == "--company" ? options.company
                                      : options.caption;
      if (!value(into)) return Usage(a + " needs a value");
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      positional.push_back(a);
    }
  }
  if (list) {
    if (!positional.empty() || !options.output.empty()) return Usage("--list takes only FILE");
    std::string error = pack::List(PathOf(*list), stdout);
    if (!error.empty()) {
      std::fprintf(stderr, "contentexe-pack: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (positional.size() != 1) return Usage("give one SOURCE (a folder or a .zip)");
  if (options.output.empty()) return Usage("give the output with -o OUTPUT");
  options.source = PathOf(positional[0]);
  if (options.stub.empty()) options.stub = pack::DefaultStub();
  if (StderrIsTerminal()) options.progress = stderr;

  pack::PackResult result = pack::Pack(options);
  for (const std::string& warning : result.warnings)
    std::fprintf(stderr, "contentexe-pack: warning: %s\n", warning.c_str());
  if (!result.ok) {
    std::fprintf(stderr, "contentexe-pack: %s\n", result.error.c_str());
    return 1;
  }
  std::fprintf(
      stderr, "contentexe-pack: wrote %s: %zu entries, archive of %llu bytes\n",
      positional.empty() ? "" : reinterpret_cast<const char*>(options.output.u8string().c_str()),
      result.entryCount, static_cast<unsigned long long>(result.archiveSize));
  return 0;
}
