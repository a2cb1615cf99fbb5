#pragma once
// Little-endian reads from on-disk bytes. Every parser reads through these,
// never by casting pointers, so alignment and bounds are handled in one place.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace dunmere {

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }
inline uint16_t Be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t Be64(const uint8_t* p) { return (uint64_t(Be32(p)) << 32) | Be32(p + 4); }
inline void PutLe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

// A bounds-checked view of bytes. Reads outside the view yield 0 (and
// `Equals` false), so a damaged length can never read past the buffer;
// parsers of untrusted sectors check `Has` up front where a 0 could pass
// for a real value.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteView(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool Has(size_t off, size_t len) const { return off <= size_ && len <= size_ - off; }

  uint8_t U8(size_t off) const { return Has(off, 1) ? data_[off] : 0; }
  uint16_t U16(size_t off) const { return Has(off, 2) ? Le16(data_ + off) : 0; }
  uint32_t U32(size_t off) const { return Has(off, 4) ? Le32(data_ + off) : 0; }
  uint64_t U64(size_t off) const { return Has(off, 8) ? Le64(data_ + off) : 0; }
  uint16_t B16(size_t off) const { return Has(off, 2) ? Be16(data_ + off) : 0; }
  uint32_t B32(size_t off) const { return Has(off, 4) ? Be32(data_ + off) : 0; }
  // True when the bytes at off equal the text (no terminating NUL compared).
  bool Equals(size_t off, std::string_view text) const {
    return Has(off, text.size()) && std::memcmp(data_ + off, text.data(), text.size()) == 0;
  }
  ByteView Sub(size_t off, size_t len) const {
    if (off > size_) return {};
    return ByteView(data_ + off, len <= size_ - off ? len : size_ - off);
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace dunmere
