#include "tools/pack/pack.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>

#include <chrono>

#include "content/content_type.h"
#include "content/folder_provider.h"
#include "content/footer.h"
#include "content/http_zip_provider.h"
#include "content/runner_marker.h"
#include "tools/pack/branding.h"
#include "tools/pack/control_entries.h"
#include "tools/pack/interrupt.h"
#include "tools/pack/link_check.h"
#include "tools/pack/pe_resources.h"
#include "tools/pack/progress.h"
#include "tools/pack/source_archive.h"
#include "tools/pack/source_tree.h"
#include "tools/pack/zip_writer.h"
#include "utils/file/mapped_file.h"

namespace pack {
namespace fs = std::filesystem;
namespace {

// The archive's end record counts entries in 16 bits (the writer makes no ZIP64 records).
constexpr size_t kMaxEntries = 65535;

std::string Show(const fs::path& path) { return "'" + EscapedPath(path) + "'"; }

std::string Utf8Name(const fs::path& relative) {
  auto text = relative.generic_u8string();
  return std::string(text.begin(), text.end());
}

std::string LowerExtension(const std::string& name) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext;
}

// One entry of the archive to write: a file, an entry of a source ZIP, or control text.
struct Item {
  std::string name;
  uint32_t dosTime = 0;
  uint64_t size = 0;
  fs::path file;                        // a file of the source folder
  const amzip::Entry* entry = nullptr;  // an entry of the source ZIP
  std::optional<std::string> bytes;
};

std::optional<std::vector<uint8_t>> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::string CollectFolder(const fs::path& root, const std::vector<fs::path>& skip,
                          std::vector<Item>& items, std::vector<std::string>& warnings) {
  std::vector<SourceFile> files;
  // Room for the five control entries; the exact count is checked once they are added.
  SourceLimits limits{kMaxEntries - 5, 0xFFFFFFFFull};
  if (auto why = ScanFolder(root, skip, limits, files, warnings); !why.empty()) return why;
  for (SourceFile& f : files) {
    Item item;
    std::error_code ec;
    item.dosTime = DosDateTimeOf(fs::last_write_time(f.path, ec));
    if (ec) return "cannot read " + Show(f.path) + ": " + ec.message();
    item.name = std::move(f.name);
    item.file = std::move(f.path);
    item.size = f.size;
    items.push_back(std::move(item));
  }
  return {};
}

std::string CollectZip(const fs::path& zip, SourceArchive& source, std::vector<Item>& items) {
  if (auto why = source.Open(zip, false); !why.empty())
    return "source archive " + Show(zip) + ": " + why;
  for (const auto& entry : source.Zip().Entries()) {
    const amzip::Entry& e = *entry;
    std::string name = EntryPath(e);
    if (!name.empty() && name.back() == '/') continue;  // folders are implied by names
    std::string why;
    if (name.empty()) why = "its name cannot be decoded";
    if (e.flags & 1) why = "it is encrypted";
    if (e.method != 0 && e.method != 8) why = "its compression method is not stored or deflate";
    if (why.empty() && !source.Data(e)) why = "its data lies outside the archive";
    if (why.empty() && !(why = EntryNameProblem(name)).empty())
      why = "its name cannot be served: " + why;
    if (why.empty() && e.uncompressedSize > 0xFFFFFFFFull)
      why = "it is larger than 4 GiB, the most a program file holds in one file";
    if (!why.empty()) return "cannot take '" + name + "' from " + Show(zip) + ": " + why;
    Item item;
    item.name = std::move(name);
    item.dosTime = EntryDosTime(e);
    item.size = e.uncompressedSize;
    item.entry = &e;
    items.push_back(std::move(item));
  }
  return {};
}

std::string AddControlEntries(const PackOptions& o, std::vector<Item>& items) {
  const std::optional<std::string>& caption = o.caption ? o.caption : o.name;
  const std::pair<const char*, const std::optional<std::string>*> controls[] = {
      {".start", &o.start},     {".port", &o.port},
      {".use_ie", &o.useIe},    {".caption", &caption},
      {kCrossOriginEntry, &o.crossOrigin}};
  auto has = [&](const char* entry) {
    return std::any_of(items.begin(), items.end(), [&](const Item& i) { return i.name == entry; });
  };
  // Without a choice the runner would ask for Internet Explorer: the default browser is
  // what authors expect. A ".use_ie" the source already holds is the author's choice.
  const std::optional<std::string> defaultBrowser = "0";
  if (auto why = ControlOptionsError(o); !why.empty()) return why;
  for (auto [name, value] : controls) {
    if (value == &o.useIe && !*value && !has(name)) value = &defaultBrowser;
    if (!*value) continue;
    auto bytes = EncodeControlText(**value);
    if (!bytes) return std::string("the text for ") + name + " is not valid UTF-8";
    items.erase(std::remove_if(items.begin(), items.end(),
                               [entry = name](const Item& i) { return i.name == entry; }),
                items.end());
    Item item;
    item.name = name;
    item.dosTime = DosDateTime(1980, 1, 1, 0, 0, 0);  // no varying fields
    item.size = bytes->size();
    item.bytes = std::move(*bytes);
    items.push_back(std::move(item));
  }
  return {};
}

// The content as the packed program will see it, for the link check: the folder through
// the preview's provider, a source archive through its entry keys.
LinkReport CheckItems(const PackOptions& o, const std::vector<Item>& items,
                      SourceArchive& sourceZip) {
  constexpr uint64_t kMaxPage = 64ull << 20;  // larger files are not pages to read
  ContentView view;
  std::map<std::string, const Item*> byName;
  for (const Item& item : items) {
    if (item.bytes) continue;  // control entries
    view.names.push_back(item.name);
    byName[item.name] = &item;
  }
  view.read = [&](const std::string& name) -> std::optional<std::string> {
    auto it = byName.find(name);
    if (it == byName.end()) return std::nullopt;
    const Item& item = *it->second;
    if (item.entry) return sourceZip.ReadSmall(*item.entry, kMaxPage);
    if (item.size > kMaxPage) return std::nullopt;
    std::ifstream in(item.file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (!in) return std::nullopt;
    return text;
  };
  std::error_code ec;
  if (fs::is_directory(o.source, ec)) {
    // Pages link the same files over and over: each path is resolved once.
    auto folder = std::make_shared<storage::HttpFolderProvider>(o.source);
    auto known = std::make_shared<std::map<std::string, bool>>();
    view.has = [folder, known](const std::string& path) {
      auto [it, added] = known->try_emplace(path, false);
      if (added) it->second = !folder->Resolve(path).empty();
      return it->second;
    };
  } else {
    view.has = [&sourceZip](const std::string& path) {
      for (const std::u16string& name : storage::HttpZipProvider::CandidateNames(path)) {
        const amzip::Entry* e = sourceZip.Zip().FindEntry(name);
        // As the provider: a folder's record and the control entries are not content.
        bool control = e && e->name[0] == u'.' && e->name.find_first_of(u"\\/") == e->name.npos;
        if (e && !e->name.empty() && e->name.back() != u'\\' && !control) return true;
      }
      return false;
    };
  }
  return CheckLinks(view);
}

// The icon and version texts of a Windows runner, set in place.
std::string Brand(const PackOptions& o, std::vector<uint8_t>& stub) {
  Branding branding{std::nullopt, o.name, o.version, o.company, std::nullopt};
  if (!o.icon.empty()) {
    auto file = ReadWhole(o.icon);
    if (!file || !fs::is_regular_file(o.icon)) return "cannot read the icon " + Show(o.icon);
    branding.icon.emplace();
    if (auto why = MakeIconImages(*file, *branding.icon); !why.empty())
      return "cannot read the icon " + Show(o.icon) + " as a picture (" + why +
             "); give a .ico, PNG, JPEG or BMP file";
  }
  if (!branding.Any()) return {};
  if (stub.size() < 2 || stub[0] != 'M' || stub[1] != 'Z')
    return "--icon, --name, --version and --company need a Windows runner";
  branding.fileName = o.name ? *o.name + ".exe" : Utf8Name(o.output.filename());
  if (auto why = ApplyBranding(stub, branding); !why.empty())
    return "cannot brand the runner " + Show(o.stub) + ": " + why;
  return {};
}

std::function<ReadFn()> FileOpener(const fs::path& path) {
  return [path]() -> ReadFn {
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    return [in](void* buffer, size_t len) -> int64_t {
      if (Interruption()) return -1;
      if (!*in) return in->eof() ? 0 : -1;
      in->read(static_cast<char*>(buffer), std::streamsize(len));
      if (in->bad()) return -1;
      return in->gcount();
    };
  };
}

// What the source certainly needs, checked before anything is compressed: the entry
// count, and the bytes of what is stored (media, raw copies, control texts) with every
// entry's headers; deflated files count nothing, since they may shrink to almost nothing.
std::string CheckFits(const std::vector<Item>& items, uint64_t maxArchive) {
  if (items.size() > kMaxEntries)
    return "the source holds too many files: a program file holds at most " +
           std::to_string(kMaxEntries) + " entries, control entries included; leave some out";
  uint64_t certain = 22;  // the end record
  for (const Item& i : items) {
    certain += 30 + 46 + 2 * i.name.size();  // local and central header with the name
    bool stored = !i.entry
                      ? (i.bytes || IsPrecompressedExtension(LowerExtension(i.name)))
                      : IsPrecompressedExtension(LowerExtension(i.name)) || i.entry->method == 0;
    if (i.entry && !stored) certain += i.entry->compressedSize;  // copied as it is
    if (stored) certain += i.size;
  }
  if (certain > maxArchive)
    return "the content does not fit: the archive would be larger than " +
           std::to_string(maxArchive) + " bytes (at least " + std::to_string(certain) +
           " bytes are stored as they are); leave some files out";
  return {};
}

// Sets the header checksum of the Windows program written to file; field: its offset.
bool WriteChecksum(std::fstream& file, size_t field) {
  PeChecksum checksum(field);
  std::vector<char> buffer(1 << 20);
  file.clear();
  file.seekg(0);
  while (file.read(buffer.data(), std::streamsize(buffer.size())) || file.gcount() > 0)
    checksum.Add(reinterpret_cast<const uint8_t*>(buffer.data()), size_t(file.gcount()));
  if (file.bad()) return false;
  file.clear();
  uint32_t value = checksum.Value();
  char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
  file.seekp(std::streamoff(field));
  return bool(file.write(bytes, 4));
}

}  // namespace

bool IsPrecompressedExtension(const std::string& e) { return storage::IsStoredExtension(e); }

std::string ControlOptionsError(const PackOptions& o) {
  if (o.useIe && !IsDecimalInt32(*o.useIe))
    return "--use-ie needs a whole number, got '" + *o.useIe + "'";
  if (o.port && !IsControlPort(*o.port))
    return "--port needs -1 (any free port), 0 (the user's HttpPort setting, else any free "
           "port) or a port from 1 to 65535, got '" +
           *o.port + "'";
  if (o.crossOrigin && *o.crossOrigin != kCrossOriginAny)
    return "--cross-origin takes 'any' (every web page may read the content), got '" +
           *o.crossOrigin + "'";
  return {};
}

PackResult Check(const PackOptions& o) {
  PackResult result;
  std::error_code ec;
  if (o.source.empty() || !fs::exists(o.source, ec)) {
    result.error = "the source " + Show(o.source) + " does not exist";
    return result;
  }
  auto start = std::chrono::steady_clock::now();
  std::vector<Item> items;
  SourceArchive sourceZip;
  result.error = fs::is_directory(o.source, ec)
                     ? CollectFolder(o.source, {}, items, result.warnings)
                     : CollectZip(o.source, sourceZip, items);
  if (!result.error.empty()) return result;
  LinkReport report = CheckItems(o, items, sourceZip);
  result.ok = true;
  result.warnings.insert(result.warnings.end(), report.warnings.begin(), report.warnings.end());
  result.entryCount = items.size();
  result.pagesChecked = report.pages;
  result.linksChecked = report.references;
  result.stats.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

std::string FormatReport(const fs::path& output, const PackResult& r) {
  const PackStats& s = r.stats;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", s.seconds);
  std::string text = "contentexe-pack: wrote " + Show(output) + " in " + seconds + "\n";
  text += "  entries   " + std::to_string(s.entries) + ": " + std::to_string(s.deflated) +
          " deflated, " + std::to_string(s.stored) + " stored\n";
  text += "  bytes     " + Progress::FormatBytes(s.bytesIn) + " in, " +
          Progress::FormatBytes(s.bytesOut) + " out (deflated " +
          Progress::FormatBytes(s.deflatedIn) + " to " + Progress::FormatBytes(s.deflatedOut) +
          ", stored " + Progress::FormatBytes(s.storedBytes) + ")\n";
  text += "  warnings  " + std::to_string(r.warnings.size()) + "\n";
  return text;
}

std::string CheckStub(const std::vector<uint8_t>& stub) {
  bool pe = stub.size() >= 2 && stub[0] == 'M' && stub[1] == 'Z';
  bool elf =
      stub.size() >= 4 && stub[0] == 0x7F && stub[1] == 'E' && stub[2] == 'L' && stub[3] == 'F';
  if (!pe && !elf) return "is not a program (neither a Windows nor an ELF executable)";
  // The needle is rebuilt at run time from its reversed form so that the packer itself
  // does not carry the marker and pass as a runner.
  static constexpr auto kReversed = content::ReversedRunnerMarker();
  std::string marker(kReversed.rbegin(), kReversed.rend());
  if (std::search(stub.begin(), stub.end(), marker.begin(), marker.end()) == stub.end())
    return "is not a contentexe runner (its marker is missing)";
  if (content::LocateArchiveInBytes(stub.data(), stub.size()))
    return "already carries content; pack from the plain runner instead";
  return {};
}

PackResult Pack(const PackOptions& o) {
  PackResult result;
  auto started = std::chrono::steady_clock::now();
  std::error_code ec;
  auto fail = [&result](std::string message) {
    result.error = std::move(message);
    return result;
  };
  auto interrupted = [&] {
    return fail(std::string("interrupted by ") + Interruption() + "; nothing was written");
  };
  if (o.source.empty() || !fs::exists(o.source, ec))
    return fail("the source " + Show(o.source) + " does not exist");
  if (o.output.empty()) return fail("no output given (-o OUTPUT)");
  if (fs::is_directory(o.output, ec)) return fail("the output " + Show(o.output) + " is a folder");
  if (fs::exists(o.output, ec) && !o.force)
    return fail("the output " + Show(o.output) + " exists; pass --force to replace it");

  // The source first: its names, sizes and count refuse it before any work is done.
  std::vector<Item> items;
  SourceArchive sourceZip;
  fs::path temp = o.output;
  temp += ".tmp-" + std::to_string(std::random_device()());
  std::string error = fs::is_directory(o.source, ec)
                          ? CollectFolder(o.source, {o.output, temp}, items, result.warnings)
                          : CollectZip(o.source, sourceZip, items);
  if (!error.empty()) return fail(error);
  if (Interruption()) return interrupted();
  if (items.empty()) return fail("the source " + Show(o.source) + " holds no files");
  // Links are checked before anything is written: with --strict a warning stops here.
  LinkReport links = CheckItems(o, items, sourceZip);
  result.warnings.insert(result.warnings.end(), links.warnings.begin(), links.warnings.end());
  result.pagesChecked = links.pages;
  result.linksChecked = links.references;
  if (o.strict && !result.warnings.empty()) {
    result.strictRefused = true;
    return fail("the link check gave " + std::to_string(result.warnings.size()) +
                " warning(s) and --strict is set: nothing was written");
  }
  if (auto why = AddControlEntries(o, items); !why.empty()) return fail(why);
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.name < b.name; });
  for (size_t i = 1; i < items.size(); ++i)
    if (items[i].name == items[i - 1].name)
      return fail("the source holds '" + items[i].name + "' twice");
  std::vector<std::string> names;
  for (const Item& i : items) names.push_back(i.name);
  std::vector<std::string> collisions = CaseCollisions(names);
  if (!collisions.empty()) {
    std::string list;
    for (size_t i = 0; i < collisions.size() && i < 5; ++i) list += (i ? "; " : "") + collisions[i];
    if (collisions.size() > 5) list += "; and " + std::to_string(collisions.size() - 5) + " more";
    result.warnings.push_back(
        "names that differ only in case, of which the program serves one each (it matches "
        "names ignoring case): " +
        list);
  }

