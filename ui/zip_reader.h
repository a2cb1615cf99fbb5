#pragma once
// Reads members of a zip archive held in memory (the skin is embedded in the
// program). Sizes and offsets come from the central directory, because the
// local headers of streamed archives may carry zeros; every member is checked
// against its CRC before it is handed out.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace dunmere::ui {

struct ZipMember {
  std::string name;          // as stored, "/" separated
  uint16_t method = 0;       // 0 stored, 8 deflated
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t size = 0;
  uint32_t localHeaderOffset = 0;
};

enum class ZipError {
  kNone = 0,
  kNotFound,
  kBadArchive,      // no end record, directory outside the archive
  kBadLocalHeader,  // local header missing or data outside the archive
  kUnsupported,     // compression method other than stored/deflate, or too large
  kInflateFailed,
  kSizeMismatch,
  kCrcMismatch,
};
const char* ZipErrorText(ZipError e);

class ZipReader {
 public:
  // Largest member we inflate; the skin's largest picture is a few hundred KiB.
  static constexpr uint32_t kMaxMemberSize = 64u << 20;

  ZipReader() = default;
  // The bytes must outlive the reader. Returns false (and lists nothing) when
  // the central directory cannot be found or lies outside the bytes.
  bool Open(ByteView archive);
  bool IsOpen() const { return open_; }

  const std::vector<ZipMember>& Members() const { return members_; }
  // Looks up a member by name; "\" is taken as "/" and, failing an exact
  // match, case is ignored (layout names are written either way).
  const ZipMember* Find(std::string_view name) const;
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }

  ZipError Read(std::string_view name, std::vector<uint8_t>& out) const;
  ZipError Read(const ZipMember& member, std::vector<uint8_t>& out) const;

  static std::string NormalizeName(std::string_view name);

 private:
  ByteView data_;
  bool open_ = false;
  std::vector<ZipMember> members_;
  std::map<std::string, size_t> byName_;
  std::map<std::string, size_t> byLowerName_;
};

}  // namespace dunmere::ui
