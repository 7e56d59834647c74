#include "tools/pack/pe_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "testing/pack_util.h"
#include "testing/png_builder.h"
#include "tools/pack/branding.h"

namespace pack {
namespace {

// A small program made by windres and GNU ld (testdata/make_branding_probe.sh): icon
// groups 1 and 2 (icons 1-2 and 3-4), a version resource, a manifest and RCDATA "NOTES",
// then .reloc, debug sections and a symbol table behind the resources.
std::vector<uint8_t> Probe() {
  return testing::ReadBytes(testing::SourceFile("tools/pack/testdata/branding_probe.exe"));
}
using testing::Le32;
using testing::Le16;

// The layout read straight from the headers.
struct Layout {
  struct Section {
    std::string name;
    uint32_t va, virtualSize, rawSize, raw;
  };
  std::vector<Section> sections;
  uint32_t sizeOfImage, resourceRva, resourceSize, relocRva, relocSize, symbols;

  explicit Layout(const std::vector<uint8_t>& b) {
    size_t pe = Le32(b, 0x3C), opt = pe + 24, dirs = opt + 112;  // PE32+
    symbols = Le32(b, pe + 12);
    sizeOfImage = Le32(b, opt + 56);
    resourceRva = Le32(b, dirs + 16), resourceSize = Le32(b, dirs + 20);
    relocRva = Le32(b, dirs + 40), relocSize = Le32(b, dirs + 44);
    size_t h = opt + Le16(b, pe + 20);
    for (int i = 0; i < Le16(b, pe + 6); ++i, h += 40) {
      std::string name(reinterpret_cast<const char*>(&b[h]), 8);
      sections.push_back(
          {name.c_str(), Le32(b, h + 12), Le32(b, h + 8), Le32(b, h + 16), Le32(b, h + 20)});
    }
  }
  const Section& Named(const std::string& name) const {
    return *std::find_if(sections.begin(), sections.end(),
                         [&](const Section& s) { return s.name == name; });
  }
};

std::vector<uint8_t> Bytes(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return std::vector<uint8_t>(b.begin() + at, b.begin() + at + n);
}

using Key = std::tuple<uint16_t, std::u16string, uint16_t, std::u16string, uint16_t>;
std::map<Key, std::vector<uint8_t>> ByKey(const std::vector<Resource>& list) {
  std::map<Key, std::vector<uint8_t>> map;
  for (const Resource& r : list)
    map[{r.type.id, r.type.name, r.name.id, r.name.name, r.language}] = r.data;
  return map;
}

std::vector<Resource> Read(const std::vector<uint8_t>& image) {
  std::vector<Resource> list;
  std::string error;
  EXPECT_TRUE(ReadResources(image, list, error)) << error;
  return list;
}

TEST(PeResources, ReadsTheTreeTheLinkerWrote) {
  auto resources = ByKey(Read(Probe()));
  std::vector<Key> keys;
  for (const auto& [key, data] : resources) keys.push_back(key);
  const std::vector<Key> expected = {
      {3, u"", 1, u"", 1033},  {3, u"", 2, u"", 1033},       {3, u"", 3, u"", 1033},
      {3, u"", 4, u"", 1033},  {10, u"", 0, u"NOTES", 1033}, {14, u"", 1, u"", 1033},
      {14, u"", 2, u"", 1033}, {16, u"", 1, u"", 1033},      {24, u"", 1, u"", 1033}};
  EXPECT_EQ(keys, expected);
  std::string notes = "kept as it is";
  notes += '\0';
  EXPECT_EQ(resources[expected[4]], std::vector<uint8_t>(notes.begin(), notes.end()));
}

// Growing and shrinking the section: every resource reads back unchanged, and what lies
// behind it (.reloc, debug sections, the symbol table) moves along intact.
TEST(PeResources, RewriteKeepsEveryResourceAndMovesWhatFollows) {
  std::vector<uint8_t> base = Probe();
  std::vector<Resource> list = Read(base);
  Resource big{{10, {}}, {0, u"BIG"}, 0, 0, std::vector<uint8_t>(20000, 0x5A)};
  std::vector<Resource> grown = list;
  grown.push_back(big);
  // Grown by five pages, then back to the probe's resources without its icons.
  for (const std::vector<Resource>& next :
       {grown, std::vector<Resource>(list.begin() + 4, list.end())}) {
    const Layout before(base);
    std::vector<uint8_t> image = base;
    ASSERT_EQ(WriteResources(image, next), "");
    EXPECT_EQ(ByKey(Read(image)), ByKey(next));
    const Layout after(image);
    const auto& rsrc = after.Named(".rsrc");
    EXPECT_EQ(after.resourceRva, rsrc.va);
    EXPECT_EQ(after.resourceSize, rsrc.virtualSize);
    EXPECT_EQ(rsrc.rawSize % 0x200, 0u);
    int64_t shift = int64_t(rsrc.rawSize) - before.Named(".rsrc").rawSize;
    int64_t vaShift = int64_t((rsrc.virtualSize + 0xFFF) & ~0xFFFu) -
                      ((before.Named(".rsrc").virtualSize + 0xFFF) & ~0xFFFu);
    EXPECT_EQ(std::abs(vaShift), 0x5000);
    for (size_t i = 0; i < before.sections.size(); ++i) {
      const auto &old = before.sections[i], &now = after.sections[i];
      bool behind = old.va > before.resourceRva;
      EXPECT_EQ(now.va, old.va + (behind ? vaShift : 0)) << old.name;
      if (old.name == ".rsrc") continue;
      EXPECT_EQ(Bytes(image, now.raw, now.rawSize), Bytes(base, old.raw, old.rawSize)) << old.name;
      EXPECT_EQ(now.raw, old.raw + (behind ? shift : 0)) << old.name;
    }
    EXPECT_EQ(after.relocRva, after.Named(".reloc").va);
    EXPECT_EQ(after.relocSize, before.relocSize);
    EXPECT_EQ(after.symbols, before.symbols + shift);
    EXPECT_EQ(Bytes(image, after.symbols, base.size() - before.symbols),
              Bytes(base, before.symbols, base.size() - before.symbols));
    EXPECT_EQ(image.size(), base.size() + shift);
    const auto& last = after.sections.back();
    EXPECT_EQ(after.sizeOfImage, (last.va + last.virtualSize + 0xFFF) & ~0xFFFu);
    base = image;
  }
}

TEST(PeResources, RefusesWhatItCannotRewriteAndLeavesItAlone) {
  const std::vector<uint8_t> probe = Probe();
  const std::vector<Resource> list = Read(probe);
  std::vector<Resource> grown = list;
  grown.push_back({{10, {}}, {7, {}}, 0, 0, std::vector<uint8_t>(9000, 1)});
  size_t pe = Le32(probe, 0x3C), dirs = pe + 24 + 112;
  auto refused = [&](std::vector<uint8_t> image, const std::string& why) {
    std::vector<uint8_t> copy = image;
    EXPECT_NE(WriteResources(image, grown).find(why), std::string::npos) << why;
    EXPECT_EQ(image, copy);
  };
  std::vector<uint8_t> signedImage = probe;
  signedImage[dirs + 32] = 0x10;  // a certificate table
  refused(signedImage, "signed");
  // .reloc made loadable and no longer the relocation directory's: it may not move.
  std::vector<uint8_t> pinned = probe;
  pinned[dirs + 40] = pinned[dirs + 41] = 0;
  size_t h = pe + 24 + Le16(probe, pe + 20) + 40 * 7;
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(&pinned[h]), 6), ".reloc");
  pinned[h + 39] &= ~0x02;  // not discardable
  refused(pinned, "cannot move");

