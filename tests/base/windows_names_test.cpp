// Names from disk in the form NTFS, FAT and exFAT take through the Windows
// calls and any FAT driver (base/text.h WindowsSafeComponent).
#include <gtest/gtest.h>

#include "base/text.h"

namespace dunmere {
namespace {

TEST(WindowsNames, RefusedCharactersAreSpelledOutInAscii) {
  EXPECT_EQ(WindowsSafeComponent("a:b*c?d\"e<f>g|h"), "a%3Ab%2Ac%3Fd%22e%3Cf%3Eg%7Ch");
  // A backslash left by a name from a Linux disk (SafePathComponent keeps none).
  EXPECT_EQ(WindowsSafeComponent("x\\y"), "x%5Cy");
  // Control characters too, so nothing invisible lands in the name.
  EXPECT_EQ(WindowsSafeComponent(std::string("tab\there\x01", 9)), "tab%09here%01");
}

TEST(WindowsNames, TrailingDotsAndSpacesAreKeptVisibly) {
  EXPECT_EQ(WindowsSafeComponent("notes."), "notes%2E");
  EXPECT_EQ(WindowsSafeComponent("draft  "), "draft%20%20");
  EXPECT_EQ(WindowsSafeComponent("end. ."), "end%2E%20%2E");
  // Dots and blanks inside a name are ordinary.
  EXPECT_EQ(WindowsSafeComponent("a. b.txt"), "a. b.txt");
}

TEST(WindowsNames, DeviceNamesGetASuffixWhateverTheirExtensionOrCase) {
  EXPECT_EQ(WindowsSafeComponent("CON"), "CON_");
  EXPECT_EQ(WindowsSafeComponent("con.txt"), "con_.txt");
  EXPECT_EQ(WindowsSafeComponent("Nul.tar.gz"), "Nul_.tar.gz");
  EXPECT_EQ(WindowsSafeComponent("PRN"), "PRN_");
  EXPECT_EQ(WindowsSafeComponent("aux.c"), "aux_.c");
  EXPECT_EQ(WindowsSafeComponent("COM1"), "COM1_");
  EXPECT_EQ(WindowsSafeComponent("lpt9.log"), "lpt9_.log");
  EXPECT_EQ(WindowsSafeComponent("COM\xC2\xB9"), "COM\xC2\xB9_");
  EXPECT_EQ(WindowsSafeComponent("CONIN$"), "CONIN$_");
  // The name before the extension must be the device's, blanks aside.
  EXPECT_EQ(WindowsSafeComponent("CON .txt"), "CON _.txt");
  EXPECT_EQ(WindowsSafeComponent("CONSOLE.txt"), "CONSOLE.txt");
  EXPECT_EQ(WindowsSafeComponent("COM10"), "COM10");
  EXPECT_EQ(WindowsSafeComponent("my CON.txt"), "my CON.txt");
}

TEST(WindowsNames, OrdinaryNamesStayAsTheyAre) {
  for (const char* name : {"report.docx", "Übersicht 2021.xlsx", "100%.txt", "a＂b", ".hidden", "x", "%3A"})
    EXPECT_EQ(WindowsSafeComponent(name), name);
}

}  // namespace
}  // namespace dunmere
