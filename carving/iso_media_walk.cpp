#include "carving/iso_media_walk.h"

#include <cstring>

namespace dunmere {

namespace {
// Top-level box types are four lower-case letters, digits or blanks ("moov",
// "mdat", "free", "wide", "uuid", "pnot"); random bytes are almost never that.
bool BoxType(const uint8_t* t) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = t[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ')) return false;
  }
  return true;
}
bool Is(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }
}  // namespace

void IsoMediaWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  const uint32_t size32 = Be32(s);
  const uint8_t* type = s + 4;
  if (size32 == 0 && BoxType(type)) {
    // The last box runs to the end of the file, which only the fallback can
    // tell; media data doing so is how a recording closes without its size.
    if (Is(type, "mdat")) media_ = true;
    toEnd_ = true;
    Break();
    return;
  }
  if (!BoxType(type) || (size32 != 1 && size32 < 8)) {
    // Not a box: the file ended at the last box, if it had a movie.
    if (movie_ && pos > 0) Finish(pos);
    else Break();
    return;
  }
  // Each file has one of each: a second one opens the next file.
  if (pos > 0 && (Is(type, "ftyp") || (movie_ && Is(type, "moov")))) {
    Finish(pos);
    return;
  }
  uint64_t size = size32;
  if (size32 == 1) {
    if (n < 16) {
      Want(pos, 16);
      return;
    }
    size = Be64(s + 8);
    if (size < 16) {
      Break();
      return;
    }
  }
  if (Is(type, "moov")) movie_ = true;
  if (Is(type, "mdat")) media_ = true;
  if (pos + size < pos) {  // overflow: a hostile size
    Break();
    return;
  }
  Want(pos + size, 8);
}

}  // namespace dunmere
