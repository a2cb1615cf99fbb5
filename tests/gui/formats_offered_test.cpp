// A file the deep scan carves is shown: the formats the carving engine names
// its files by are offered on the file-type page, and with the page as it
// starts (everything checked) the results list them under their category.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTreeWidgetItem>
#include <random>
#include <set>

#include "app/core/results/file_categories.h"
#include "app/gui/file_type_page.h"
#include "app/gui/result_view.h"
#include "base/text.h"
#include "scan/engine_factory.h"
#include "tests/carving/media_samples_fixture.h"
#include "tests/gui/gui_test_support.h"
#include "ui/file_tree.h"

namespace dunmere::gui {
namespace {

// The real files the tools write (made once per build tree).
struct Samples : test::MediaSamples {
  using MediaSamples::SetUpTestSuite;
  using MediaSamples::TearDownTestSuite;
  static std::string Path(const std::string& name) { return SamplePath(name); }
  static int Status() { return status_; }
  static const std::string& Message() { return message_; }
};

class FormatsOffered : public test::MainWndFixture {
 protected:
  static void SetUpTestSuite() { Samples::SetUpTestSuite(); }
  static void TearDownTestSuite() { Samples::TearDownTestSuite(); }
  void SetUp() override {
    if (Samples::Status() == 77) GTEST_SKIP() << "sample tools missing: " << Samples::Message();
    ASSERT_EQ(Samples::Status(), 0) << Samples::Message();
    test::MainWndFixture::SetUp();
  }

  // A wiped card: the samples at sector boundaries, noise between them.
  std::string CardOf(const std::vector<std::string>& samples) {
    std::mt19937 rng(11);
    std::vector<uint8_t> image;
    auto noise = [&](size_t sectors) {
      for (size_t i = 0; i < sectors * 512; ++i) image.push_back(uint8_t(rng() & 0x7F));
    };
    noise(32);
    for (const std::string& s : samples) {
      const std::vector<uint8_t> bytes = test::ReadBytes(Samples::Path(s));
      EXPECT_FALSE(bytes.empty()) << s;
      image.insert(image.end(), bytes.begin(), bytes.end());
      image.resize((image.size() + 511) / 512 * 512, 0);
      noise(40);
    }
    const std::string path = user_ / "card.img";
    test::WriteBytes(path, image);
    return path;
  }

  QStringList Children(const char* node) {
    QStringList out;
    QTreeWidgetItem* n = wnd_->Find<ui::FileTree>("TypeTree")->Node(node);
    for (int i = 0; n && i < n->childCount(); ++i) out << n->child(i)->text(0);
    return out;
  }
};

TEST_F(FormatsOffered, CarvedFlashVideoStreamsAndAudioShowUnderTheirCategories) {
  Open();
  auto engine = CreateEngineForImage(
      CardOf({"video.flv", "video.swf", "video.ts", "video.mpg", "audio.mp2", "audio.mmf"}), 1, true);
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), kOk);

  // What the results page asks the engine for and shows, as after a scan.
  FileTypePage& page = wnd_->FileTypes();
  std::vector<FoundItemRecord> found;
  ASSERT_GT(engine->SearchByType(page.FilterText(), found), 0);
  std::set<std::string> names;
  for (const FoundItemRecord& r : found) names.insert(ExtensionOf(RecordName(r)));
  for (const char* ext : {"flv", "swf", "ts", "mpeg", "mp2", "mmf"}) EXPECT_TRUE(names.count(ext)) << ext;
  wnd_->Results().ShowResults(found, page.SelectedUserData());

  const QStringList video = Children("NodeVideo");
  const QStringList audio = Children("NodeAudio");
  const QStringList other = Children("NodeOther");
  for (const char* caption : {"FLV Video Files (1)", "SWF Flash Files (1)", "TS Video Files (1)",
                              "MPEG Video Files (1)"})
    EXPECT_TRUE(video.contains(caption)) << caption << " in " << video.join(", ").toStdString();
  for (const char* caption : {"MP2 Files (1)", "MMF Files (1)"})
    EXPECT_TRUE(audio.contains(caption)) << caption << " in " << audio.join(", ").toStdString();
  EXPECT_TRUE(other.isEmpty()) << other.join(", ").toStdString();

  // Unchecking the video options leaves the streams out; nothing moves to Other.
  Click("OptVideoFile");
  std::vector<FoundItemRecord> again;
  (void)engine->SearchByType(page.FilterText(), again);
  size_t songs = 0;
  for (const FoundItemRecord& r : again) {
    const std::string ext = ExtensionOf(RecordName(r));
    EXPECT_NE(CategoryOfExtension(ext), Category::kVideo) << RecordName(r);
    songs += CategoryOfExtension(ext) == Category::kAudio;
  }
  EXPECT_EQ(songs, 2u);
}

}  // namespace
}  // namespace dunmere::gui
