// The file systems' content check hides a found file whose first sector does
// not hold what its extension promises. Files written by real tools, in the
// variants those tools commonly write, must never be hidden: each is put on
// a medium at sector 0 and asked about under its own extension. A tool that
// is not installed skips its group with a message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carving/content_check_factory.h"
#include "carving/signature_table.h"
#include "tests/carving/sig_test_util.h"

namespace dunmere::test {
namespace {

struct Made {
  std::string file;     // name in the work folder; its extension is the one asked about
  std::string command;  // shell command run in the work folder; {} is the file
};

class ToolFiles : public ::testing::Test {
 protected:
  // Makes every file and returns the ones whose check failed, with the first
  // bytes that were refused.
  std::vector<std::string> Refused(const std::vector<Made>& list) {
    std::vector<std::string> refused;
    ContentCheck check = MakeSignatureContentCheck();
    for (const Made& m : list) {
      std::string path = dir_ / m.file;
      std::string cmd = m.command;
      for (size_t p; (p = cmd.find("{}")) != std::string::npos;) cmd.replace(p, 2, "'" + path + "'");
      std::string out;
      if (RunCommand("cd '" + dir_.path() + "' && " + cmd, &out) != 0) {
        ADD_FAILURE() << m.file << ": the tool failed: " << out;
        continue;
      }
      std::vector<uint8_t> bytes = ReadBytes(path);
      if (bytes.empty()) {
        ADD_FAILURE() << m.file << ": nothing written";
        continue;
      }
      // As the engines see it: the first sector of the file on a medium,
      // the rest of a short file's sector zero slack.
      Medium medium;
      uint64_t at = medium.Place(bytes);
      medium.Zero(16);
      medium.Open(dir_, m.file + ".medium");
      ContentSample s;
      const std::string extension = m.file.substr(m.file.rfind('.') + 1);  // outlives the view
      s.extension = extension;
      s.firstBytes = medium.SectorAt(at);
      s.source = &medium.source;
      s.sectorSize = Medium::kSector;
      s.absoluteSector = at;
      if (!check(s)) {
        std::string head;
        for (size_t i = 0; i < 16 && i < bytes.size(); ++i) {
          static const char* hex = "0123456789abcdef";
          head += hex[bytes[i] >> 4];
          head += hex[bytes[i] & 15];
        }
        refused.push_back(m.file + " (" + head + ")");
      }
    }
    return refused;
  }
  TempDir dir_;
};

std::string Joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += "\n  " + x;
  return s;
}

TEST_F(ToolFiles, ImageMagickPicturesPassTheirCheck) {
  DUNMERE_REQUIRE_TOOL("convert");
  const std::string pic = "convert -size 64x48 plasma: -seed 5 ";
  std::vector<Made> list = {
      {"v2.bmp", pic + "BMP2:{}"},
      {"v3.bmp", pic + "BMP3:{}"},
      {"v5.bmp", pic + "BMP:{}"},  // ImageMagick's default: a 124-byte header
      {"alpha.bmp", "convert -size 64x48 xc:red -alpha on -channel A -evaluate set 50% +channel BMP:{}"},
      {"plain.dib", pic + "BMP:{}"},
      {"image.gif", pic + "{}"},
      {"old.gif", pic + "GIF87:{}"},
      {"image.png", pic + "{}"},
      {"deep.png", pic + "-depth 16 {}"},
      {"interlaced.png", pic + "-interlace PNG {}"},
      {"baseline.jpg", pic + "{}"},
      {"progressive.jpg", pic + "-interlace JPEG {}"},
      {"cmyk.jpg", pic + "-colorspace CMYK {}"},
      {"stripped.jpeg", pic + "-strip {}"},
      {"little.tif", pic + "-define tiff:endian=lsb {}"},
      {"big.tiff", pic + "-define tiff:endian=msb {}"},
      {"packed.tif", pic + "-compress zip {}"},
      {"wide.tif", pic + "TIFF64:{}"},  // BigTIFF
      {"image.webp", pic + "{}"},
      {"icon.ico", pic + "\\( +clone -resize 16x16 \\) {}"},
      {"large.ico", "convert -size 256x256 plasma: -seed 2 \\( +clone -resize 32x32 \\) {}"},
      {"image.psd", pic + "{}"},
  };
  std::vector<std::string> refused = Refused(list);
  EXPECT_TRUE(refused.empty()) << "valid pictures refused:" << Joined(refused);
}

TEST_F(ToolFiles, FfmpegMediaPassTheirCheck) {
  DUNMERE_REQUIRE_TOOL("ffmpeg");
  const std::string ff = "ffmpeg -hide_banner -loglevel error -y ";
  const std::string v = ff + "-f lavfi -i testsrc=size=64x48:rate=25:duration=2 ";
  const std::string a = ff + "-f lavfi -i sine=frequency=440:duration=2:sample_rate=22050 ";
  const std::string av = v + "-f lavfi -i sine=frequency=440:duration=2:sample_rate=22050 ";
  std::vector<Made> list = {
      {"video.mp4", v + "-c:v mpeg4 {}"},
      {"brand41.mp4", v + "-c:v mpeg4 -brand mp41 {}"},
      {"faststart.mp4", v + "-c:v mpeg4 -movflags +faststart {}"},
      {"fragmented.mp4", v + "-c:v mpeg4 -movflags +frag_keyframe+empty_moov {}"},
      {"ipod.mp4", a + "-c:a aac -f ipod {}"},
      {"video.mov", v + "-c:v mpeg4 {}"},
      {"video.mkv", v + "-c:v mpeg4 {}"},
      {"video.webm", v + "-c:v libvpx {}"},
      {"video.avi", av + "-c:v mpeg4 -c:a pcm_s16le {}"},
      {"mjpeg.avi", v + "-c:v mjpeg {}"},
      {"video.flv", av + "-c:v flv1 -c:a libmp3lame -ar 22050 {}"},
      {"silent.flv", v + "-c:v flv1 {}"},
      {"video.mpg", v + "-c:v mpeg1video -f mpeg {}"},
      {"dvd.mpg", v + "-c:v mpeg2video -f dvd {}"},
      {"video.vob", v + "-c:v mpeg2video -f vob {}"},
      {"video.ts", v + "-c:v mpeg2video -f mpegts {}"},
      {"camera.mts", v + "-c:v mpeg2video -mpegts_m2ts_mode 1 -f mpegts {}"},
      {"video.wmv", v + "-c:v wmv2 {}"},
      {"audio.wma", a + "-c:a wmav2 {}"},
      {"video.3gp", v + "-c:v h263 -s 128x96 -pix_fmt yuv420p {}"},
      {"video.mxf", v + "-c:v mpeg2video -f mxf {}"},
      {"piped.mxf", v + "-c:v mpeg2video -f mxf - > {}"},
      {"tagged.mp3", a + "-c:a libmp3lame {}"},
      {"id3v23.mp3", a + "-c:a libmp3lame -id3v2_version 3 {}"},
      {"untagged.mp3", a + "-c:a libmp3lame -id3v2_version 0 {}"},
      {"bare.mp3", a + "-c:a libmp3lame -id3v2_version 0 -write_xing 0 {}"},
      {"loud.mp3", a + "-c:a libmp3lame -b:a 320k -ar 44100 -id3v2_version 0 -write_xing 0 {}"},
      {"audio.wav", a + "{}"},
      {"float.wav", a + "-c:a pcm_f32le {}"},
      {"long.wav", a + "-rf64 always {}"},
      {"audio.flac", a + "{}"},
      {"audio.ogg", a + "-c:a libvorbis {}"},
      {"audio.m4a", a + "-c:a aac {}"},
      {"audio.mp2", a + "-c:a mp2 {}"},
  };
  std::vector<std::string> refused = Refused(list);
  EXPECT_TRUE(refused.empty()) << "valid media files refused:" << Joined(refused);
}

TEST_F(ToolFiles, SoxAudioPassesItsCheck) {
  DUNMERE_REQUIRE_TOOL("sox");
  std::vector<Made> list = {
      {"tone.wav", "sox -n -r 8000 -c 1 -b 16 {} synth 1 sine 440"},
      {"stereo.wav", "sox -n -r 44100 -c 2 -b 24 {} synth 1 sine 440"},
      {"float.wav", "sox -n -r 48000 -c 1 -e floating-point -b 32 {} synth 1 sine 440"},
      {"tone.flac", "sox -n -r 44100 -c 1 {} synth 1 sine 440"},
  };
  std::vector<std::string> refused = Refused(list);
  EXPECT_TRUE(refused.empty()) << "valid audio refused:" << Joined(refused);
}

TEST_F(ToolFiles, LibreOfficeDocumentsPassTheirCheck) {
  DUNMERE_REQUIRE_TOOL("soffice");
  std::vector<Made> list;
  for (const char* ext : {"doc", "docx", "xls", "xlsx", "ppt", "pptx", "pdf"}) {
    std::string name = std::string("text.") + ext;
    list.push_back({name, "printf 'Dunmere document\\n' > text.txt && soffice --headless --convert-to " +
                              std::string(ext) + " text.txt >/dev/null 2>&1 && test -s " + name});
  }
  std::vector<std::string> refused = Refused(list);
  EXPECT_TRUE(refused.empty()) << "valid documents refused:" << Joined(refused);
}

// A version 4 or 5 BMP is also carved, whole, from a medium.
TEST_F(ToolFiles, NewerBmpHeadersAreCarvedWhole) {
  DUNMERE_REQUIRE_TOOL("convert");
  for (const char* kind : {"BMP3", "BMP"}) {
    SCOPED_TRACE(kind);
    std::string path = dir_ / (std::string(kind) + ".bmp");
    ASSERT_EQ(RunCommand("convert -size 80x60 plasma: -seed 9 " + std::string(kind) + ":'" + path + "'"), 0);
    std::vector<uint8_t> bmp = ReadBytes(path);
    ASSERT_GT(bmp.size(), 54u);
    Medium m;
    m.Zero(2);
    uint64_t at = m.Place(bmp);
    m.Random(16);
    m.Open(dir_, std::string(kind) + ".img");
    CarveContext ctx;
    Identification id = CarveAt(ctx, m, at);
    EXPECT_EQ(id.code, kBmp);
    EXPECT_EQ(id.size, bmp.size());
  }
}

// Looser starts are for named files only: random sectors that happen to
// open with an MPEG audio sync or a 192-byte packet are not carved as files.
TEST_F(ToolFiles, NamedFileStartsDoNotStartCarves) {
  Medium m;
  std::vector<uint8_t> frame(Medium::kSector, 0);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7);
  frame[0] = 0xFF;
  frame[1] = 0xFB;
  frame[2] = 0x90;  // 128 kbps, 44.1 kHz: 417 bytes
  frame[417] = 0xFF;
  frame[418] = 0xFB;
  frame[419] = 0x90;
  uint64_t at = m.Place(frame);
  m.Zero(4);
  m.Open(dir_);
  CarveContext ctx;
  PrepareContext(ctx, m);
  EXPECT_EQ(IdentifySector(ctx, m.SectorAt(at)), kNoMatch);
  EXPECT_TRUE(MatchesSignature(ctx, m.SectorAt(at), "mp3", &m.source, Medium::kSector, at));
  // A header whose next frame is not where its length says is refused.
  frame[417] = 0;
  Medium n;
  at = n.Place(frame);
  n.Open(dir_, "n.img");
  EXPECT_FALSE(MatchesSignature(ctx, n.SectorAt(at), "mp3", &n.source, Medium::kSector, at));
}

}  // namespace
}  // namespace dunmere::test
