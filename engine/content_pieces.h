#pragma once
// A copy's content goes to its sink in pieces of at most 64 KiB, the unit its
// progress and stop question go by, whatever size the reads had.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace dunmere {

inline constexpr size_t kContentPieceBytes = 65536;

using ContentPieceSink = std::function<int(const uint8_t* data, size_t len)>;

// Hands `len` bytes to the sink piece by piece; the sink's first non-zero
// answer ends it and is returned.
inline int FeedInPieces(const ContentPieceSink& sink, const uint8_t* data, uint64_t len) {
  for (uint64_t done = 0; done < len;) {
    const size_t piece = size_t(std::min<uint64_t>(kContentPieceBytes, len - done));
    if (int answer = sink(data + done, piece)) return answer;
    done += piece;
  }
  return 0;
}

// `len` zero bytes (a file's part past its valid data), the same way.
inline int FeedZeros(const ContentPieceSink& sink, uint64_t len) {
  static const uint8_t kZeros[kContentPieceBytes] = {};
  for (uint64_t left = len; left > 0;) {
    const size_t piece = size_t(std::min<uint64_t>(kContentPieceBytes, left));
    if (int answer = sink(kZeros, piece)) return answer;
    left -= piece;
  }
  return 0;
}

}  // namespace dunmere
