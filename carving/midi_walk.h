#pragma once
// Follows a standard MIDI file's chunks: the header chunk with its track
// count, then chunks of 8 header bytes plus their length. The file ends after
// the announced number of track chunks, the last of which must close with an
// end-of-track event (FF 2F 00); chunk ids that are not text break the walk.
#include "carving/structure_walk.h"

namespace dunmere {

class MidiWalk : public StructureWalk {
 public:
  MidiWalk() { Want(0, 14); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  enum class Next : uint8_t { kHeader, kChunk, kEndOfTrack };
  Next next_ = Next::kHeader;
  uint32_t tracks_ = 0;
  uint32_t counted_ = 0;
};

}  // namespace dunmere
