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

#include "contentexe_version.h"
#include "tools/pack/interrupt.h"
#include "tools/pack/launch.h"
#include "tools/pack/pack.h"
#include "tools/pack/preview.h"
#include "utils/file/mapped_file.h"

namespace {

const char kUsage[] =
    "usage: contentexe-pack SOURCE -o OUTPUT [--start TEXT] [--port N] [--use-ie N]\n"
    "                       [--caption TEXT] [--cross-origin any] [--icon FILE] [--name TEXT]\n"
    "                       [--version TEXT] [--company TEXT] [--stub RUNNER]\n"
    "                       [--arch x64|x86] [--force] [--strict]\n"
    "       contentexe-pack --preview SOURCE [--start TEXT] [--port N] [--caption TEXT]\n"
    "       contentexe-pack --check SOURCE [--strict]\n"
    "       contentexe-pack --list FILE\n"
    "       contentexe-pack --version\n";

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
    "  --icon FILE          Windows: the program's icon, from a .ico, PNG, JPEG or\n"
    "                       BMP file (scaled to every size the system shows)\n"
    "  --name TEXT          Windows: the program's description and product name\n"
    "  --version TEXT       Windows: its file and product version, e.g. 1.2.0\n"
    "  --company TEXT       Windows: its company name\n"
    "  --stub RUNNER        the runner to append the content to (default: the runner\n"
    "                       beside this packer: contentexe-x64.exe, else\n"
    "                       contentexe.exe, for a Windows packer; contentexe otherwise)\n"
    "  --arch x64|x86       the Windows runner beside this packer for that system:\n"
    "                       contentexe-x64.exe (64-bit) or contentexe-x86.exe (32-bit)\n"
    "  --force              replace an existing OUTPUT\n"
    "  --strict             link-check warnings are errors: exit code 2, nothing written\n"
    "  --preview SOURCE     serve SOURCE as the program would, reading each file at\n"
    "                       each request (edit, save, reload); Ctrl+C ends it\n"
    "  --check SOURCE       check the links of SOURCE without writing anything\n"
    "  --list FILE          show the entries of a content program or a .zip\n"
    "  --version            (alone) show this packer's version and commit\n"
    "  -h, --help           show this text\n"
    "\n"
    "On Windows, a folder dropped on contentexe-pack.exe is packed to FOLDER.exe beside\n"
    "it (FOLDER (2).exe when that is taken) and the result is shown in a message box.\n";

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

// Started from Explorer (a console of its own): a dropped folder is packed to FOLDER.exe
// beside it; a double-click without one says how to use the packer. The answer goes to a
// message box, or the console window would close with it.
int PackFromExplorer(const std::vector<std::string>& args) {
  std::string error;
  std::filesystem::path stub;
  if (args.empty()) {
    pack::ShowMessage(
        "Drop a folder of web content (with its index.html) on contentexe-pack.exe: it "
        "becomes one program beside the folder.\n\nIn a console: contentexe-pack --help",
        false);
    return 2;
  }
  stub = pack::RunnerBeside(std::filesystem::path(utils::ProgramFilePath()).parent_path(),
                            true, pack::Arch::kAny, error);
  if (stub.empty()) {
    pack::ShowMessage("Could not pack " + args[0] + ":\n\n" + error, true);
    return 1;
  }
  pack::DropResult drop = pack::PackDropped(PathOf(args[0]), stub, stderr);
  std::fprintf(stderr, "contentexe-pack: %s\n", drop.text.c_str());
  pack::ShowMessage(drop.text, !drop.ok);
  return drop.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Arguments(argc, argv);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("contentexe-pack %s (commit %s)\n", CX_VERSION_TEXT, CX_VERSION_COMMIT);
    return 0;
  }
  if (pack::OwnsConsole() && args.size() <= 1 && (args.empty() || args[0][0] != '-'))
    return PackFromExplorer(args);
  std::optional<pack::Arch> arch;
  pack::PackOptions options;
  std::optional<std::string> list;
  std::string mode;  // "--preview", "--check" or empty (pack)
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
    } else if (a == "--arch") {
      if (!value(text)) return Usage(a + " needs a value");
      if (!(arch = pack::ParseArch(*text))) return Usage("--arch takes x64 or x86, not " + *text);
    } else if (a == "--force") {
      options.force = true;
    } else if (a == "--strict") {
      options.strict = true;
    } else if (a == "--preview" || a == "--check") {
      mode = a;
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
  options.source = PathOf(positional[0]);
  if (!mode.empty() && !options.output.empty()) return Usage(mode + " writes no output");
  if (mode == "--preview") return pack::Preview(options, stderr);
  if (mode == "--check") {
    pack::PackResult result = pack::Check(options);
    if (!result.ok) {
      std::fprintf(stderr, "contentexe-pack: %s\n", result.error.c_str());
      return 1;
    }
    for (const std::string& warning : result.warnings)
      std::fprintf(stderr, "contentexe-pack: warning: %s\n", warning.c_str());
    std::fprintf(stderr,
                 "contentexe-pack: checked %zu files, %zu links in %.2f s: %zu warning(s)\n",
                 result.pagesChecked, result.linksChecked, result.stats.seconds,
                 result.warnings.size());
    return options.strict && !result.warnings.empty() ? 2 : 0;
  }
  if (options.output.empty()) return Usage("give the output with -o OUTPUT");
  if (options.stub.empty()) {
    std::filesystem::path self(utils::ProgramFilePath());
    std::string error;
    options.stub = pack::RunnerBeside(self.parent_path(), self.extension() == ".exe" || self.extension() == ".EXE",
                                      arch.value_or(pack::Arch::kAny), error);
    if (options.stub.empty()) {
      std::fprintf(stderr, "contentexe-pack: %s\n", error.c_str());
      return 1;
    }
  }
  if (StderrIsTerminal()) options.progress = stderr;

  pack::InterruptCatcher interrupts;
  pack::PackResult result = pack::Pack(options);
  for (const std::string& warning : result.warnings)
    std::fprintf(stderr, "contentexe-pack: warning: %s\n", warning.c_str());
  if (!result.ok) {
    std::fprintf(stderr, "contentexe-pack: %s\n", result.error.c_str());
    if (pack::Interruption()) return pack::InterruptionExitCode();
    return result.strictRefused ? 2 : 1;
  }
  std::fputs(pack::FormatReport(options.output, result).c_str(), stderr);
  return 0;
}