  auto stub = ReadWhole(o.stub);
  if (!stub || !fs::is_regular_file(o.stub, ec))
    return fail("cannot read the runner " + Show(o.stub) + " (choose one with --stub)");
  if (auto why = CheckStub(*stub); !why.empty())
    return fail("the runner " + Show(o.stub) + " " + why);
  if (DropSignature(*stub))
    result.warnings.push_back(
        "the runner " + Show(o.stub) +
        " was signed; the signature was removed, since adding content "
        "breaks it: sign the output after packing (README: \"Signing a packed program\")");
  if (auto why = Brand(o, *stub); !why.empty()) return fail(why);

  // The whole program file must stay below 4 GiB, footer included.
  uint64_t room = content::kMaxProgramFileSize -
                  std::min<uint64_t>(content::kMaxProgramFileSize, stub->size() + 16);
  uint64_t maxArchive = std::min(o.maxArchiveSize, room);
  if (auto why = CheckFits(items, maxArchive); !why.empty()) return fail(why);
  uint64_t totalBytes = 0;
  for (const Item& i : items) {
    totalBytes += i.size;
    // Opening each file now reports an unreadable one before anything is written.
    if (!i.file.empty() && !std::ifstream(i.file, std::ios::binary))
      return fail("cannot read " + Show(i.file) + "; check its permissions");
  }
  if (Interruption()) return interrupted();