  std::vector<Resource> out;
  std::string error;
  std::vector<uint8_t> cut(probe.begin(), probe.begin() + 0x1010);  // inside the tree
  EXPECT_FALSE(ReadResources(cut, out, error));
  EXPECT_FALSE(ReadResources(std::vector<uint8_t>(100, 'M'), out, error));
  EXPECT_EQ(error, "not a Windows program");
}

// The loader's sum: 16-bit words with end-around carry, the checksum field read as zero,
// an odd last byte a word of its own, the length added. Bytes come in pieces that split
// words.
TEST(PeChecksum, WordsWithCarryTheFieldAsZeroAndAnOddLastByte) {
  const std::vector<uint8_t> bytes = {0xFF, 0xFF, 0x02, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x07};
  PeChecksum sum(4);
  sum.Add(bytes.data(), 3);
  sum.Add(bytes.data() + 3, bytes.size() - 3);
  EXPECT_EQ(sum.Value(), 0x0002u + 0x0007u + 9u);  // 0xFFFF + 0x0002 carries to 0x0002
}

// ---- branding ----

// The text value of key in a version resource, found the way VerQueryValue walks a
// block: the key, its terminator, padding to 4 bytes, the value.
std::u16string VersionText(const std::vector<uint8_t>& data, const std::u16string& key) {
  for (size_t at = 0; at + 6 + 2 * key.size() < data.size(); at += 2) {
    size_t k = at + 6;
    bool match = true;
    for (size_t i = 0; i <= key.size() && match; ++i)
      match = Le16(data, k + 2 * i) == (i < key.size() ? key[i] : 0);
    if (!match) continue;
    std::u16string text;
    for (size_t v = (k + 2 * key.size() + 2 + 3) & ~size_t{3}; Le16(data, v); v += 2)
      text += char16_t(Le16(data, v));
    return text;
  }
  return u"(missing)";
}

