#include "exfat/deep/exfat_findings.h"

#include <algorithm>
#include <cstring>

namespace dunmere {

namespace {
// A record: magic, kind, byte count, check, place, then the bytes. The check
// tells a whole record from one a dying run left half written.
constexpr uint8_t kMagic = 0xEF;
constexpr size_t kHeader = 16;
constexpr size_t kMaxBytes = 0xFFFF;

uint32_t Check(uint8_t kind, uint64_t at, const uint8_t* data, size_t n) {
  uint32_t h = 2166136261u;
  auto mix = [&h](uint8_t b) { h = (h ^ b) * 16777619u; };
  mix(kind);
  for (int i = 0; i < 8; ++i) mix(uint8_t(at >> (8 * i)));
  for (size_t i = 0; i < n; ++i) mix(data[i]);
  return h;
}

bool KnownKind(uint8_t k) { return k >= 1 && k <= 4; }
}  // namespace

Status ExfatFindings::Open(const std::string& path, bool keep) {
  (void)Close();
  path_ = path;
  buffer_.clear();
  fileBytes_ = 0;
  count_ = dropped_ = 0;
  writeError_ = kOk;
  memoryOnly_ = path.empty();
  if (memoryOnly_) return kOk;
  if (!keep) (void)RemoveFile(path);
  if (Status s = file_.Open(path, File::Mode::kReadWrite)) {
    memoryOnly_ = true;
    return s;
  }
  uint64_t size = 0;
  if (Status s = file_.Size(size)) return s;
  // Walks the records an earlier run wrote; the first that does not hold
  // together ends them (the run died while writing it).
  std::vector<uint8_t> rec;
  uint64_t at = 0;
  while (at + kHeader <= size) {
    uint8_t h[kHeader];
    size_t got = 0;
    if (file_.ReadAt(at, h, kHeader, got) || got != kHeader) break;
    const size_t n = Le16(h + 2);
    if (h[0] != kMagic || !KnownKind(h[1]) || at + kHeader + n > size) break;
    rec.resize(n);
    if (n && (file_.ReadAt(at + kHeader, rec.data(), n, got) || got != n)) break;
    if (Check(h[1], Le64(h + 8), rec.data(), n) != Le32(h + 4)) break;
    at += kHeader + n;
    ++count_;
  }
  if (at != size) (void)file_.Truncate(at);
  fileBytes_ = at;
  return kOk;
}

Status ExfatFindings::Close() {
  Status s = file_.IsOpen() ? Flush() : kOk;
  if (file_.IsOpen()) {
    Status c = file_.Close();
    if (!s) s = c;
  }
  return s;
}

void ExfatFindings::Remove() {
  (void)file_.Close();
  if (!path_.empty()) (void)RemoveFile(path_);
  buffer_.clear();
  buffer_.shrink_to_fit();
  fileBytes_ = 0;
  count_ = 0;
}

void ExfatFindings::Add(ExfatFindingKind kind, uint64_t at, ByteView bytes) {
  if (count_ >= kMaxFindings || bytes.size() > kMaxBytes) {
    ++dropped_;
    return;
  }
  uint8_t h[kHeader];
  h[0] = kMagic;
  h[1] = uint8_t(kind);
  PutLe16(h + 2, uint16_t(bytes.size()));
  PutLe32(h + 4, Check(uint8_t(kind), at, bytes.data(), bytes.size()));
  PutLe64(h + 8, at);
  buffer_.insert(buffer_.end(), h, h + kHeader);
  if (bytes.size()) buffer_.insert(buffer_.end(), bytes.data(), bytes.data() + bytes.size());
  ++count_;
  if (!memoryOnly_ && buffer_.size() >= kBufferBytes) (void)Flush();
}

Status ExfatFindings::Flush() {
  if (memoryOnly_ || buffer_.empty() || !file_.IsOpen()) return kOk;
  if (Status s = file_.WriteAt(fileBytes_, buffer_.data(), buffer_.size())) {
    // Kept in memory: the findings are not lost, only not kept for a resume.
    if (!writeError_) writeError_ = s;
    return s;
  }
  fileBytes_ += buffer_.size();
  buffer_.clear();
  return kOk;
}

Status ExfatFindings::List(std::vector<ExfatFinding>& out) {
  out.clear();
  (void)Flush();
  // The file in pieces, then what the buffer still holds.
  std::vector<uint8_t> piece;
  auto walk = [&](const uint8_t* data, size_t n, uint64_t base, size_t& used) {
    size_t at = 0;
    while (at + kHeader <= n) {
      const size_t len = Le16(data + at + 2);
      if (at + kHeader + len > n) break;
      ExfatFinding f;
      f.kind = ExfatFindingKind(data[at + 1]);
      f.at = Le64(data + at + 8);
      f.offset = base + at + kHeader;
      f.bytes = uint32_t(len);
      out.push_back(f);
      at += kHeader + len;
    }
    used = at;
  };
  uint64_t pos = 0;
  while (pos < fileBytes_) {
    const size_t want = size_t(std::min<uint64_t>(kBufferBytes, fileBytes_ - pos));
    piece.resize(want);
    size_t got = 0;
    if (Status s = file_.ReadAt(pos, piece.data(), want, got)) return s;
    size_t used = 0;
    walk(piece.data(), got, pos, used);
    if (used == 0) break;  // cannot happen with records under the piece size
    pos += used;
  }
  size_t used = 0;
  walk(buffer_.data(), buffer_.size(), fileBytes_, used);
  std::stable_sort(out.begin(), out.end(), [](const ExfatFinding& a, const ExfatFinding& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.at < b.at;
  });
  out.erase(std::unique(out.begin(), out.end(),
                        [](const ExfatFinding& a, const ExfatFinding& b) { return a.kind == b.kind && a.at == b.at; }),
            out.end());
  return kOk;
}

Status ExfatFindings::Read(const ExfatFinding& f, std::vector<uint8_t>& out) const {
  out.resize(f.bytes);
  if (f.bytes == 0) return kOk;
  if (f.offset >= fileBytes_) {
    const uint64_t in = f.offset - fileBytes_;
    if (in + f.bytes > buffer_.size()) return kInvalidArg;
    std::memcpy(out.data(), buffer_.data() + in, f.bytes);
    return kOk;
  }
  size_t got = 0;
  if (Status s = file_.ReadAt(f.offset, out.data(), f.bytes, got)) return s;
  return got == f.bytes ? kOk : kReadFault;
}

}  // namespace dunmere
