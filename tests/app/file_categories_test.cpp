#include "app/core/results/file_categories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace dunmere {
namespace {

TEST(CategoryOfName, ByLastExtensionAnyCase) {
  EXPECT_EQ(CategoryOfName("a.JPG"), "photo");
  EXPECT_EQ(CategoryOfName("archive.tar.gz"), "archive");
  EXPECT_EQ(CategoryOfName("a.dat"), "others");
  EXPECT_EQ(CategoryOfName("notes"), "others");
  EXPECT_EQ(CategoryOfName("trailing."), "others");
  EXPECT_EQ(CategoryOfName("song.mp3"), "audio");
  EXPECT_EQ(CategoryOfName("clip.MKV"), "video");
  EXPECT_EQ(CategoryOfName("sheet.xlsx"), "document");
  // In the audio and the video list: the first list tested wins.
  EXPECT_EQ(CategoryOfName("show.rm"), "audio");
}

// Every entry of every list is found, under the first list naming it.
TEST(CategoryOfName, EveryListedExtensionFindsItsList) {
  std::set<std::string> seen;
  size_t entries = 0;
  for (int c = 0; c < int(Category::kOthers); ++c) {
    std::string_view list = CategoryList(Category(c));
    for (size_t pos = 0; pos < list.size();) {
      size_t end = std::min(list.find('|', pos), list.size());
      std::string ext(list.substr(pos + 2, end - pos - 2));  // past "*."
      pos = end + 1;
      if (!seen.insert(ext).second) continue;  // an earlier list has it
      ++entries;
      EXPECT_EQ(int(CategoryOfExtension(ext)), c) << ext;
      EXPECT_EQ(CategoryOfExtension(ext + "~"), Category::kOthers) << ext;
    }
  }
  EXPECT_GT(entries, 100u);
}

TEST(CategoryOfName, WholeExtensionsOnly) {
  // ".c" occurs inside "*.crw" and "*.cab", ".ra" inside "*.raw" and "*.rar":
  // only a whole entry of a list places a file.
  EXPECT_EQ(CategoryOfName("main.c"), "others");
  EXPECT_EQ(CategoryOfName("x.ra"), "audio");
  EXPECT_EQ(CategoryOfName("x.j"), "others");
  EXPECT_EQ(CategoryOfName("scan.tif"), "photo");
}

TEST(GroupNameOfName, AliasesAndMissingExtension) {
  EXPECT_EQ(GroupNameOfName("holiday.JPEG"), "jpg");
  EXPECT_EQ(GroupNameOfName("a.tiff"), "tif");
  EXPECT_EQ(GroupNameOfName("a.scr"), "pcx");
  EXPECT_EQ(GroupNameOfName("a.MIDI"), "mid");
  EXPECT_EQ(GroupNameOfName("a.m4p"), "m4a");
  EXPECT_EQ(GroupNameOfName("a.docx"), "doc");
  EXPECT_EQ(GroupNameOfName("a.xlsx"), "xls");
  EXPECT_EQ(GroupNameOfName("a.pptx"), "ppt");
  EXPECT_EQ(GroupNameOfName("a.htm"), "html");
  EXPECT_EQ(GroupNameOfName("notes"), "unknow");
  EXPECT_EQ(GroupNameOfName("a.weird"), "weird");
}

TEST(FileTypeOptions, PageOrderAndUserData) {
  const auto& opts = FileTypeOptions();
  int perCategory[kCategoryCount] = {};
  for (const auto& o : opts) ++perCategory[int(o.category)];
  EXPECT_EQ(perCategory[int(Category::kPhoto)], 38);
  EXPECT_EQ(perCategory[int(Category::kAudio)], 22);
  EXPECT_EQ(perCategory[int(Category::kVideo)], 34);
  EXPECT_EQ(perCategory[int(Category::kDocument)], 20);
  EXPECT_EQ(perCategory[int(Category::kArchive)], 14);
  EXPECT_EQ(perCategory[int(Category::kOthers)], 1);
  EXPECT_EQ(opts.front().caption, "Bitmap (.bmp)");
  EXPECT_EQ(opts.back().extensions, "other");
  // A JPEG file is shown with the JPG/JPEG option's picture.
  const FileTypeOption* jpg = OptionForExtension("jpeg");
  ASSERT_NE(jpg, nullptr);
  EXPECT_EQ(jpg->icon, "jpg.png");
  EXPECT_EQ(OptionForExtension("docx")->caption, "DOC Files (.doc .docx)");
  EXPECT_EQ(OptionForExtension("cr2")->icon, "canon.png");
  EXPECT_EQ(OptionForExtension("zzz"), nullptr);
}

// What the selection adds to the search and what the results show under a
// node are the same names: every name in a category list is selected by an
// option of that category (else the search skips it as "known" while no
// option asks for it, and the file vanishes), and every option selects the
// names its caption shows, each option once.
TEST(FileTypeOptions, EveryListedNameIsOfferedInItsCategory) {
  std::set<std::string_view> captions;
  for (const FileTypeOption& o : FileTypeOptions()) {
    EXPECT_TRUE(captions.insert(o.caption).second) << "offered twice: " << o.caption;
    if (o.category == Category::kOthers) continue;
    ForEachName(o.extensions, [&](std::string_view name) {
      EXPECT_NE(o.caption.find("." + std::string(name)), std::string_view::npos) << o.caption << " selects " << name;
    });
  }
  for (int c = 0; c < int(Category::kOthers); ++c) {
    const std::string& list = CategoryList(Category(c));
    ForEachName(list, [&](std::string_view entry) {
      const std::string name(entry.substr(2));  // past "*."
      const FileTypeOption* o = OptionForExtension(name);
      ASSERT_NE(o, nullptr) << name << " is listed but no option selects it";
      EXPECT_EQ(o->category, CategoryOfExtension(name)) << name;
    });
  }
  // Named by the carving engine or by file systems and once shown nowhere or
  // under Other Files.
  for (const char* name : {"flv", "swf", "fla", "mpg", "ts"}) {
    ASSERT_NE(OptionForExtension(name), nullptr) << name;
    EXPECT_EQ(OptionForExtension(name)->category, Category::kVideo) << name;
  }
  for (const char* name : {"ape", "mp2", "mmf"}) {
    ASSERT_NE(OptionForExtension(name), nullptr) << name;
    EXPECT_EQ(OptionForExtension(name)->category, Category::kAudio) << name;
  }
  for (const char* name : {"k25", "mrw", "dng", "djvu"}) EXPECT_EQ(OptionForExtension(name)->extensions, name);
  EXPECT_EQ(OptionForExtension("mqv")->caption, "MQV Files (.mqv)");
  EXPECT_EQ(GroupNameOfName("clip.MPG"), "mpeg");
}

TEST(ParseCategory, NamesAndPlurals) {
  Category c;
  ASSERT_TRUE(ParseCategory("Photos", c));
  EXPECT_EQ(c, Category::kPhoto);
  ASSERT_TRUE(ParseCategory("other", c));
  EXPECT_EQ(c, Category::kOthers);
  ASSERT_TRUE(ParseCategory("documents", c));
  EXPECT_EQ(c, Category::kDocument);
  EXPECT_FALSE(ParseCategory("music", c));
  EXPECT_FALSE(ParseCategory("", c));
}

}  // namespace
}  // namespace dunmere
