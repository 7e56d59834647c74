#include "tools/pack/branding.h"

#include <algorithm>
#include <set>

#include "tools/pack/pe_resources.h"
#include "tools/pack/le_bytes.h"
#include "utils/encoding.h"

namespace pack {
namespace {

void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> 8 * i);
}
void Pad4(std::vector<uint8_t>& b) { b.resize((b.size() + 3) & ~size_t{3}); }

constexpr uint16_t kEnglishUs = 1033;

// ---- version resource: a tree of (key, type, value, children) blocks ----

struct VersionNode {
  std::u16string key;
  uint16_t type = 1;         // 1 text, 0 binary
  uint16_t valueLength = 0;  // as stored: units for text, bytes for binary
  std::vector<uint8_t> value;
  std::vector<VersionNode> children;
};

// The block at at, which must end by end; depth counts the blocks around it.
bool ParseNode(const std::vector<uint8_t>& b, size_t at, size_t end, VersionNode& node,
               int depth = 0) {
  if (at + 6 > end || depth > 8) return false;
  size_t length = Get16(b, at);
  if (length < 6 || at + length > end) return false;
  end = at + length;
  node.valueLength = Get16(b, at + 2);
  node.type = Get16(b, at + 4);
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > end) return false;
    char16_t c = Get16(b, p);
    if (!c) break;
    node.key += c;
  }
  p = (p + 2 - at + 3) / 4 * 4 + at;
  size_t valueBytes = node.type == 1 ? size_t{node.valueLength} * 2 : node.valueLength;
  valueBytes = std::min(valueBytes, end > p ? end - p : 0);
  if (p < end) node.value.assign(b.begin() + p, b.begin() + p + valueBytes);
  for (p = (p + valueBytes - at + 3) / 4 * 4 + at; p + 6 <= end;) {
    VersionNode child;
    if (!ParseNode(b, p, end, child, depth + 1)) return false;
    p += (Get16(b, p) + 3) & ~3;
    node.children.push_back(std::move(child));
  }
  return true;
}

void WriteNode(const VersionNode& node, std::vector<uint8_t>& out) {
  size_t start = out.size();
  Add16(out, 0);
  Add16(out, node.valueLength);
  Add16(out, node.type);
  for (char16_t c : node.key) Add16(out, c);
  Add16(out, 0);
  Pad4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const VersionNode& child : node.children) {
    Pad4(out);
    WriteNode(child, out);
  }
  size_t length = out.size() - start;
  out[start] = static_cast<uint8_t>(length);
  out[start + 1] = static_cast<uint8_t>(length >> 8);
}

VersionNode* Child(VersionNode& node, const std::u16string& key) {
  for (VersionNode& c : node.children)
    if (c.key == key) return &c;
  return nullptr;
}

VersionNode TextNode(const std::u16string& key, const std::u16string& text) {
  VersionNode node{key, 1, static_cast<uint16_t>(text.size() + 1), {}, {}};
  for (char16_t c : text) Add16(node.value, c);
  Add16(node.value, 0);
  return node;
}

VersionNode NewVersionInfo() {
  VersionNode root{u"VS_VERSION_INFO", 0, 52, std::vector<uint8_t>(52), {}};
  Set32(root.value, 0, 0xFEEF04BD);   // signature
  Set32(root.value, 4, 0x00010000);   // structure version
  Set32(root.value, 32, 0x00040004);  // VOS_NT_WINDOWS32
  Set32(root.value, 36, 1);           // VFT_APP
  VersionNode strings{u"StringFileInfo", 1, 0, {}, {}};
  strings.children.push_back({u"040904b0", 1, 0, {}, {}});
  VersionNode var{u"VarFileInfo", 1, 0, {}, {}};
  VersionNode translation{u"Translation", 0, 4, {}, {}};
  Add16(translation.value, kEnglishUs);
  Add16(translation.value, 1200);  // UTF-16
  var.children.push_back(std::move(translation));
  root.children = {std::move(strings), std::move(var)};
  return root;
}

// "1.2.3.4" (one to four numbers) as the two 32-bit halves of a fixed version.
bool NumericVersion(const std::string& text, uint32_t& high, uint32_t& low) {
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t count = 0, digits = 0;
  for (char c : text + ".") {
    if (c == '.') {
      if (digits == 0 || count == 4) return false;
      ++count;
      digits = 0;
    } else if (c >= '0' && c <= '9' && count < 4) {
      parts[count] = parts[count] * 10 + uint32_t(c - '0');
      if (++digits > 5 || parts[count] > 0xFFFF) return false;
    } else {
      return false;
    }
  }
  high = parts[0] << 16 | parts[1];
  low = parts[2] << 16 | parts[3];
  return true;
}

