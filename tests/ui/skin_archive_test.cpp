// The skin archive: our zip reader against archives made by Info-ZIP and by
// the build, damaged members, and the pictures and layouts the windows need.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QPainter>
#include <QRegularExpression>

#include "app/core/results/file_categories.h"
#include "tests/ui/ui_test_app.h"
#include "ui/picture_attr.h"
#include "ui/skin.h"
#include "ui/zip_reader.h"

namespace dunmere::ui {
namespace {

using test::ReadBytes;
using test::RunFixtureScript;
using test::TempDir;

// One archive for the whole program.
const std::vector<uint8_t>& TestZip() {
  static std::vector<uint8_t> bytes = [] {
    static TempDir dir;
    std::string out;
    const int rc = RunFixtureScript("ui_make_zip.sh", "'" + dir.path() + "'", &out);
    return rc == 0 ? ReadBytes(dir / "test.zip") : std::vector<uint8_t>{};
  }();
  return bytes;
}

#define REQUIRE_TEST_ZIP()                                                      \
  if (TestZip().empty()) GTEST_SKIP() << "needs zip and ImageMagick convert (not installed)"

size_t DataOffset(const std::vector<uint8_t>& zip, const ZipMember& m) {
  const uint8_t* lh = zip.data() + m.localHeaderOffset;
  return m.localHeaderOffset + 30 + Le16(lh + 26) + Le16(lh + 28);
}

TEST(ZipReader, ReadsDeflatedAndStoredMembersOfInfoZipArchive) {
  REQUIRE_TEST_ZIP();
  const auto& zip = TestZip();
  ZipReader r;
  ASSERT_TRUE(r.Open(ByteView(zip.data(), zip.size())));
  ASSERT_EQ(r.Members().size(), 3u);
  std::vector<uint8_t> text;
  ASSERT_EQ(r.Read("xml/Layout.xml", text), ZipError::kNone);
  EXPECT_EQ(r.Find("xml/Layout.xml")->method, 8);
  const std::string s(text.begin(), text.end());
  EXPECT_EQ(s.substr(0, 7), "line 1 ");
  EXPECT_NE(s.find("line 200 of a layout"), std::string::npos);
  std::vector<uint8_t> stored;
  ASSERT_EQ(r.Read("stored.bin", stored), ZipError::kNone);
  EXPECT_EQ(r.Find("stored.bin")->method, 0);
  EXPECT_EQ(stored.size(), 3000u);
  // Names written the other way round still find their member.
  EXPECT_NE(r.Find("XML\\layout.XML"), nullptr);
  std::vector<uint8_t> none;
  EXPECT_EQ(r.Read("missing.xml", none), ZipError::kNotFound);
}

TEST(ZipReader, CorruptMemberFailsAloneAndCleanly) {
  REQUIRE_TEST_ZIP();
  for (const char* victim : {"xml/Layout.xml", "stored.bin"}) {
    std::vector<uint8_t> zip = TestZip();
    ZipReader probe;
    ASSERT_TRUE(probe.Open(ByteView(zip.data(), zip.size())));
    const ZipMember m = *probe.Find(victim);
    zip[DataOffset(zip, m) + m.compressedSize / 2] ^= 0x5A;
    ZipReader r;
    ASSERT_TRUE(r.Open(ByteView(zip.data(), zip.size())));
    std::vector<uint8_t> out{1, 2, 3};
    const ZipError e = r.Read(victim, out);
    EXPECT_TRUE(e == ZipError::kCrcMismatch || e == ZipError::kInflateFailed) << victim << ": " << ZipErrorText(e);
    EXPECT_TRUE(out.empty()) << "no half-good bytes are handed out";
    // The other members are still fine.
    for (const ZipMember& other : r.Members()) {
      if (other.name == victim) continue;
      EXPECT_EQ(r.Read(other, out), ZipError::kNone) << other.name;
    }
  }
}

TEST(ZipReader, DamagedDirectoryAndHeadersAreRefused) {
  REQUIRE_TEST_ZIP();
  const auto& good = TestZip();
  ZipReader r;
  // Cut off: no end record.
  EXPECT_FALSE(r.Open(ByteView(good.data(), good.size() - 30)));
  EXPECT_FALSE(r.Open(ByteView(good.data(), 10)));
  EXPECT_FALSE(r.Open(ByteView()));

  // End record pointing the directory past the end.
  std::vector<uint8_t> zip = good;
  const size_t end = zip.size() - 22;
  ASSERT_EQ(Le32(&zip[end]), 0x06054b50u);
  PutLe32(&zip[end + 16], uint32_t(zip.size()));
  EXPECT_FALSE(r.Open(ByteView(zip.data(), zip.size())));

  // A member whose local header lies outside, and one whose size lies.
  zip = good;
  ASSERT_TRUE(r.Open(ByteView(zip.data(), zip.size())));
  const size_t dir = Le32(&zip[end + 16]);
  PutLe32(&zip[dir + 42], 0x7FFFFFF0u);  // first member's local header offset
  PutLe32(&zip[dir + 46 + Le16(&zip[dir + 28]) + Le16(&zip[dir + 30]) + Le16(&zip[dir + 32]) + 24], 5);
  ASSERT_TRUE(r.Open(ByteView(zip.data(), zip.size())));
  std::vector<uint8_t> out;
  EXPECT_EQ(r.Read(r.Members()[0], out), ZipError::kBadLocalHeader);
  EXPECT_NE(r.Read(r.Members()[1], out), ZipError::kNone);
  EXPECT_EQ(r.Read(r.Members()[2], out), ZipError::kNone);

  // Compression method we do not know.
  zip = good;
  PutLe16(&zip[dir + 10], 12);  // bzip2
  ASSERT_TRUE(r.Open(ByteView(zip.data(), zip.size())));
  EXPECT_EQ(r.Read(r.Members()[0], out), ZipError::kUnsupported);
}

TEST(Skin, ArchiveOfTheBuildHoldsEveryLayoutAndPictureTheWindowsNeed) {
  test::UiApp();
  Skin& skin = Skin::Instance();
  skin.UseBuiltIn();
  for (const char* name :
       {"xml\\skin.xml", "xml/ControlPanel.xml", "xml/ScanDisk.xml", "xml/FileType.xml", "xml/RecoverFile.xml",
        "xml/ScanProcessWnd.xml", "xml/SearchProcessWnd.xml", "xml/RecoverProcessWnd.xml",
        "xml/PreviewProcessWnd.xml", "xml/PreviewWnd.xml", "xml/CreateImageProcessWnd.xml",
        "xml/MessageBox_Error.xml", "xml/MessageBox_Confirm.xml", "xml/MessageBox_Information.xml",
        "xml/MessageBox_Warning.xml", "xml/MessageBox_Question.xml", "xml/menu_assist.xml", "Controls.png",
        "point.png", "list_header_bg.png", "list_header_asc.png", "list_header_desc.png",
        "FileIcon/other.png", "FileIcon/photo_default.png", "FileIcon/audio_default.png",
        "FileIcon/video_default.png", "FileIcon/office_default.png"})
    EXPECT_TRUE(skin.Has(name)) << name;
  // Every member inflates and passes its CRC.
  for (const QString& name : skin.Names()) {
    QString error;
    EXPECT_FALSE(skin.Read(name, &error).isEmpty()) << name.toStdString() << " " << error.toStdString();
  }
  for (const char* maker : {"nikon", "canon", "sony", "kodak", "fuji", "mamiya", "sigma", "olympus", "epson",
                            "pentax", "minolta", "jpg", "bmp", "mp3", "doc", "zip"})
    EXPECT_TRUE(skin.Has(QStringLiteral("FileIcon/%1.png").arg(maker))) << maker;
}

TEST(Skin, EveryFileTypeOptionHasItsPicture) {
  test::UiApp();
  Skin& skin = Skin::Instance();
  skin.UseBuiltIn();
  for (const FileTypeOption& o : FileTypeOptions()) {
    const QString file = QStringLiteral("FileIcon/") + QString::fromUtf8(o.icon.data(), int(o.icon.size()));
    EXPECT_FALSE(skin.Image(file).isNull()) << file.toStdString();
  }
  EXPECT_GT(FileTypeOptions().size(), 120u);
}

TEST(Skin, DecodesPicturesAndDrawsAttributeParts) {
  test::UiApp();
  Skin& skin = Skin::Instance();
  skin.UseBuiltIn();
  const QImage controls = skin.Image("Controls.png");
  ASSERT_EQ(controls.size(), QSize(64, 128));
  // The checked cell (30,106)-(45,121) has its tick drawn, the unchecked one a white box.
  const QPixmap checked = skin.Picture("file='Controls.png' source='30,106,45,121'");
  const QPixmap unchecked = skin.Picture("file='Controls.png' source='0,106,15,121'");
  ASSERT_EQ(checked.size(), QSize(15, 15));
  EXPECT_NE(checked.toImage(), unchecked.toImage());
  EXPECT_EQ(QColor(unchecked.toImage().pixel(7, 7)).lightness(), 255);
  // dest places the part inside the control; the rest stays transparent.
  const QPixmap mark = skin.Picture("file='point.png' source='0,0,16,16' dest='0,4,16,20'");
  ASSERT_EQ(mark.size(), QSize(16, 20));
  EXPECT_EQ(qAlpha(mark.toImage().pixel(8, 1)), 0);
  EXPECT_GT(qAlpha(mark.toImage().pixel(8, 12)), 200);
  // Corners keep their size when stretched: the sort arrow stays in the right 13 pixels.
  QImage wide(200, 24, QImage::Format_ARGB32_Premultiplied);
  wide.fill(Qt::transparent);
  QPainter p(&wide);
  skin.Draw(p, wide.rect(), "file='list_header_asc.png' corner='0,1,13,1'");
  p.end();
  EXPECT_LT(QColor(wide.pixel(193, 12)).lightness(), 150);  // arrow
  EXPECT_GT(QColor(wide.pixel(100, 12)).lightness(), 200);  // stretched background
  // Missing and undecodable pictures give nothing, not a crash.
  EXPECT_TRUE(skin.Image("nope.png").isNull());
  EXPECT_TRUE(skin.Picture("file='xml/skin.xml'").isNull());
  const std::vector<uint8_t> junk(100, 0x42);
  EXPECT_TRUE(DecodePicture(junk.data(), junk.size()).isNull());
}

TEST(Skin, ReplacementArchiveAndFolder) {
  REQUIRE_TEST_ZIP();
  test::UiApp();
  Skin& skin = Skin::Instance();
  std::vector<uint8_t> junk(64, 0);
  EXPECT_FALSE(skin.UseArchive(junk)) << "a non-archive leaves the skin as it was";
  EXPECT_TRUE(skin.Has("xml/skin.xml"));
  ASSERT_TRUE(skin.UseArchive(TestZip()));
  EXPECT_EQ(skin.Image("pic.png").size(), QSize(20, 10));
  EXPECT_EQ(QColor(skin.Image("pic.png").pixel(3, 3)), QColor("#3366cc"));
  skin.UseFolder(QString::fromStdString(test::SourcePath("skin")));
  EXPECT_TRUE(skin.Has("xml\\MessageBox_Error.xml"));
  skin.UseBuiltIn();
}

TEST(PictureAttr, ParsesTheAttributeStringsOfTheLayouts) {
  PictureAttr a = ParsePictureAttr("file='point.png' source='0,0,16,16' dest='0,4,16,20'");
  EXPECT_EQ(a.file, "point.png");
  EXPECT_EQ(a.source, (PicRect{0, 0, 16, 16}));
  EXPECT_EQ(a.dest, (PicRect{0, 4, 16, 20}));
  a = ParsePictureAttr("file='list_header_desc.png' corner='0,1,13,1' mask='#FFFF00FF' fade='128'");
  EXPECT_EQ(a.corner, (PicRect{0, 1, 13, 1}));
  EXPECT_EQ(a.mask, 0xFFFF00FFu);
  EXPECT_EQ(a.fade, 128);
  EXPECT_EQ(ParsePictureAttr("FileIcon/jpg.png").file, "FileIcon/jpg.png");
  EXPECT_EQ(ParsePictureAttr("file=\"a b.png\"").file, "a b.png");
  // Damaged rectangles are dropped, not half-read.
  a = ParsePictureAttr("file='x.png' source='1,2,3' dest='a,b,c,d'");
  EXPECT_FALSE(a.source);
  EXPECT_FALSE(a.dest);
  EXPECT_EQ(ParsePictureAttr("file='x.png' source='1,2,3,4").source, (PicRect{1, 2, 3, 4}));
  EXPECT_EQ(FirstPictureToken("file='FileIcon/jpg.png' source='0,0,32,32'"), "file='FileIcon/jpg.png'");
}

}  // namespace
}  // namespace dunmere::ui
