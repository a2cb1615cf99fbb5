#include "tests/support/test_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace dunmere::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "dunmere-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) std::abort();
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* p = popen(full.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}


bool HaveTool(const std::string& name) { return RunCommand("command -v '" + name + "' >/dev/null") == 0; }

std::string MissingToolMessage(const std::string& name) { return "needs " + name + " (not installed)"; }

std::string SourcePath(const std::string& rel) { return std::string(DUNMERE_SOURCE_DIR) + "/" + rel; }

int RunFixtureScript(const std::string& script, const std::string& args, std::string* output) {
  return RunCommand("bash '" + SourcePath("tests/fixtures/" + script) + "' " + args, output);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Sha256OfFile(const std::string& path) {
  std::string out;
  if (RunCommand("sha256sum '" + path + "' | cut -d' ' -f1", &out) != 0) return {};
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

CachedFixture MakeCachedFixture(const std::string& script, const std::string& name) {
  CachedFixture f;
  const std::string base = std::string(DUNMERE_BINARY_DIR) + "/test-fixtures";
  const std::string dir = base + "/" + name;
  const std::string stamp = dir + "/stamp";
  const std::string want =
      Sha256OfFile(SourcePath("tests/fixtures/" + script)) + Sha256OfFile(SourcePath("tests/fixtures/lib_magic.sh"));
  std::error_code ec;
  fs::create_directories(base, ec);
  int lock = ::open((base + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  std::vector<uint8_t> have = ReadBytes(stamp);
  if (std::string(have.begin(), have.end()) == want) {
    f.dir = dir;
  } else {
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    int rc = RunFixtureScript(script, "'" + dir + "'", &f.message);
    if (rc == 0) {
      WriteBytes(stamp, std::vector<uint8_t>(want.begin(), want.end()));
      f.dir = dir;
    } else {
      f.missingTool = rc == 77;
      f.message = script + (rc == 77 ? " needs a tool that is missing: " : " failed: ") + f.message;
      fs::remove_all(dir, ec);
    }
  }
  if (lock >= 0) ::close(lock);
  return f;
}

void UsePrivateDataFolder() {
  static std::string dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "dunmere-data-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    return tmpl;
  }();
  setenv("DUNMERE_DATA_DIR", dir.c_str(), 1);
}

}  // namespace dunmere::test
