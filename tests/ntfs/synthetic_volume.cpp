#include "tests/ntfs/synthetic_volume.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace dunmere::test {

namespace {
void Align8(std::vector<uint8_t>& v) {
  while (v.size() % 8) v.push_back(0);
}
}  // namespace

SyntheticVolume::SyntheticVolume() : image_(kSectors * kSector, 0) {
  uint8_t* b = image_.data();
  std::memcpy(b + 3, "NTFS    ", 8);
  PutLe16(b + 11, kSector);
  b[13] = 1;
  b[21] = 0xF8;
  PutLe64(b + 40, kSectors - 1);
  PutLe64(b + 48, kMftLcn);
  PutLe64(b + 56, 2);
  b[64] = 0xF6;  // 2^10-byte records
  b[68] = 1;
  b[510] = 0x55;
  b[511] = 0xAA;
  // $MFT: one run of 128 clusters at 64.
  PutRecord(0, kInUse, {FileName(5, u"$MFT"), NonResident(0x80, {0x11, 0x80, 0x40, 0x00}, kMftRecords * 1024, 0, 127)});
  PutRecord(5, kInUse | kDir, {FileName(5, u".")});
  // $Bitmap in cluster 200: clusters 0-255 and the data clusters used below allocated.
  std::vector<uint8_t> bits(512, 0);
  for (int i = 0; i < 32; ++i) bits[i] = 0xFF;
  PutCluster(200, bits);
  PutRecord(6, kInUse, {FileName(5, u"$Bitmap"), NonResident(0x80, {0x21, 0x01, 0xC8, 0x00}, 512, 0, 0)});
}

std::vector<uint8_t> SyntheticVolume::FileName(uint64_t parent, const std::u16string& name, uint8_t ns) {
  std::vector<uint8_t> value(66 + 2 * name.size(), 0);
  PutLe64(value.data(), parent | (uint64_t(1) << 48));
  PutLe64(value.data() + 8, 132000000000000000ull);
  value[64] = uint8_t(name.size());
  value[65] = ns;
  for (size_t i = 0; i < name.size(); ++i) PutLe16(value.data() + 66 + 2 * i, name[i]);
  std::vector<uint8_t> a(24, 0);
  PutLe32(a.data(), 0x30);
  PutLe32(a.data() + 16, uint32_t(value.size()));
  PutLe16(a.data() + 20, 24);
  a.insert(a.end(), value.begin(), value.end());
  Align8(a);
  PutLe32(a.data() + 4, uint32_t(a.size()));
  return a;
}

std::vector<uint8_t> SyntheticVolume::ResidentData(const std::vector<uint8_t>& value) {
  std::vector<uint8_t> a(24, 0);
  PutLe32(a.data(), 0x80);
  PutLe32(a.data() + 16, uint32_t(value.size()));
  PutLe16(a.data() + 20, 24);
  a.insert(a.end(), value.begin(), value.end());
  Align8(a);
  PutLe32(a.data() + 4, uint32_t(a.size()));
  return a;
}

std::vector<uint8_t> SyntheticVolume::NonResident(uint32_t type, const std::vector<uint8_t>& runs, uint64_t realSize,
                                                  uint64_t lowestVcn, uint64_t highestVcn, uint64_t initSize) {
  std::vector<uint8_t> a(64, 0);
  PutLe32(a.data(), type);
  a[8] = 1;
  PutLe64(a.data() + 16, lowestVcn);
  PutLe64(a.data() + 24, highestVcn);
  PutLe16(a.data() + 32, 64);
  PutLe64(a.data() + 40, (realSize + 511) / 512 * 512);
  PutLe64(a.data() + 48, realSize);
  PutLe64(a.data() + 56, initSize == ~0ull ? realSize : initSize);
  a.insert(a.end(), runs.begin(), runs.end());
  a.push_back(0);
  Align8(a);
  PutLe32(a.data() + 4, uint32_t(a.size()));
  return a;
}

