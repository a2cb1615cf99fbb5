#include "tests/exfat/exfat_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "exfat/exfat_boot_sector.h"
#include "exfat/exfat_dir_entry.h"
#include "exfat/exfat_fat.h"
#include "exfat/exfat_upcase.h"

namespace dunmere::test {

namespace {
uint32_t Shift(uint32_t v) {
  uint32_t s = 0;
  while ((1u << s) < v) ++s;
  return s;
}

// A short up-case table: a-z to A-Z, everything else to itself.
std::vector<uint8_t> UpcaseTable() {
  std::vector<uint16_t> units{0xFFFF, 'a'};
  for (char16_t c = 'A'; c <= 'Z'; ++c) units.push_back(c);
  units.push_back(0xFFFF);
  units.push_back(uint16_t(0x10000 - 'z' - 1));
  std::vector<uint8_t> b(units.size() * 2);
  for (size_t i = 0; i < units.size(); ++i) PutLe16(&b[i * 2], units[i]);
  return b;
}
}  // namespace

std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b[i] = uint8_t(x);
  }
  return b;
}

std::vector<uint8_t> ExfatBuilder::MakeSet(const Set& s) {
  const size_t nameEntries = std::max<size_t>(1, (s.name.size() + 14) / 15);
  const size_t count = 2 + nameEntries + s.extraSecondaries;
  std::vector<uint8_t> e(count * 32, 0);
  e[0] = kExfatFileEntry;
  e[1] = uint8_t(count - 1);
  PutLe16(&e[4], s.directory ? 0x10 : 0x20);
  for (size_t at : {8u, 12u, 16u}) PutLe32(&e[at], kStamp);
  e[20] = kTenMs;
  e[21] = kTenMs;
  e[22] = e[23] = e[24] = kUtcOffset;
  uint8_t* st = &e[32];
  st[0] = kExfatStreamEntry;
  st[1] = uint8_t(kExfatAllocationPossible | (s.noFatChain ? kExfatNoFatChain : 0));
  st[3] = s.nameLengthOverride ? s.nameLengthOverride : uint8_t(s.name.size());
  ExfatUpcaseTable table;
  const std::vector<uint8_t> up = UpcaseTable();
  (void)table.Load(ByteView(up.data(), up.size()));
  PutLe16(&st[4], ExfatNameHash(s.name, table));
  PutLe64(&st[8], s.validDataLength == UINT64_MAX ? s.dataLength : s.validDataLength);
  PutLe32(&st[20], s.firstCluster);
  PutLe64(&st[24], s.dataLength);
  for (size_t k = 0; k < nameEntries; ++k) {
    uint8_t* n = &e[(2 + k) * 32];
    n[0] = kExfatNameEntry;
    for (size_t u = 0; u < 15 && k * 15 + u < s.name.size(); ++u) PutLe16(&n[2 + 2 * u], s.name[k * 15 + u]);
  }
  for (size_t k = 0; k < s.extraSecondaries; ++k) e[(2 + nameEntries + k) * 32] = 0xE0;
  PutLe16(&e[2], ExfatSetChecksum(ByteView(e.data(), e.size()), false));
  if (s.deleted)
    for (size_t i = 0; i < count; ++i) e[i * 32] &= uint8_t(~kExfatInUse);
  return e;
}

ExfatBuilder::ExfatBuilder(Options o) : o_(o) {
  sectorsPerCluster_ = o_.clusterBytes / o_.bytesPerSector;
  fatLength_ = uint32_t(((uint64_t(o_.clusterCount) + 2) * 4 + o_.bytesPerSector - 1) / o_.bytesPerSector);
  heapOffset_ = (fatOffset_ + fatLength_ + sectorsPerCluster_ - 1) / sectorsPerCluster_ * sectorsPerCluster_;
  volumeSectors_ = heapOffset_ + uint64_t(o_.clusterCount) * sectorsPerCluster_;
  image_.assign(size_t(VolumeOffset() + volumeSectors_ * o_.bytesPerSector), 0);

  boot_.assign(o_.bytesPerSector, 0);
  uint8_t* b = boot_.data();
  b[0] = 0xEB;
  b[1] = 0x76;
  b[2] = 0x90;
  std::memcpy(b + 3, "EXFAT   ", 8);
  PutLe64(b + 64, o_.partitionStart);
  PutLe64(b + 72, volumeSectors_);
  PutLe32(b + 80, fatOffset_);
  PutLe32(b + 84, fatLength_);
  PutLe32(b + 88, heapOffset_);
  PutLe32(b + 92, o_.clusterCount);
  PutLe32(b + 96, RootCluster());
  PutLe32(b + 100, 0x1234ABCD);
  PutLe16(b + 104, 0x0100);
  b[108] = uint8_t(Shift(o_.bytesPerSector));
  b[109] = uint8_t(Shift(sectorsPerCluster_));
  b[110] = 1;
  b[111] = 0x80;
  b[510] = 0x55;
  b[511] = 0xAA;

  SetFat(0, 0xFFFFFFF8);
  SetFat(1, 0xFFFFFFFF);
  // Bitmap, up-case table, root: one cluster each, chained as mkfs.exfat does.
  for (uint32_t c = 2; c <= 4; ++c) {
    SetFat(c, kExfatEndOfChain);
    SetInUse(c, true);
  }
  const std::vector<uint8_t> up = UpcaseTable();
  Put(ClusterOffset(3), up);
  std::vector<uint8_t> root;
  std::vector<uint8_t> label(32, 0);
  label[0] = kExfatLabelEntry;
  label[1] = uint8_t(std::min<size_t>(11, o_.label.size()));
  for (size_t i = 0; i < label[1]; ++i) PutLe16(&label[2 + 2 * i], o_.label[i]);
  std::vector<uint8_t> bitmap(32, 0);
  bitmap[0] = kExfatBitmapEntry;
  PutLe32(&bitmap[20], 2);
  PutLe64(&bitmap[24], (o_.clusterCount + 7) / 8);
  std::vector<uint8_t> upcase(32, 0);
  upcase[0] = kExfatUpcaseEntry;
  PutLe32(&upcase[4], ExfatTableChecksum(ByteView(up.data(), up.size())));
  PutLe32(&upcase[20], 3);
  PutLe64(&upcase[24], up.size());
  AddEntries(RootCluster(), label);
  AddEntries(RootCluster(), bitmap);
  AddEntries(RootCluster(), upcase);
}

