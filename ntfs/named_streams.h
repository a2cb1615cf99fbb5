#pragma once
// Named data streams ("file:stream" on Windows): which of a file's named
// $DATA attributes carry a user's data, how a found item says which stream it
// is, and the name and content verdict its row is listed with.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "engine/content_check.h"
#include "engine/found_item.h"
#include "ntfs/attribute_list.h"
#include "ntfs/mft_record.h"

namespace dunmere {

// Key of a stream name: FNV-1a of its UTF-16LE bytes.
uint32_t StreamNameKey(ByteView utf16Name);

// NTFS items leave dataAreaStart unused for their file's own data (0); a
// stream's item carries this flag and its name's key there, so that copy-out
// finds the stream again in the record.
inline constexpr uint64_t kStreamItemFlag = uint64_t(1) << 63;
inline bool IsStreamItem(const FoundItemRecord& r) { return (r.dataAreaStart & kStreamItemFlag) != 0; }
inline uint64_t StreamItemTag(uint32_t key) { return kStreamItemFlag | key; }

// Which $DATA attributes of a file are meant: its own (unnamed) data, one
// named stream, or every named stream.
struct DataSelector {
  enum class Kind : uint8_t { kUnnamed, kNamed, kEveryNamed };
  Kind kind = Kind::kUnnamed;
  uint32_t key = 0;

  static DataSelector Of(const FoundItemRecord& r) {
    return IsStreamItem(r) ? DataSelector{Kind::kNamed, uint32_t(r.dataAreaStart)} : DataSelector{};
  }
  bool MatchesName(ByteView utf16Name) const;
  bool Matches(const AttributeView& a) const { return MatchesName(a.name); }
  bool Matches(const AttributeListEntry& e) const {
    // A name that did not fit its entry: the record is read and judged by its attributes.
    return e.nameLength && e.name.size() == 0 ? kind != Kind::kUnnamed : MatchesName(e.name);
  }
};

struct NamedStream {
  std::string name;  // UTF-8
  uint32_t key = 0;
  bool resident = false;
  ByteView value;                     // resident
  std::vector<AttributeView> pieces;  // non-resident, in any order
  uint64_t size = 0;
  bool compressedOrEncrypted = false;
};

// Groups the named $DATA attributes among those of one file's records by
// name, in the order first met. Streams that carry no user data are left
// out: NTFS's own ("$" names) and empty ones. A non-resident stream whose
// first piece is missing is left out too (its size is unknown).
std::vector<NamedStream> UserStreams(const std::vector<AttributeView>& attributes);

// The name a stream's row is listed under: "file:stream", and when its
// content is of a known format that the stream's own name does not say,
// that format's extension after it ("notes.txt:photo" holding a JPEG is
// "notes.txt:photo.jpg"), since the listing files a row by its extension.
std::string StreamRowName(std::string_view file, std::string_view stream, std::string_view format);

// The format the first bytes of a stream hold, asked of the engine's content
// check one carvable format at a time; empty when none fits or the check is unset.
std::string StreamFormat(const ContentCheck& check, const ContentSample& sample);

// A stream's row name and content verdict (the contentOk of its record):
// the format its bytes hold decides; without one, its own name's extension
// is checked as a file's would be. `sample.firstBytes` empty: the bytes could
// not be read (compressed, encrypted or out of reach), nothing is judged.
struct StreamVerdict {
  std::string name;
  uint32_t contentOk = 1;
};
StreamVerdict JudgeStream(std::string_view file, std::string_view stream, const ContentCheck& check,
                          ContentSample sample);

}  // namespace dunmere
