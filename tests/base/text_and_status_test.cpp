#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/found_item.h"
#include "base/status.h"
#include "base/text.h"

namespace dunmere {
namespace {

TEST(RecordNames, LongNamesAreCutAtACharacterBoundary) {
  FoundItemRecord r = MakeEmptyRecord();
  std::string name(258, 'a');
  name += "\xC3\xA4\xC3\xA4";  // two two-byte characters crossing byte 259
  SetRecordName(r, name);
  std::string got = RecordName(r);
  EXPECT_EQ(got.size(), 258u);  // the split character is dropped whole
  EXPECT_EQ(r.name[259], '\0');
  SetRecordName(r, std::string(256, 'b') + "\xE2\x82\xAC");  // euro sign fits exactly
  EXPECT_EQ(RecordName(r).size(), 259u);
}

TEST(Utf16, SurrogatePairsAndUnpairedHalves) {
  const char16_t pair[] = {0xD83D, 0xDE00};
  EXPECT_EQ(Utf16ToUtf8(pair, 2), "\xF0\x9F\x98\x80");
  const char16_t lone[] = {0xD800, u'a'};
  EXPECT_EQ(Utf16ToUtf8(lone, 2), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(pair, 2));
}

TEST(SafeNames, NeverEscapeOrVanish) {
  EXPECT_EQ(SafePathComponent("a/b"), "a_b");
  EXPECT_EQ(SafePathComponent(".."), "_..");
  EXPECT_EQ(SafePathComponent("."), "_.");
  EXPECT_EQ(SafePathComponent(""), "_");
  EXPECT_EQ(SafePathComponent("normal name.txt"), "normal name.txt");
}

TEST(SafeNames, AStreamBecomesAColonFreeNameThatKeepsItsExtensionLast) {
  EXPECT_EQ(SafePathComponent("notes.txt:photo.jpg"), "notes.txt [photo].jpg");
  EXPECT_EQ(SafePathComponent("notes.txt:comment"), "notes.txt [comment]");
  EXPECT_EQ(SafePathComponent("a.pdf:Zone.Identifier"), "a.pdf [Zone].Identifier");
  EXPECT_EQ(SafePathComponent("f:.hidden"), "f [.hidden]");
  EXPECT_EQ(SafePathComponent("x:y/z"), "x [y_z]");
  // Not a file's stream: left to the general rules.
  EXPECT_EQ(StreamDestinationForm("a:b:c"), "a:b:c");
  // A stream has no extension unless its own name gives one.
  EXPECT_EQ(ExtensionOf("notes.txt:comment"), "");
  EXPECT_EQ(ExtensionOf("notes.txt:photo.JPG"), "jpg");
}

TEST(StatusCodes, ErrnoMapsOntoOneCodeSpaceWithMessages) {
  EXPECT_EQ(StatusFromErrno(ENOENT), kFileNotFound);
  EXPECT_EQ(StatusFromErrno(ENOSPC), kDiskFull);
  EXPECT_EQ(StatusFromErrno(EACCES), kAccessDenied);
  EXPECT_EQ(StatusFromErrno(EIO), kReadFault);
  Status odd = StatusFromErrno(ELOOP);
  EXPECT_NE(odd & kErrnoFlag, 0);
  EXPECT_EQ(StatusMessage(odd), std::strerror(ELOOP));
  EXPECT_EQ(StatusMessage(kStopRequested), "Stopped by the user");
  EXPECT_EQ(StatusMessage(kOk), "Success");
  EXPECT_FALSE(StatusMessage(-4242).empty());
}

}  // namespace
}  // namespace dunmere
