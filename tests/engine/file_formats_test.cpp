// The file-format table against the lists it replaced, kept here as they
// were: every extension any of them named keeps its category, group and
// preview, and the known and preview lists keep their entries, except the
// mends listed in kMended.
#include "engine/formats/file_format.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace dunmere {
namespace {

// Category lists, in the order photo, audio, video, document, archive.
const char* const kOldLists[] = {
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm",
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
    "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd",
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|"
    "*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|"
    "*.mxf|*.lrv|*.m2t",
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|"
    "*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb",
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso",
};
const char* const kOldWord = "*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt";
const char* const kOldSlides = "*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp";
const char* const kOldSheet =
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg";
const std::map<std::string, std::string> kOldAliases = {
    {"jpeg", "jpg"}, {"tiff", "tif"}, {"scr", "pcx"},  {"midi", "mid"}, {"m4p", "m4a"},
    {"docx", "doc"}, {"xlsx", "xls"}, {"pptx", "ppt"}, {"htm", "html"}};

std::vector<std::string> Entries(std::string_view list) {
  std::vector<std::string> out;
  ForEachName(list, [&](std::string_view e) { out.emplace_back(e.substr(2)); });
  return out;
}
bool Has(std::string_view list, const std::string& name) {
  for (const std::string& e : Entries(list))
    if (e == name) return true;
  return false;
}

Category OldCategory(const std::string& ext) {
  for (int c = 0; c < 5; ++c)
    if (Has(kOldLists[c], ext)) return Category(c);
  return Category::kOthers;
}

PreviewKind OldPreview(const std::string& ext) {
  if (Has(kOldLists[1], ext)) return PreviewKind::kAudio;
  if (Has(kOldLists[2], ext)) return PreviewKind::kVideo;
  if (Has(kOldLists[0], ext)) return PreviewKind::kPicture;
  if (ext == "pdf") return PreviewKind::kPdf;
  if (Has(kOldWord, ext)) return PreviewKind::kTextDocument;
  if (Has(kOldSlides, ext)) return PreviewKind::kSlides;
  if (Has(kOldSheet, ext)) return PreviewKind::kSpreadsheet;
  if (Has(kOldLists[4], ext)) return PreviewKind::kArchive;
  return PreviewKind::kOther;
}

// What changed on purpose: a misspelt "divu" for DjVu pictures; streams and
// audio the carving engine names its files by that no list held; OpenDocument
// sheets previewed as bytes.
struct Mend {
  const char* ext;
  Category category;
  PreviewKind preview;
};
const Mend kMended[] = {
    {"divu", Category::kOthers, PreviewKind::kOther},       {"djvu", Category::kPhoto, PreviewKind::kPicture},
    {"mpg", Category::kVideo, PreviewKind::kVideo},         {"ts", Category::kVideo, PreviewKind::kVideo},
    {"mp2", Category::kAudio, PreviewKind::kAudio},         {"mmf", Category::kAudio, PreviewKind::kAudio},
    {"ods", Category::kDocument, PreviewKind::kSpreadsheet},
};

TEST(FileFormats, EveryOldExtensionKeepsCategoryGroupAndPreview) {
  std::set<std::string> all;
  for (const char* list : kOldLists)
    for (const std::string& e : Entries(list)) all.insert(e);
  for (const char* list : {kOldWord, kOldSlides, kOldSheet})
    for (const std::string& e : Entries(list)) all.insert(e);
  for (const FileFormat& f : FileFormats()) ForEachName(f.names, [&](std::string_view n) { all.insert(std::string(n)); });
  std::map<std::string, const Mend*> mended;
  for (const Mend& m : kMended) mended[m.ext] = &m;
  EXPECT_GT(all.size(), 170u);
  for (const std::string& ext : all) {
    auto m = mended.find(ext);
    const Category category = m != mended.end() ? m->second->category : OldCategory(ext);
    const PreviewKind preview = m != mended.end() ? m->second->preview : OldPreview(ext);
    EXPECT_EQ(CategoryOfExtension(ext), category) << ext;
    EXPECT_EQ(PreviewKindOfExtension(ext), preview) << ext;
    auto alias = kOldAliases.find(ext);
    const std::string group = ext == "mpg" ? "mpeg" : alias != kOldAliases.end() ? alias->second : ext;
    EXPECT_EQ(GroupAlias(ext), group) << ext;
  }
}

TEST(FileFormats, ListsKeepTheirEntries) {
  auto set = [](std::string_view list) {
    std::vector<std::string> v = Entries(list);
    return std::set<std::string>(v.begin(), v.end());
  };
  for (int c = 0; c < 5; ++c) {
    std::set<std::string> want = set(kOldLists[c]);
    for (const Mend& m : kMended) {
      if (OldCategory(m.ext) == Category(c)) want.erase(m.ext);
      if (m.category == Category(c)) want.insert(m.ext);
    }
    EXPECT_EQ(set(CategoryList(Category(c))), want) << c;
  }
  EXPECT_TRUE(CategoryList(Category::kOthers).empty());
  // The known list is the five joined; the preview list every name a
  // converter takes.
  std::set<std::string> known;
  for (int c = 0; c < 5; ++c) for (const std::string& e : set(CategoryList(Category(c)))) known.insert(e);
  EXPECT_EQ(set(KnownExtensionList()), known);
  std::set<std::string> converted = set(kOldWord);
  for (const char* list : {kOldSlides, kOldSheet, kOldLists[4]})
    for (const std::string& e : Entries(list)) converted.insert(e);
  converted.insert("pdf");
  converted.insert("ods");
  EXPECT_EQ(set(PreviewDocumentList()), converted);
  // Substring semantics stay: "jpg" and "*.jpg" both occur in the list.
  EXPECT_TRUE(InList(".jpg", CategoryList(Category::kPhoto)));
  EXPECT_TRUE(IsPictureExtension("tiff"));
  EXPECT_FALSE(IsPictureExtension(""));
}

}  // namespace
}  // namespace dunmere
