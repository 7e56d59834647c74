#include "tools/pack/source_tree.h"

#include <algorithm>
#include <map>

#include "content/folder_provider.h"
#include "utils/encoding.h"
#include "zip/entry_key.h"

namespace pack {
namespace fs = std::filesystem;
namespace {

std::string Quote(const fs::path& path) { return "'" + EscapedPath(path) + "'"; }

// Whether one file or folder name can be carried as UTF-8: POSIX names are bytes, which
// need not be UTF-8; Windows names are UTF-16, which can hold a lone surrogate.
bool IsUnicode(const std::string& bytes) { return utils::IsValidUtf8(bytes); }
bool IsUnicode(const std::wstring& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    unsigned unit = unsigned(units[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() &&
        unsigned(units[i + 1]) >= 0xDC00 && unsigned(units[i + 1]) <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}
bool NameIsUnicode(const fs::path& name) { return IsUnicode(name.native()); }

std::string Utf8(const fs::path& name) {
  auto text = name.u8string();
  return std::string(text.begin(), text.end());
}

// A path's bytes: POSIX paths as they are, Windows paths as UTF-8.
std::string NativeBytes(const fs::path&, const std::string& native) { return native; }
std::string NativeBytes(const fs::path& path, const std::wstring&) {
  try {
    return Utf8(path);
  } catch (const std::exception&) {  // a lone surrogate cannot be converted
    return "(a name that is not valid UTF-16)";
  }
}

struct Walker {
  const fs::path& root;
  fs::path rootCanonical;
  std::vector<fs::path> skip;  // canonical
  const SourceLimits& limits;
  std::vector<SourceFile>& files;
  std::vector<fs::path> linksOut;
  std::vector<fs::path> stack;  // canonical folders being walked, outermost first

  // One stat a file: the walk is what refuses a source too large before any work.
  std::string AddFile(const fs::path& path, const fs::path& canonical, const std::string& name) {
    if (std::find(skip.begin(), skip.end(), canonical) != skip.end()) return {};
    std::error_code ec;
    SourceFile file;
    file.name = name;
    file.path = path;
    file.size = fs::file_size(canonical, ec);
    if (ec) return "cannot read " + Quote(path) + ": " + ec.message();
    if (file.size > limits.maxFileSize)
      return Quote(path) + " is too large: " + std::to_string(file.size) +
             " bytes, and a program file holds files of at most " +
             std::to_string(limits.maxFileSize) + " bytes; leave it out or split it";
    if (files.size() >= limits.maxFiles)
      return "the source holds too many files: a program file holds at most " +
             std::to_string(limits.maxFiles) + " (found more by " + Quote(path) +
             "); leave some out or pack them into fewer files";
    files.push_back(std::move(file));
    return {};
  }

  // canonical: the folder's own path with every link resolved.
  std::string Folder(const fs::path& folder, const fs::path& canonical, const std::string& prefix) {
    if (std::find(stack.begin(), stack.end(), canonical) != stack.end())
      return Quote(folder) + " leads back to " + Quote(canonical) +
             ", a folder that holds it (a link loop); remove the link";
    stack.push_back(canonical);
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) return "cannot read the folder " + Quote(folder) + ": " + ec.message();
    for (; it != end; it.increment(ec)) {
      if (ec) return "cannot read the folder " + Quote(folder) + ": " + ec.message();
      const fs::path& path = it->path();
      if (!NameIsUnicode(path.filename()))
        return "the name of " + Quote(path) +
               " is not valid UTF-8, which a program file needs for its names; rename it";
      std::string name = prefix + Utf8(path.filename());
      // The entry's type as the listing gave it, without a stat where the system tells.
      fs::file_type type = it->is_symlink(ec)               ? fs::file_type::symlink
                           : !ec && it->is_directory(ec)    ? fs::file_type::directory
                           : !ec && it->is_regular_file(ec) ? fs::file_type::regular
                                                            : fs::file_type::unknown;
      if (ec) return "cannot read " + Quote(path) + ": " + ec.message();
      fs::file_status status(type);
      fs::path target = canonical / path.filename();
      if (type == fs::file_type::symlink) {
        fs::path link = fs::read_symlink(path, ec);
        target = fs::canonical(path, ec);
        if (ec)
          return "the link " + Quote(path) + " to " + Quote(link) + " cannot be followed (" +
                 ec.message() + "); remove it or restore what it leads to";
        status = fs::status(target, ec);
        if (ec)
          return "cannot read " + Quote(target) + " (by " + Quote(path) + "): " + ec.message();
        if (!storage::HttpFolderProvider::IsWithin(rootCanonical, target)) linksOut.push_back(path);
      }
      std::string why;
      if (fs::is_directory(status))
        why = Folder(path, target, name + "/");
      else if (fs::is_regular_file(status))
        why = AddFile(path, target, name);
      else
        why = "cannot pack " + Quote(path) + ": it is neither a file nor a folder";
      if (!why.empty()) return why;
    }
    stack.pop_back();
    return {};
  }
};

}  // namespace

std::string ScanFolder(const fs::path& root, const std::vector<fs::path>& skip,
                       const SourceLimits& limits, std::vector<SourceFile>& files,
                       std::vector<std::string>& warnings) {
  std::error_code ec;
  Walker walker{root, fs::canonical(root, ec), {}, limits, files, {}, {}};
  if (ec) return "cannot read the source folder " + Quote(root) + ": " + ec.message();
  for (const fs::path& s : skip) {
    fs::path resolved = fs::weakly_canonical(s, ec);
    if (!ec) walker.skip.push_back(resolved);
  }
  if (auto why = walker.Folder(root, walker.rootCanonical, ""); !why.empty()) return why;
  if (!walker.linksOut.empty()) {
    std::string list;
    for (size_t i = 0; i < walker.linksOut.size() && i < 5; ++i)
      list += (i ? ", " : "") + Quote(walker.linksOut[i]);
    if (walker.linksOut.size() > 5)
      list += " and " + std::to_string(walker.linksOut.size() - 5) + " more";
    warnings.push_back("links leading outside the source were followed and their targets packed: " +
                       list);
  }
  return {};
}

std::string EscapedPath(const fs::path& path) {
  std::string text = NativeBytes(path, path.native());
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else if (length > 1 && i + length <= text.size() &&
               utils::IsValidUtf8(text.substr(i, length))) {
      out += text.substr(i, length);
      i += length;
      continue;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    }
    ++i;
  }
  return out;
}

std::vector<std::string> CaseCollisions(const std::vector<std::string>& names) {
  std::map<std::u16string, std::vector<std::string>> byKey;
  for (const std::string& name : names)
    byKey[amzip::NormalizeEntryKey(utils::Utf8ToWide(name))].push_back(name);
  std::vector<std::string> groups;
  for (auto& [key, same] : byKey) {
    if (same.size() < 2) continue;
    std::sort(same.begin(), same.end());
    std::string group;
    for (const std::string& name : same) group += (group.empty() ? "'" : ", '") + name + "'";
    groups.push_back(group);
  }
  return groups;
}

std::string EntryNameProblem(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return "it is absolute";
  if (name.size() >= 2 && name[1] == ':') return "it names a drive";
  for (size_t start = 0;;) {
    size_t end = name.find_first_of("/\\", start);
    std::string part =
        name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..")
      return "it holds an empty, \".\" or \"..\" part";
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

}  // namespace pack