std::vector<uint8_t> SyntheticVolume::Named(const std::vector<uint8_t>& attr, const std::u16string& name) {
  // The name goes right after the header; what followed it (the value or
  // the run list) moves behind the name.
  const size_t header = attr[8] ? 64 : 24;
  const size_t contentAt = attr[8] ? Le16(attr.data() + 32) : Le16(attr.data() + 20);
  std::vector<uint8_t> a(attr.begin(), attr.begin() + header);
  for (char16_t c : name) {
    a.push_back(uint8_t(c));
    a.push_back(uint8_t(c >> 8));
  }
  Align8(a);
  const size_t moved = a.size();
  a.insert(a.end(), attr.begin() + contentAt, attr.end());
  Align8(a);
  a[9] = uint8_t(name.size());
  PutLe16(a.data() + 10, uint16_t(header));
  PutLe16(a.data() + (attr[8] ? 32 : 20), uint16_t(moved));
  PutLe32(a.data() + 4, uint32_t(a.size()));
  return a;
}

std::vector<uint8_t> SyntheticVolume::AttributeList(const std::vector<ListEntry>& entries) {
  std::vector<uint8_t> value;
  for (const ListEntry& e : entries) {
    std::vector<uint8_t> x(std::max<size_t>(32, (26 + 2 * e.name.size() + 7) & ~size_t(7)), 0);
    PutLe32(x.data(), e.type);
    PutLe16(x.data() + 4, uint16_t(x.size()));
    x[6] = uint8_t(e.name.size());
    x[7] = 26;
    for (size_t i = 0; i < e.name.size(); ++i) PutLe16(x.data() + 26 + 2 * i, e.name[i]);
    PutLe64(x.data() + 8, e.lowestVcn);
    PutLe64(x.data() + 16, e.record | (uint64_t(1) << 48));
    value.insert(value.end(), x.begin(), x.end());
  }
  std::vector<uint8_t> a = ResidentData(value);
  PutLe32(a.data(), 0x20);
  return a;
}

uint8_t* SyntheticVolume::RecordBytes(uint32_t n) { return image_.data() + kMftLcn * kSector + n * 1024ull; }

void SyntheticVolume::PutRecord(uint32_t n, uint16_t flags, const std::vector<std::vector<uint8_t>>& attrs,
                                uint64_t baseRecord) {
  std::vector<uint8_t> r(1024, 0);
  std::memcpy(r.data(), "FILE", 4);
  PutLe16(r.data() + 4, 48);  // update sequence array at 48: number + 2 tails
  PutLe16(r.data() + 6, 3);
  PutLe16(r.data() + 16, 1);
  PutLe16(r.data() + 18, 1);
  PutLe16(r.data() + 20, 56);
  PutLe16(r.data() + 22, flags);
  PutLe64(r.data() + 32, baseRecord ? (baseRecord | (uint64_t(1) << 48)) : 0);
  PutLe32(r.data() + 44, n);
  size_t pos = 56;
  for (const auto& a : attrs) {
    std::memcpy(r.data() + pos, a.data(), a.size());
    pos += a.size();
  }
  PutLe32(r.data() + pos, 0xFFFFFFFFu);
  pos += 8;
  PutLe32(r.data() + 24, uint32_t(pos));
  PutLe32(r.data() + 28, 1024);
  // Protect the sector tails: save them in the array, write the number there.
  PutLe16(r.data() + 48, 0x0007);
  for (int i = 1; i <= 2; ++i) {
    size_t tail = size_t(i) * 512 - 2;
    r[48 + 2 * i] = r[tail];
    r[48 + 2 * i + 1] = r[tail + 1];
    PutLe16(r.data() + tail, 0x0007);
  }
  std::memcpy(image_.data() + kMftLcn * kSector + n * 1024ull, r.data(), r.size());
}

void SyntheticVolume::PutCluster(uint64_t lcn, const std::vector<uint8_t>& bytes) {
  std::memcpy(image_.data() + lcn * kSector, bytes.data(), std::min<size_t>(bytes.size(), kSector));
}

void SyntheticVolume::Save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image_.data()), std::streamsize(image_.size()));
}

}  // namespace dunmere::test