uint64_t ExfatBuilder::ClusterOffset(uint32_t c) const {
  return VolumeOffset() + uint64_t(heapOffset_) * o_.bytesPerSector + uint64_t(c - 2) * o_.clusterBytes;
}

void ExfatBuilder::SetFat(uint32_t c, uint32_t v) {
  PutLe32(image_.data() + VolumeOffset() + uint64_t(fatOffset_) * o_.bytesPerSector + uint64_t(c) * 4, v);
}

void ExfatBuilder::SetInUse(uint32_t c, bool used) {
  uint8_t& byte = image_[size_t(ClusterOffset(2) + (c - 2) / 8)];
  const uint8_t bit = uint8_t(1u << ((c - 2) % 8));
  byte = used ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
}

void ExfatBuilder::Put(uint64_t at, const std::vector<uint8_t>& bytes) {
  if (at + bytes.size() > image_.size()) throw std::out_of_range("past the image");
  std::copy(bytes.begin(), bytes.end(), image_.begin() + ptrdiff_t(at));
}

uint32_t ExfatBuilder::Allocate(uint32_t n, bool noFatChain) {
  const uint32_t first = nextFree_;
  if (first + n > o_.clusterCount + 2) throw std::out_of_range("volume full");
  for (uint32_t i = 0; i < n; ++i) {
    SetInUse(first + i, true);
    if (!noFatChain) SetFat(first + i, i + 1 < n ? first + i + 1 : kExfatEndOfChain);
  }
  nextFree_ += n;
  return first;
}

uint64_t ExfatBuilder::NextEntryOffset(uint32_t folder) const {
  auto it = used_.find(folder);
  return ClusterOffset(folder) + (it == used_.end() ? 0 : it->second);
}

void ExfatBuilder::AddEntries(uint32_t folder, const std::vector<uint8_t>& entries) {
  uint32_t& used = used_[folder];
  if (used + entries.size() > o_.clusterBytes) throw std::out_of_range("folder full");
  Put(ClusterOffset(folder) + used, entries);
  used += uint32_t(entries.size());
}

uint32_t ExfatBuilder::AddFolder(uint32_t parent, const std::u16string& name, bool deleted) {
  const uint32_t c = Allocate(1);
  Set s;
  s.name = name;
  s.directory = true;
  s.deleted = deleted;
  s.firstCluster = c;
  s.dataLength = o_.clusterBytes;
  AddEntries(parent, MakeSet(s));
  used_[c] = 0;
  if (deleted) SetInUse(c, false);
  return c;
}

uint32_t ExfatBuilder::AddFile(uint32_t parent, const std::u16string& name, const std::vector<uint8_t>& content,
                               bool deleted, bool noFatChain) {
  const uint32_t n = uint32_t((content.size() + o_.clusterBytes - 1) / o_.clusterBytes);
  const uint32_t c = n ? Allocate(n, noFatChain) : 0;
  if (n) Put(ClusterOffset(c), content);
  Set s;
  s.name = name;
  s.deleted = deleted;
  s.firstCluster = c;
  s.dataLength = content.size();
  s.noFatChain = noFatChain;
  AddEntries(parent, MakeSet(s));
  if (deleted)
    for (uint32_t i = 0; i < n; ++i) {
      SetInUse(c + i, false);
      if (!noFatChain) SetFat(c + i, 0);
    }
  return c;
}

void ExfatBuilder::WriteBootRegions() {
  const uint32_t bps = o_.bytesPerSector;
  std::vector<uint8_t> region(size_t(bps) * 12, 0);
  std::copy(boot_.begin(), boot_.end(), region.begin());
  for (uint32_t s = 1; s <= 8; ++s) {
    region[size_t(s) * bps + bps - 2] = 0x55;
    region[size_t(s) * bps + bps - 1] = 0xAA;
  }
  const uint32_t sum = ExfatBootChecksum(ByteView(region.data(), size_t(bps) * 11));
  for (uint32_t i = 0; i < bps; i += 4) PutLe32(&region[size_t(bps) * 11 + i], sum);
  Put(VolumeOffset(), region);
  Put(VolumeOffset() + uint64_t(bps) * 12, region);
}

const std::vector<uint8_t>& ExfatBuilder::Image() {
  WriteBootRegions();
  return image_;
}

void ExfatBuilder::Save(const std::string& path) {
  const std::vector<uint8_t>& img = Image();
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(img.data()), std::streamsize(img.size()));
}

}  // namespace dunmere::test
