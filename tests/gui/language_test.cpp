// The language table and its INI reading: missing files, missing keys, lines
// without "=", buffer limits, SetLanguage touching one key only, and the
// shipped language files against the ids and controls the windows use.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/core/language/language_ini.h"
#include "app/core/language/language_table.h"
#include "app/gui/apply_section.h"
#include "tests/ui/ui_test_app.h"
#include "ui/window_base.h"

namespace dunmere::app {
namespace {

using test::TempDir;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct LanguageFolder {
  TempDir dir;
  LanguageFolder(const std::string& config, const std::string& name, const std::string& texts) {
    if (!config.empty()) WriteText(dir / "config.ini", config);
    std::filesystem::create_directory(dir / "Languages");
    if (!name.empty()) WriteText(dir / ("Languages/" + name + ".ini"), texts);
  }
};

TEST(LanguageTable, MissingConfigMeansEnglishAndNoLanguageList) {
  LanguageFolder f("", "English", "[Messages]\r\nMSG0101=Hello\r\n");
  LanguageTable t(f.dir.path());
  EXPECT_EQ(t.CurrentLanguage(), "English");
  EXPECT_TRUE(t.Languages().empty());
  EXPECT_EQ(t.Text("Messages", "MSG0101"), "Hello");
  EXPECT_EQ(t.ConfigPath(), f.dir / "config.ini");
  EXPECT_EQ(t.LanguagesFolder(), f.dir / "Languages/");
}

TEST(LanguageTable, MissingLanguageFileGivesEnglishThenEmptyTexts) {
  LanguageFolder f("[DefaultLanguage]\nDefault=Klingon\n[Languages]\nEnglish=English\n", "English",
                   "[Messages]\nMSG0101=Hello\n");
  LanguageTable t(f.dir.path());
  EXPECT_EQ(t.CurrentLanguage(), "Klingon");
  EXPECT_EQ(t.Text("Messages", "MSG0101"), "Hello") << "English, not a window without a word on it";
  std::filesystem::remove(f.dir / "Languages/English.ini");
  LanguageTable none(f.dir.path());
  EXPECT_EQ(none.Text("Messages", "MSG0101"), "");
  auto messages = none.Section("Messages");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(LanguageTable::Text(messages, "MSG0505"), "");
  EXPECT_EQ(messages.count("MSG0505"), 1u) << "an unknown key is added with the empty text";
}

TEST(LanguageTable, LinesKeysAndSectionsAsTheProfileFunctionsGiveThem) {
  LanguageFolder f(
      "; chosen language\n[Languages]\nEnglish=English\nGerman = Deutsch \nPlain\nEq=a=b\n"
      "[defaultlanguage]\n default = \"German\" \n",
      "German",
      "\xEF\xBB\xBF[MainWnd]\r\nBtnScan = Suchen\r\n; a comment\r\n\r\nBtnPrev=\r\nJust a line\r\n"
      "Url=http://x/?a=b\r\n[Messages]\r\nMSG0101=Hallo\r\n[Messages]\r\nMSG0101=second section ignored\r\n");
  LanguageTable t(f.dir.path());
  EXPECT_EQ(t.CurrentLanguage(), "German") << "case-blind names, blanks and quotes dropped";
  const auto langs = t.Languages();
  ASSERT_EQ(langs.size(), 4u);
  EXPECT_EQ(langs[1], (std::pair<std::string, std::string>{"German", "Deutsch"}));
  EXPECT_EQ(langs[2], (std::pair<std::string, std::string>{"Plain", "Plain"}));
  EXPECT_EQ(langs[3], (std::pair<std::string, std::string>{"Eq", "a=b"}));
  auto main = t.Section("MainWnd");
  EXPECT_EQ(main["BtnScan"], "Suchen");
  EXPECT_EQ(main["BtnPrev"], "");
  EXPECT_EQ(main["Just a line"], "Just a line") << "a line without = is key and text";
  EXPECT_EQ(main["Url"], "http://x/?a=b") << "the first = splits";
  EXPECT_EQ(main.count("; a comment"), 0u);
  EXPECT_EQ(t.Text("Messages", "MSG0101"), "Hallo");
  EXPECT_EQ(t.Text("NoSection", "MSG0101"), "");
  EXPECT_EQ(t.Text("Messages", "MSG9999"), "");
}

TEST(LanguageTable, UnsafeLanguageNamesReadAndWriteNothing) {
  LanguageFolder f("[DefaultLanguage]\nDefault=../../secret\n", "English", "[Messages]\nMSG0101=Hello\n");
  WriteText(f.dir / "secret.ini", "[Messages]\nMSG0101=leaked\n");
  LanguageTable t(f.dir.path() + "/Languages/x");
  EXPECT_EQ(t.Text("Messages", "MSG0101"), "") << "a name leaving the languages folder loads nothing";
  const std::string before = ReadText(f.dir / "config.ini");
  LanguageTable t2(f.dir.path());
  for (const char* bad : {"../English", "a/b", "Eng\nlish", "", "x\r[Languages]"}) EXPECT_FALSE(t2.SetLanguage(bad)) << bad;
  EXPECT_EQ(ReadText(f.dir / "config.ini"), before);
}

TEST(LanguageTable, SetLanguageRewritesOnlyTheDefaultKey) {
  const std::string config =
      "; Dunmere languages\r\n[Languages]\r\nEnglish=English\r\nGerman=Deutsch\r\n\r\n"
      "[DefaultLanguage]\r\n  DEFAULT = English ; old\r\nOther=keep me\r\n\r\n[Tail]\r\nx=1\r\n";
  LanguageFolder f(config, "English", "[Messages]\r\nMSG0101=Hello\r\n");
  WriteText(f.dir / "Languages/German.ini", "[Messages]\r\nMSG0101=Hallo\r\n");
  LanguageTable t(f.dir.path());
  EXPECT_EQ(t.CurrentLanguage(), "English ; old");  // the profile functions keep inline text
  ASSERT_TRUE(t.SetLanguage("German"));
  EXPECT_EQ(t.CurrentLanguage(), "German");
  EXPECT_EQ(t.Text("Messages", "MSG0101"), "Hallo");
  std::string expected = config;
  expected.replace(expected.find("  DEFAULT = English ; old"), 25, "Default=German");
  EXPECT_EQ(ReadText(f.dir / "config.ini"), expected);
  // No temporary file is left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(f.dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
  // A table built afterwards reads the new choice.
  EXPECT_EQ(LanguageTable(f.dir.path()).CurrentLanguage(), "German");
}

TEST(LanguageTable, SetLanguageAddsTheKeyOrSectionWhenMissing) {
  LanguageFolder a("[Languages]\nEnglish=English\n[DefaultLanguage]\n; none yet\n[After]\ny=2\n", "English", "");
  ASSERT_TRUE(LanguageTable(a.dir.path()).SetLanguage("English"));
  EXPECT_EQ(ReadText(a.dir / "config.ini"),
            "[Languages]\nEnglish=English\n[DefaultLanguage]\nDefault=English\n; none yet\n[After]\ny=2\n");
  LanguageFolder b("[Languages]\nEnglish=English", "English", "");
  ASSERT_TRUE(LanguageTable(b.dir.path()).SetLanguage("English"));
  EXPECT_EQ(ReadText(b.dir / "config.ini"), "[Languages]\nEnglish=English\n[DefaultLanguage]\nDefault=English\n");
  LanguageFolder c("", "English", "");
  ASSERT_TRUE(LanguageTable(c.dir.path()).SetLanguage("English"));
  EXPECT_EQ(ReadText(c.dir / "config.ini"), "[DefaultLanguage]\r\nDefault=English\r\n");
  // A folder that cannot be written leaves the table as it was.
  LanguageTable gone(c.dir / "missing");
  EXPECT_FALSE(gone.SetLanguage("German"));
  EXPECT_EQ(gone.CurrentLanguage(), "English");
}

TEST(IniFile, Utf16FilesAreReadAndWrittenBackAsUtf16) {
  TempDir dir;
  const std::u16string text = u"[DefaultLanguage]\r\nDefault=Fran\u00e7ais\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) bytes += std::string{char(u & 0xFF), char(u >> 8)};
  WriteText(dir / "c.ini", bytes);
  auto ini = IniFile::Load(dir / "c.ini");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->GetString("DefaultLanguage", "Default", "English", 64), "Fran\xC3\xA7" "ais");
  ASSERT_TRUE(WriteIniString(dir / "c.ini", "DefaultLanguage", "Default", "English"));
  const std::string back = ReadText(dir / "c.ini");
  ASSERT_GE(back.size(), 2u);
  EXPECT_EQ(back.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(IniFile::Load(dir / "c.ini")->GetString("DefaultLanguage", "Default", "", 64), "English");
}

TEST(IniFile, ResultsAreCutToTheReadingBuffers) {
  // Section lines: 10 lines of 1000 units plus their ends fit 10,240 units; more is cut.
  std::string text = "[S]\n";
  for (int i = 0; i < 12; ++i) text += "k" + std::to_string(i) + "=" + std::string(995, char('a' + i)) + "\n";
  const IniFile ini = IniFile::Parse(text);
  const auto lines = ini.SectionLines("S", LanguageTable::kSectionBuffer);
  size_t units = 0;
  for (const auto& l : lines) units += l.size() + 1;
  // Whole lines with their ends, then the cut line and the two final ends fill the buffer.
  EXPECT_EQ(units - 1, LanguageTable::kSectionBuffer - 2);
  EXPECT_EQ(lines.size(), 11u);
  EXPECT_LT(lines.back().size(), lines.front().size()) << "the last line is cut";
  EXPECT_EQ(ini.SectionLines("S", 1 << 20).size(), 12u);
  // The default value is cut to 63 units, at a character boundary.
  const IniFile d = IniFile::Parse("[DefaultLanguage]\nDefault=" + std::string(70, 'x') + "\n");
  EXPECT_EQ(d.GetString("DefaultLanguage", "Default", "English", 64).size(), 63u);
  EXPECT_EQ(CutToUtf16Units("\xC3\xA4\xC3\xA4\xC3\xA4", 2), "\xC3\xA4\xC3\xA4");
  EXPECT_EQ(Utf16Units("a\xF0\x9F\x98\x80"), 3u);
  // Section names: a buffer of 1024 units holds what fits.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "[Section" + std::to_string(i) + "]\n";
  size_t nameUnits = 0;
  for (const auto& n : IniFile::Parse(many).SectionNames(LanguageTable::kSectionNamesBuffer)) nameUnits += n.size() + 1;
  EXPECT_EQ(nameUnits - 1, LanguageTable::kSectionNamesBuffer - 2);
  // A long line of a language file keeps its first 1023 units.
  LanguageFolder f("", "English", "[Messages]\nMSG0101=" + std::string(2000, 'y') + "\n");
  EXPECT_EQ(LanguageTable(f.dir.path()).Text("Messages", "MSG0101").size(), 1023u - 8u);
}

// ---- the shipped language files ----

const char* const kMessageIds[] = {
    "MSG0101", "MSG0102", "MSG0103", "MSG0104", "MSG0201", "MSG0202", "MSG0203", "MSG0204", "MSG0205", "MSG0206",
    "MSG0207", "MSG0208", "MSG0209", "MSG0210", "MSG0211", "MSG0212", "MSG0213", "MSG0214", "MSG0216", "MSG0217",
    "MSG0218", "MSG0219", "MSG0220", "MSG0221", "MSG0301", "MSG0302", "MSG0303", "MSG0304", "MSG0305", "MSG0306", "MSG0307",
    "MSG0401", "MSG0402", "MSG0403", "MSG0404", "MSG0405", "MSG0501", "MSG0502", "MSG0503", "MSG0504", "MSG0505",
    "MSG0601", "MSG0602", "MSG0701", "MSG0702", "MSG0703", "MSG0704", "MSG0705", "MSG0706", "MSG0707", "MSG0708",
    "MSG0709", "MSG0710", "MSG0712", "MSG0713", "MSG0801", "MSG0802", "MSG0803", "MSG0804", "MSG0805", "MSG0806", "MSG0807", "MSG0808", "MSG0809", "MSG0810",
    "MSG0811", "MSG0812", "MSG0901", "MSG0902", "MSG0903", "MSG0904", "MSG0905", "MSG1101", "MSG1102", "MSG1103", "MSG1104",
    "MSG1201", "MSG1202", "MSG1203", "MSG1204", "MSG1205", "MSG1206", "MSG1207", "MSG1208", "MSG1209", "MSG1210", "MSG1211", "MSG1212",
    "MSG0224", "MSG0506", "MSG0813", "MSG0814", "MSG0815", "MSG0816", "MSG0817", "MSG0818", "MSG0819", "MSG0906",
    "MSG0907", "MSG0908", "MSG1105", "MSG1106", "MSG0222", "MSG0223", "MSG0225", "MSG0711", "MSG0720", "MSG0721",
    "MSG0722", "MSG0723", "MSG0724", "MSG0909", "MSG0910", "MSG0820", "MSG1107",
    "MSG1300", "MSG1301", "MSG1302", "MSG1303", "MSG1304", "MSG1305", "MSG1306", "MSG1307", "MSG1308",
    "MSG1370", "MSG1380", "MSG1381", "MSG1390", "MSG1108", "MSG1400", "MSG1401"};

// The printf conversions of a text, in order.
std::string Conversions(const std::string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (text[i + 1] == '%') {
      ++i;
      continue;
    }
    out += text[i + 1];
  }
  return out;
}

TEST(ShippedLanguages, EveryMessageIdHasATextWithTheArgumentsItIsUsedWith) {
  const std::map<std::string, std::string> formats = {
      {"MSG0701", "s"}, {"MSG0702", "s"}, {"MSG0506", "ss"}, {"MSG0815", "sd"}, {"MSG0816", "s"}, {"MSG0819", "s"},
      {"MSG0907", "ss"}, {"MSG0908", "ss"}, {"MSG0710", "s"}, {"MSG0802", "s"}, {"MSG0806", "ss"}, {"MSG0804", "sd"}, {"MSG1102", "dddd"},
      {"MSG1201", "s"}, {"MSG1202", "s"}, {"MSG1203", "s"}, {"MSG0223", "s"}, {"MSG0711", "s"}, {"MSG0722", "s"}, {"MSG1107", "s"},
      {"MSG1301", "s"}, {"MSG1381", "s"}, {"MSG1390", "ss"}, {"MSG1108", "ss"}};
  LanguageTable english(test::SourcePath("languages"));
  ASSERT_EQ(english.CurrentLanguage(), "English");
  const auto langs = english.Languages();
  ASSERT_GE(langs.size(), 2u);
  for (const auto& [name, display] : langs) {
    LanguageTable t(test::SourcePath("languages"));
    TempDir copy;
    std::filesystem::copy(test::SourcePath("languages"), copy.path(), std::filesystem::copy_options::recursive);
    LanguageTable lang(copy.path());
    ASSERT_TRUE(lang.SetLanguage(name)) << name;
    auto messages = lang.Section("Messages");
    for (const char* id : kMessageIds) {
      const std::string text = messages[id];
      EXPECT_FALSE(text.empty()) << name << " " << id;
      const auto f = formats.find(id);
      EXPECT_EQ(Conversions(text), f == formats.end() ? "" : f->second) << name << " " << id << ": " << text;
    }
    // Every language captions the same controls.
    for (const char* section : {"MainWnd", "ScanWnd", "SearchProcessWnd", "MessageBox", "RecoverProcessWnd",
                                "PreviewProcessWnd", "PreviewWnd", "CreateImageWnd", "AssistMenu", "FileTypes"}) {
      const auto theirs = lang.Section(section);
      const auto ours = english.Section(section);
      EXPECT_EQ(theirs.size(), ours.size()) << name << " " << section;
      for (const auto& [key, text] : ours) EXPECT_TRUE(theirs.count(key)) << name << " " << section << " " << key;
    }
  }
}

class CaptionWnd : public ui::WindowImplBase {
 public:
  explicit CaptionWnd(QString layout) : layout_(std::move(layout)) {}
  QString SkinFile() const override { return layout_; }
  QString layout_;
};

TEST(ShippedLanguages, EveryCaptionKeyNamesAControlOfItsWindow) {
  test::UiApp();
  const std::vector<std::pair<std::string, std::vector<const char*>>> windows = {
      {"MainWnd", {"xml/skin.xml"}},
      {"ScanWnd", {"xml/ScanProcessWnd.xml"}},
      {"SearchProcessWnd", {"xml/SearchProcessWnd.xml"}},
      {"RecoverProcessWnd", {"xml/RecoverProcessWnd.xml"}},
      {"PreviewProcessWnd", {"xml/PreviewProcessWnd.xml"}},
      {"PreviewWnd", {"xml/PreviewWnd.xml"}},
      {"CreateImageWnd", {"xml/CreateImageProcessWnd.xml"}},
      {"MessageBox",
       {"xml/MessageBox_Confirm.xml", "xml/MessageBox_Question.xml"}},
      {"MessageBox_Question", {"xml/MessageBox_Question.xml"}}};
  LanguageTable english(test::SourcePath("languages"));
  for (const auto& [section, layouts] : windows) {
    for (const char* layout : layouts) {
      CaptionWnd w(layout);
      ASSERT_TRUE(w.Create(nullptr));
      for (const auto& [key, text] : english.Section(section))
        EXPECT_TRUE(w.HasControl(QString::fromStdString(key))) << section << " " << key << " in " << layout;
    }
  }
  // Switching the language changes the captions applied afterwards.
  TempDir copy;
  std::filesystem::copy(test::SourcePath("languages"), copy.path(), std::filesystem::copy_options::recursive);
  LanguageTable switched(copy.path());
  ASSERT_TRUE(switched.SetLanguage("German"));
  EXPECT_EQ(switched.Text("MainWnd", "BtnScan"), "Suchen");
  EXPECT_EQ(switched.Text("Messages", "MSG0404"), "Frage");
  EXPECT_EQ(ReadText(copy / "config.ini"), ReadText(test::SourcePath("languages/config.ini")).replace(
                                                ReadText(test::SourcePath("languages/config.ini")).find("Default=English"),
                                                15, "Default=German"));
}

}  // namespace
}  // namespace dunmere::app

namespace dunmere::app {
namespace {

TEST(ProgramFolder, EndsInASlashAndHoldsTheLanguages) {
  test::UiApp();  // points the program folder at the source tree's languages
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "config.ini"));
  EXPECT_TRUE(std::filesystem::exists(folder + "Languages/English.ini"));
}

TEST(ProgramFolder, FoundBesideTheProgramOrInShareAbove) {
  TempDir root;
  namespace fs = std::filesystem;
  fs::create_directories(root / "bin");
  fs::create_directories(root / "build/app/gui");
  EXPECT_EQ(ProgramFolderFor(root / "bin"), root / "bin/") << "nothing found: the program's own folder";
  fs::create_directories(root / "share/dunmere");
  WriteText(root / "share/dunmere/config.ini", "[Languages]\n");
  EXPECT_EQ(ProgramFolderFor(root / "bin"), root / "share/dunmere/");
  EXPECT_EQ(ProgramFolderFor(root / "build/app/gui"), root / "share/dunmere/");
  WriteText(root / "bin/config.ini", "[Languages]\n");
  EXPECT_EQ(ProgramFolderFor(root / "bin"), root / "bin/");
}

}  // namespace
}  // namespace dunmere::app
