// The test helpers of the Windows build. The fixture images are made on
// Linux by the scripts of tests/fixtures (scripts/build-windows.sh --test
// makes those the tests read) and found here in $DUNMERE_FIXTURE_DIR; the
// Linux tools the scripts and some tests call do not run here.
#include "tests/support/test_support.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/text.h"
#include "platform/native_path.h"
#include "platform/windows/win_util.h"

namespace fs = std::filesystem;

namespace dunmere::test {

namespace {

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The words of a command as a POSIX shell splits them: quotes and
// backslashes; false when it needs a shell (pipes, lists, substitutions).
bool ShellWords(const std::string& command, std::vector<std::string>& words) {
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == '\'') {
      const size_t end = command.find('\'', i + 1);
      if (end == std::string::npos) return false;
      word += command.substr(i + 1, end - i - 1);
      i = end;
      inWord = true;
    } else if (c == '"') {
      for (++i; i < command.size() && command[i] != '"'; ++i) {
        if (command[i] == '\\' && i + 1 < command.size()) ++i;
        if (command[i] == '$' || command[i] == '`') return false;
        word += command[i];
      }
      inWord = true;
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (std::string("|;&$`()*?").find(c) != std::string::npos) {
      return false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return !words.empty();
}

}  // namespace

TempDir::TempDir() {
  static unsigned serial = 0;
  for (;;) {
    const fs::path p = fs::temp_directory_path() /
                       ("dunmere-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.generic_string();
      return;
    }
    if (ec) std::abort();
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

int RunProgram(const std::vector<std::string>& words, std::string* output);

// A plain command (a program and its words, optionally </dev/null and
// 2>&1) runs as a Windows program; anything that needs a shell gives 127,
// as a shell says of a command it cannot find.
int RunCommand(const std::string& command, std::string* output) {
  std::vector<std::string> words;
  if (!ShellWords(command, words)) {
    if (output) *output = "needs a POSIX shell: " + command;
    return 127;
  }
  std::vector<std::string> kept;
  for (const std::string& w : words)
    if (w != "</dev/null" && w != "2>&1" && w != "<" && w != "/dev/null") kept.push_back(w);
  return RunProgram(kept, output);
}

int RunProgram(const std::vector<std::string>& words, std::string* output) {
  if (words.empty()) return 127;
  std::string program = words[0];
  if (fs::path(program).extension().empty() && fs::exists(program + ".exe")) program += ".exe";
  if (!fs::exists(program)) {
    if (output) *output = program + ": not found";
    return 127;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr);
  std::wstring line;
  win::AppendQuotedArgument(line, win::Wide(program));
  for (size_t i = 1; i < words.size(); ++i) {
    line += L' ';
    win::AppendQuotedArgument(line, win::Wide(words[i]));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                        nullptr, nullptr, &startup, &info);
  ::CloseHandle(writeEnd);
  if (nothing != INVALID_HANDLE_VALUE) ::CloseHandle(nothing);
  if (!started) {
    ::CloseHandle(readEnd);
    return 127;
  }
  std::string out;
  char buf[4096];
  DWORD n = 0;
  while (::ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  ::CloseHandle(readEnd);
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  ::CloseHandle(info.hThread);
  // Text written for a console ends its lines with \r\n: the tests read \n.
  std::string plain;
  for (size_t i = 0; i < out.size(); ++i)
    if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) plain += out[i];
  if (output) *output = plain;
  return int(code);
}


// The Linux tools (mkfs, ffmpeg, bash, ...) do not run under Windows.
bool HaveTool(const std::string&) { return false; }

std::string MissingToolMessage(const std::string& name) {
  return "needs " + name + ", a Linux tool that does not run under Windows (the Linux suite runs this test)";
}

std::string SourcePath(const std::string& rel) { return std::string(DUNMERE_SOURCE_DIR) + "/" + rel; }

int RunFixtureScript(const std::string& script, const std::string&, std::string* output) {
  if (output) *output = script + " is a Linux shell script: it does not run under Windows";
  return 77;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  if (!in) return {};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
  std::string hex;
  if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
    std::vector<char> buf(1 << 20);
    bool ok = true;
    while (ok && in) {
      in.read(buf.data(), std::streamsize(buf.size()));
      const std::streamsize n = in.gcount();
      if (n > 0) ok = BCryptHashData(hash, reinterpret_cast<PUCHAR>(buf.data()), ULONG(n), 0) == 0;
    }
    UCHAR digest[32];
    if (ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0) {
      static const char kHex[] = "0123456789abcdef";
      for (UCHAR b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
      }
    }
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return hex;
}

CachedFixture MakeCachedFixture(const std::string& script, const std::string& name) {
  CachedFixture f;
  const std::string base = Environment("DUNMERE_FIXTURE_DIR");
  const std::string dir = base + "/" + name;
  if (base.empty()) {
    f.missingTool = true;
    f.message = script + " makes its images on Linux: set DUNMERE_FIXTURE_DIR to the Linux build's test-fixtures";
    return f;
  }
  // The same stamp as the Linux side writes: images of the scripts as they are now.
  const std::string want =
      Sha256OfFile(SourcePath("tests/fixtures/" + script)) + Sha256OfFile(SourcePath("tests/fixtures/lib_magic.sh"));
  const std::vector<uint8_t> have = ReadBytes(dir + "/stamp");
  if (std::string(have.begin(), have.end()) == want) {
    f.dir = dir;
    return f;
  }
  // scripts/build-windows.sh --test makes every fixture its tests read, and
  // says so: then a missing one is a failure, not a skip.
  f.missingTool = Environment("DUNMERE_FIXTURES_REQUIRED").empty();
  f.message = "fixture " + name + " (" + script + ") is not in " + base + " or is older than its script";
  return f;
}

void UsePrivateDataFolder() {
  static std::string dir = [] {
    TempDir* keep = new TempDir;  // lives as long as the test program
    return keep->path();
  }();
  ::SetEnvironmentVariableW(L"DUNMERE_DATA_DIR", win::Wide(dir).c_str());
  _putenv_s("DUNMERE_DATA_DIR", dir.c_str());
}

}  // namespace dunmere::test
