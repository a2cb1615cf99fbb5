#pragma once
// Document formats: OLE compound files (Word, Excel, PowerPoint), OOXML
// packages, PDF, Flash sources, TrueType fonts, mail and database files.
#include "carving/signature_table.h"

namespace dunmere {

extern const DetectorInfo kOleDetector, kOoxmlDetector, kPdfDetector, kFlaDetector, kTtfDetector, kPstDetector,
    kDbDetector, kDbxDetector;

uint64_t OleSize(CarveContext& ctx, ByteView sector);
uint64_t OoxmlSize(CarveContext& ctx, ByteView sector);
uint64_t PdfSize(CarveContext& ctx, ByteView sector);
uint64_t FlaSize(CarveContext& ctx, ByteView sector);
uint64_t TtfSize(CarveContext& ctx, ByteView sector);
uint64_t PstSize(CarveContext& ctx, ByteView sector);
uint64_t DbSize(CarveContext& ctx, ByteView sector);
uint64_t DbxSize(CarveContext& ctx, ByteView sector);

// The zip end rule shared with OOXML: the last end-of-central-directory
// record of a chunk ends the file after the record and its comment.
uint64_t ZipEndSize(CarveContext& ctx, ByteView sector, uint64_t cap);

}  // namespace dunmere
