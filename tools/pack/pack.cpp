#include "tools/pack/pack.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>

#include "content/content_type.h"
#include "content/footer.h"
#include "content/runner_marker.h"
#include "tools/pack/branding.h"
#include "tools/pack/control_entries.h"
#include "tools/pack/progress.h"
#include "tools/pack/source_archive.h"
#include "tools/pack/zip_writer.h"
#include "utils/file/mapped_file.h"

namespace pack {
namespace fs = std::filesystem;
namespace {

std::string Show(const fs::path& path) {
  auto text = path.u8string();
  return "'" + std::string(text.begin(), text.end()) + "'";
}

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

bool SamePath(const fs::path& a, const fs::path& b) {
  std::error_code ec1, ec2;
  return fs::weakly_canonical(a, ec1) == fs::weakly_canonical(b, ec2) && !ec1 && !ec2;
}

std::string CollectFolder(const fs::path& root, const std::vector<fs::path>& skip,
                          std::vector<Item>& items) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) return "cannot read the source folder " + Show(root) + ": " + ec.message();
  for (; it != end; it.increment(ec)) {
    if (ec) return "cannot read the source folder " + Show(root) + ": " + ec.message();
    const fs::path& path = it->path();
    std::error_code statError;
    auto status = fs::status(path, statError);
    if (fs::is_directory(status)) continue;
    if (!fs::is_regular_file(status))
      return "cannot read " + Show(path) + ": " +
             (statError ? statError.message() : std::string("not a regular file"));
    if (std::any_of(skip.begin(), skip.end(), [&](const fs::path& p) { return SamePath(p, path); }))
      continue;
    Item item;
    item.name = Utf8Name(fs::relative(path, root, ec));
    if (ec || item.name.empty()) return "cannot name " + Show(path) + " inside the source";
    item.file = path;
    item.size = fs::file_size(path, ec);
    if (ec) return "cannot read " + Show(path) + ": " + ec.message();
    item.dosTime = DosDateTimeOf(fs::last_write_time(path, ec));
    if (ec) return "cannot read " + Show(path) + ": " + ec.message();
    // Opening it now reports an unreadable file before anything is written.
    if (!std::ifstream(path, std::ios::binary)) return "cannot read " + Show(path);
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
  for (auto [name, value] : controls) {
    if (value == &o.useIe && !*value && !has(name)) value = &defaultBrowser;
    if (!*value) continue;
    if (value == &o.useIe && !IsDecimalInt32(**value))
      return "--use-ie needs a whole number, got '" + **value + "'";
    if (value == &o.port && !IsControlPort(**value))
      return "--port needs -1 (any free port), 0 (the user's HttpPort setting, else any free "
             "port) or a port from 1 to 65535, got '" +
             **value + "'";
    if (value == &o.crossOrigin && **value != kCrossOriginAny)
      return "--cross-origin takes 'any' (every web page may read the content), got '" +
             **value + "'";
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

// The icon and version texts of a Windows runner, set in place.
std::string Brand(const PackOptions& o, std::vector<uint8_t>& stub) {
  Branding branding{std::nullopt, o.name, o.version, o.company};
  if (!o.icon.empty()) {
    branding.icon = ReadWhole(o.icon);
    if (!branding.icon) return "cannot read the icon " + Show(o.icon);
  }
  if (!branding.Any()) return {};
  if (stub.size() < 2 || stub[0] != 'M' || stub[1] != 'Z')
    return "--icon, --name, --version and --company need a Windows runner";
  if (auto why = ApplyBranding(stub, branding); !why.empty())
    return "cannot brand the runner " + Show(o.stub) + ": " + why;
  return {};
}

std::function<ReadFn()> FileOpener(const fs::path& path) {
  return [path]() -> ReadFn {
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    return [in](void* buffer, size_t len) -> int64_t {
      if (!*in) return in->eof() ? 0 : -1;
      in->read(static_cast<char*>(buffer), std::streamsize(len));
      if (in->bad()) return -1;
      return in->gcount();
    };
  };
}

}  // namespace

bool IsPrecompressedExtension(const std::string& e) { return storage::IsStoredExtension(e); }

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

fs::path DefaultStub() {
  fs::path self(utils::ProgramFilePath());
  bool windows = self.extension() == ".exe" || self.extension() == ".EXE";
  return self.parent_path() / (windows ? "contentexe.exe" : "contentexe");
}

PackResult Pack(const PackOptions& o) {
  PackResult result;
  std::error_code ec;
  auto fail = [&result](std::string message) {
    result.error = std::move(message);
    return result;
  };
  if (o.source.empty() || !fs::exists(o.source, ec))
    return fail("the source " + Show(o.source) + " does not exist");
  if (o.output.empty()) return fail("no output given (-o OUTPUT)");
  if (fs::is_directory(o.output, ec)) return fail("the output " + Show(o.output) + " is a folder");
  if (fs::exists(o.output, ec) && !o.force)
    return fail("the output " + Show(o.output) + " exists; pass --force to replace it");

  auto stub = ReadWhole(o.stub);
  if (!stub || !fs::is_regular_file(o.stub, ec))
    return fail("cannot read the runner " + Show(o.stub) + " (choose one with --stub)");
  if (auto why = CheckStub(*stub); !why.empty())
    return fail("the runner " + Show(o.stub) + " " + why);
  if (auto why = Brand(o, *stub); !why.empty()) return fail(why);

  std::vector<Item> items;
  SourceArchive sourceZip;
  fs::path temp = o.output;
  temp += ".tmp-" + std::to_string(std::random_device()());
  std::string error = fs::is_directory(o.source, ec)
                          ? CollectFolder(o.source, {o.output, temp}, items)
                          : CollectZip(o.source, sourceZip, items);
  if (!error.empty()) return fail(error);
  if (items.empty()) return fail("the source " + Show(o.source) + " holds no files");
  if (!std::any_of(items.begin(), items.end(),
                   [](const Item& i) { return i.name == "index.html"; }))
    result.warnings.push_back("the source has no index.html: the start page will not be found");
  if (auto why = AddControlEntries(o, items); !why.empty()) return fail(why);
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.name < b.name; });
  for (size_t i = 1; i < items.size(); ++i)
    if (items[i].name == items[i - 1].name)
      return fail("the source holds '" + items[i].name + "' twice");

  uint64_t totalBytes = 0;
  for (const Item& i : items) totalBytes += i.size;
  // The whole program file must stay below 4 GiB, footer included.
  uint64_t room = content::kMaxProgramFileSize -
                  std::min<uint64_t>(content::kMaxProgramFileSize, stub->size() + 16);
  uint64_t maxArchive = std::min(o.maxArchiveSize, room);

  std::fstream out(temp, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  auto discard = [&](std::string message) {
    out.close();
    std::error_code ignored;
    fs::remove(temp, ignored);
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
    if (!ok) return discard(writer.Error());
    progress.FileDone();
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
  return result;
}

}  // namespace pack