std::string BrandVersion(std::vector<uint8_t>& data, const Branding& b) {
  VersionNode root;
  if (data.empty()) {
    root = NewVersionInfo();
  } else if (!ParseNode(data, 0, data.size(), root) || root.key != u"VS_VERSION_INFO") {
    return "the program's version resource is malformed";
  }
  std::vector<std::pair<std::u16string, const std::optional<std::string>*>> texts = {
      {u"FileDescription", &b.name}, {u"ProductName", &b.name},
      {u"FileVersion", &b.version},  {u"ProductVersion", &b.version},
      {u"CompanyName", &b.company},  {u"OriginalFilename", &b.fileName}};
  VersionNode* strings = Child(root, u"StringFileInfo");
  if (!strings) {
    root.children.insert(root.children.begin(), NewVersionInfo().children[0]);
    strings = &root.children[0];
  }
  if (strings->children.empty()) strings->children.push_back({u"040904b0", 1, 0, {}, {}});
  for (VersionNode& table : strings->children) {
    for (const auto& [key, value] : texts) {
      if (!*value) continue;
      std::u16string text = utils::Utf8ToWide(**value);
      if (VersionNode* existing = Child(table, key))
        *existing = TextNode(key, text);
      else
        table.children.push_back(TextNode(key, text));
    }
  }
  uint32_t high = 0, low = 0;
  if (b.version && root.value.size() >= 52 && Get32(root.value, 0) == 0xFEEF04BD &&
      NumericVersion(*b.version, high, low)) {
    Set32(root.value, 8, high);  // file version
    Set32(root.value, 12, low);
    Set32(root.value, 16, high);  // product version
    Set32(root.value, 20, low);
  }
  std::vector<uint8_t> out;
  WriteNode(root, out);
  if (out.size() > 0xFFFF) return "the version texts are too long";
  data = std::move(out);
  return {};
}

// Icon ids that a group resource lists.
std::set<uint16_t> GroupIconIds(const std::vector<uint8_t>& group) {
  std::set<uint16_t> ids;
  if (group.size() < 6) return ids;
  size_t count = Get16(group, 4);
  for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i)
    ids.insert(Get16(group, 6 + 14 * i + 12));
  return ids;
}

bool IsGroupOne(const Resource& r) {
  return r.type == ResourceId{kRtGroupIcon, {}} && r.name == ResourceId{1, {}};
}

void BrandIcon(std::vector<Resource>& list, const std::vector<IconImage>& images) {
  // The icons that only the replaced group lists go; the others stay.
  std::set<uint16_t> dropped, kept;
  uint16_t language = kEnglishUs;
  std::vector<uint16_t> groupLanguages;
  for (const Resource& r : list) {
    if (r.type != ResourceId{kRtGroupIcon, {}}) continue;
    auto ids = GroupIconIds(r.data);
    (IsGroupOne(r) ? dropped : kept).insert(ids.begin(), ids.end());
    if (IsGroupOne(r)) groupLanguages.push_back(r.language);
  }
  if (!groupLanguages.empty())
    language = groupLanguages[0];
  else
    groupLanguages.push_back(language);
  for (uint16_t id : kept) dropped.erase(id);
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Resource& r) {
                              return IsGroupOne(r) ||
                                     (r.type == ResourceId{kRtIcon, {}} && !r.name.IsName() &&
                                      dropped.count(r.name.id));
                            }),
             list.end());
  std::set<uint16_t> used;
  for (const Resource& r : list)
    if (r.type == ResourceId{kRtIcon, {}} && !r.name.IsName()) used.insert(r.name.id);
  std::vector<uint8_t> group;
  Add16(group, 0);
  Add16(group, 1);
  Add16(group, static_cast<uint32_t>(images.size()));
  uint16_t next = 1;
  for (const IconImage& image : images) {
    while (used.count(next)) ++next;
    used.insert(next);
    group.insert(group.end(), {image.width, image.height, image.colors, 0});
    Add16(group, image.planes);
    Add16(group, image.bitCount);
    Add32(group, static_cast<uint32_t>(image.data.size()));
    Add16(group, next);
    list.push_back({{kRtIcon, {}}, {next, {}}, language, 0, image.data});
  }
  for (uint16_t l : groupLanguages) list.push_back({{kRtGroupIcon, {}}, {1, {}}, l, 0, group});
}

}  // namespace

std::string ApplyBranding(std::vector<uint8_t>& program, const Branding& b) {
  for (const auto* text : {&b.name, &b.version, &b.company, &b.fileName})
    if (*text && !utils::IsValidUtf8(**text)) return "a version text is not valid UTF-8";
  std::vector<Resource> list;
  std::string error;
  if (!ReadResources(program, list, error)) return error;
  if (b.icon) BrandIcon(list, *b.icon);
  if (b.name || b.version || b.company || b.fileName) {
    bool found = false;
    for (Resource& r : list) {
      if (r.type != ResourceId{kRtVersion, {}}) continue;
      found = true;
      if (auto why = BrandVersion(r.data, b); !why.empty()) return why;
    }
    if (!found) {
      Resource version{{kRtVersion, {}}, {1, {}}, kEnglishUs, 0, {}};
      if (auto why = BrandVersion(version.data, b); !why.empty()) return why;
      list.push_back(std::move(version));
    }
  }
  return WriteResources(program, list);
}

}  // namespace pack
