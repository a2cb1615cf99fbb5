#pragma once
// Shared test helpers: a temporary folder per test, running the fixture
// scripts, hashing files.
#include <cstdint>
#include <string>
#include <vector>

namespace dunmere::test {

// A fresh folder removed at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command; returns its exit status and fills `output` with stdout+stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);
// The lines of a tab-separated file (a fixture's manifest), split at tabs;
// none when the file cannot be read.
std::vector<std::vector<std::string>> ReadTsvRows(const std::string& path);
// One shell word holding `s` as it is, quotes included.
std::string ShellQuote(const std::string& s);
bool HaveTool(const std::string& name);
// Why a test that needs the tool is skipped: not installed, or (in the
// Windows build) a Linux tool that does not run there.
std::string MissingToolMessage(const std::string& name);
// Path of a file under the source tree (tests/fixtures/..., samples/...).
std::string SourcePath(const std::string& relative);
// Runs tests/fixtures/<script> with the arguments; exit 77 means a tool is missing.
int RunFixtureScript(const std::string& script, const std::string& args, std::string* output = nullptr);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Hex SHA-256 of a file (empty when it cannot be read).
std::string Sha256OfFile(const std::string& path);

// The output of a fixture script, made once per build tree.
struct CachedFixture {
  std::string dir;           // empty when it could not be made
  bool missingTool = false;  // the script exited 77
  std::string message;       // the script's output when it failed
};
// Runs tests/fixtures/<script> into build/test-fixtures/<name>. The folder is
// kept and remade only when the script (or the helper it sources) changes;
// a lock keeps the test processes ctest starts from making it twice.
CachedFixture MakeCachedFixture(const std::string& script, const std::string& name);

// Points the data folder at a private folder for the whole test program.
void UsePrivateDataFolder();

}  // namespace dunmere::test

// Skips the test with a clear message when a fixture tool is missing.
#define DUNMERE_REQUIRE_TOOL(tool)                                                              \
  do {                                                                                        \
    if (!::dunmere::test::HaveTool(tool)) GTEST_SKIP() << ::dunmere::test::MissingToolMessage(tool); \
  } while (0)