  std::fstream out(temp, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  auto discard = [&](std::string message) {
    out.close();
    std::error_code ignored;
    fs::remove(temp, ignored);
    if (Interruption())
      message = std::string("interrupted by ") + Interruption() + "; the unfinished " + Show(temp) +
                " was removed";
    return fail(std::move(message));
  };
  if (!out) return discard("cannot create " + Show(temp) + " beside the output");
  out.write(reinterpret_cast<const char*>(stub->data()), std::streamsize(stub->size()));
  ZipWriter writer(out, maxArchive);
  Progress progress(o.progress, totalBytes, items.size());
  auto onBytes = [&progress](uint64_t n) { progress.AddBytes(n); };
  for (const Item& item : items) {
    bool ok;
    if (item.bytes) {
      ok = writer.AddBytes(item.name, Method::Stored, item.dosTime, *item.bytes);
    } else if (item.entry && item.entry->method == 8 &&
               IsPrecompressedExtension(LowerExtension(item.name))) {
      // Media are stored so that ranges read them in place: a deflated one from a ZIP
      // source is inflated once, here, through the entry stream (which checks its CRC-32).
      const amzip::Entry& e = *item.entry;
      ok = writer.Add(
          item.name, Method::Stored, item.dosTime,
          [&sourceZip, &e]() -> ReadFn {
            auto stream = sourceZip.Stream(e);
            return [stream](void* b, size_t n) -> int64_t {
              uint32_t got = 0;
              if (Interruption()) return -1;
              if (!stream || !stream->Read(b, uint32_t(std::min<size_t>(n, 1u << 30)), got))
                return -1;
              return int64_t(got);
            };
          },
          onBytes);
    } else if (item.entry) {
      // The compressed bytes are copied as they are, from the mapped source.
      const amzip::Entry& e = *item.entry;
      auto at = std::make_shared<const uint8_t*>(sourceZip.Data(e));
      ok = writer.AddRaw(item.name, Method(e.method), item.dosTime, e.crc32, e.compressedSize,
                         e.uncompressedSize, [at](void* b, size_t n) -> int64_t {
                           std::memcpy(b, *at, n);
                           *at += n;
                           return int64_t(n);
                         });
      if (ok) progress.AddBytes(item.size);
    } else {
      Method method =
          IsPrecompressedExtension(LowerExtension(item.name)) ? Method::Stored : Method::Deflated;
      ok = writer.Add(item.name, method, item.dosTime, FileOpener(item.file), onBytes);
    }
    if (!ok || Interruption()) return discard(writer.Error());
    progress.FileDone();
    PackStats& st = result.stats;
    st.bytesIn += item.size;
    if (writer.LastMethod() == Method::Deflated) {
      ++st.deflated;
      st.deflatedIn += item.size;
      st.deflatedOut += writer.LastCompressedSize();
    } else {
      ++st.stored;
      st.storedBytes += item.size;
    }
  }
  if (!writer.Finish()) return discard(writer.Error());
  auto footer = content::MakeFooter(uint32_t(writer.GetSize()));
  out.write(reinterpret_cast<const char*>(footer.data()), std::streamsize(footer.size()));
  out.close();
  if (!out) return discard("cannot write " + Show(temp));
  progress.Finish();
  // A deflated entry rewritten as stored can leave bytes past the footer: cut them.
  fs::resize_file(temp, stub->size() + writer.GetSize() + footer.size(), ec);
  if (ec) return discard("cannot write " + Show(temp) + ": " + ec.message());
  // A Windows program's header checksum covers the whole file, content included.
  if (size_t field = ChecksumOffset(*stub)) {
    out.open(temp, std::ios::in | std::ios::out | std::ios::binary);
    if (!out || !WriteChecksum(out, field)) return discard("cannot write " + Show(temp));
    out.close();
    if (!out) return discard("cannot write " + Show(temp));
  }
  if (Interruption()) return discard("");
  fs::permissions(temp,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  fs::rename(temp, o.output, ec);
  if (ec && o.force) {
    // Windows cannot rename over an existing file here; replace it in two steps.
    std::error_code removeError;
    fs::remove(o.output, removeError);
    ec.clear();
    fs::rename(temp, o.output, ec);
  }
  if (ec) return discard("cannot create " + Show(o.output) + ": " + ec.message());
  result.ok = true;
  result.archiveSize = writer.GetSize();
  result.entryCount = writer.GetEntryCount();
  result.stats.entries = result.entryCount;
  result.stats.bytesOut = result.archiveSize;
  result.stats.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

}  // namespace pack
