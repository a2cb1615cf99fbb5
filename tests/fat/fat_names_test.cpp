#include "fat/fat_names.h"

#include <gtest/gtest.h>

#include "tests/fat/dir_entry_builder.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {
std::string Short(const std::string& name11, bool dir = false) {
  auto e = MakeEntry({name11});
  return FormatShortName(ByteView(e.data(), e.size()), dir);
}
}  // namespace

TEST(FatShortName, LowersJoinsAndMarksTheLostFirstCharacter) {
  EXPECT_EQ(Short("README  TXT"), "readme.txt");
  EXPECT_EQ(Short("NOEXT      "), "noext");
  EXPECT_EQ(Short("FOLDER  EXT", true), "folder");  // a directory's extension is ignored
  EXPECT_EQ(Short("\xE5" "ELETED JPG"), "!eleted.jpg");
  EXPECT_EQ(Short("\x05" "BC     TXT"), "\xcf\x83" "bc.txt");  // 0x05 stands for 0xE5 (sigma in code page 437)
  EXPECT_EQ(Short("\x8E\x99" "      DAT"), "\xc3\x84\xc3\x96.dat");  // code page 437 letters as UTF-8
  EXPECT_EQ(Short("A/B     TXT"), "a_b.txt");  // a separator never reaches a path
  EXPECT_EQ(Short("A B     T X"), "a b.t x");
}

TEST(FatLongName, PartsComeOutInReadingOrder) {
  LongNameAssembler a;
  EXPECT_TRUE(a.Empty());
  auto p2 = MakeLfn(0x42, u"e.txt", 0);
  auto p1 = MakeLfn(0x01, u"a long file n", 0);
  ASSERT_TRUE(a.Add(ByteView(p2.data(), 32)));
  ASSERT_TRUE(a.Add(ByteView(p1.data(), 32)));
  EXPECT_EQ(a.Take(), "a long file ne.txt");
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(a.Take(), "");

  // Non-ASCII, a surrogate pair and a separator.
  auto p = MakeLfn(0x41, u"\u00e9t\u00e9 \U0001F600/x", 0);
  ASSERT_TRUE(a.Add(ByteView(p.data(), 32)));
  EXPECT_EQ(a.Take(), "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80_x");

  // Exactly 13 units: no terminator inside the part.
  auto full = MakeLfn(0x41, u"abcdefghijklm", 0);
  ASSERT_TRUE(a.Add(ByteView(full.data(), 32)));
  EXPECT_EQ(a.Take(), "abcdefghijklm");
}

TEST(FatLongName, ATwentiethPartDoesNotFit) {
  LongNameAssembler a;
  auto part = MakeLfn(0x01, u"abcdefghijklm", 0);
  for (int i = 0; i < 19; ++i) ASSERT_TRUE(a.Add(ByteView(part.data(), 32))) << i;
  EXPECT_FALSE(a.Add(ByteView(part.data(), 32)));
  EXPECT_EQ(a.Take().size(), 19u * 13);
}