TEST(Branding, SetsTheIconAndTheVersionTextsAndKeepsTheRest) {
  std::vector<uint8_t> image = Probe();
  auto before = ByKey(Read(image));
  Branding branding;
  branding.icon.emplace();
  ASSERT_EQ(MakeIconImages(testing::SolidPng(48, 255, 0, 0), *branding.icon), "");
  branding.name = "Atlas \xC3\xA9t\xC3\xA9";
  branding.version = "2.5.1";
  branding.company = "Acme";
  branding.fileName = "atlas.exe";
  ASSERT_EQ(ApplyBranding(image, branding), "");
  auto after = ByKey(Read(image));

  // Group 1 lists the new images, in order, under free ids; group 2 and its icons stay.
  const std::vector<uint8_t>& group = after[Key(14, u"", 1, u"", 1033)];
  const size_t count = branding.icon->size();
  ASSERT_EQ(group.size(), 6u + 14 * count);
  EXPECT_EQ(Le16(group, 4), count);
  std::set<uint16_t> ids;
  for (size_t i = 0; i < count; ++i) {
    const IconImage& icon = (*branding.icon)[i];
    size_t entry = 6 + 14 * i;
    EXPECT_EQ(group[entry], icon.width);
    EXPECT_EQ(Le16(group, entry + 6), 32);
    EXPECT_EQ(Le32(group, entry + 8), icon.data.size());
    EXPECT_EQ(after[Key(3, u"", Le16(group, entry + 12), u"", 1033)], icon.data);
    ids.insert(Le16(group, entry + 12));
  }
  EXPECT_EQ(ids.size(), count);
  EXPECT_EQ(ids.count(3) + ids.count(4), 0u) << "group 2's icons keep their ids";
  for (uint16_t id : {3, 4})
    EXPECT_EQ(after[Key(3, u"", id, u"", 1033)], before[Key(3, u"", id, u"", 1033)]);
  for (const Key& kept :
       {Key{14, u"", 2, u"", 1033}, Key{10, u"", 0, u"NOTES", 1033}, Key{24, u"", 1, u"", 1033}})
    EXPECT_EQ(after[kept], before[kept]);

  const std::vector<uint8_t>& version = after[Key(16, u"", 1, u"", 1033)];
  EXPECT_EQ(VersionText(version, u"FileDescription"), u"Atlas \u00e9t\u00e9");
  EXPECT_EQ(VersionText(version, u"ProductName"), u"Atlas \u00e9t\u00e9");
  EXPECT_EQ(VersionText(version, u"FileVersion"), u"2.5.1");
  EXPECT_EQ(VersionText(version, u"ProductVersion"), u"2.5.1");
  EXPECT_EQ(VersionText(version, u"CompanyName"), u"Acme");
  EXPECT_EQ(VersionText(version, u"OriginalFilename"), u"atlas.exe");
  EXPECT_EQ(VersionText(version, u"RegistryBranch"), u"ProbeBranch");
  EXPECT_EQ(Le16(version, 0), version.size());
  // VS_FIXEDFILEINFO: file and product version 2.5.1.0.
  size_t fixed = 40;
  ASSERT_EQ(Le32(version, fixed), 0xFEEF04BDu);
  for (size_t at : {8, 16}) {
    EXPECT_EQ(Le32(version, fixed + at), 0x00020005u);
    EXPECT_EQ(Le32(version, fixed + at + 4), 0x00010000u);
  }
}

}  // namespace
}  // namespace pack
