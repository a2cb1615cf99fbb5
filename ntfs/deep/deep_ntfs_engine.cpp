#include "ntfs/deep/deep_ntfs_engine.h"
#include "ntfs/deep/deep_ntfs_parts.h"

#include "engine/stop_poll.h"


#include "engine/log_name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

#include "base/text.h"
#include "ntfs/attribute_list.h"
#include "ntfs/data_layout.h"
#include "ntfs/layout_stream.h"
#include "ntfs/mft_record.h"
#include "ntfs/named_streams.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/record_summary.h"

namespace dunmere {

using namespace deep_ntfs;


DeepNtfsEngine::DeepNtfsEngine() = default;

DeepNtfsEngine::~DeepNtfsEngine() { store_.reset(); }

std::string DeepNtfsEngine::LogName(uint64_t start, const struct tm& t) {
  return FormatLogName("Pro_Ntfs_", start, t);
}

Status DeepNtfsEngine::Open(const Medium& medium, uint16_t tag) {
  source_ = medium.source.Share();
  return openStatus_ = OpenArea(medium.start, medium.count, tag);
}

Status DeepNtfsEngine::OpenArea(uint64_t start, uint64_t count, uint16_t tag) {
  tag_ = tag;
  areaStart_ = start;
  areaCount_ = count;
  sectorSize_ = source_.UnitSize() ? source_.UnitSize() : 512;
  sectorsPerRecord_ = sectorSize_ == 512 ? 2 : 1;
  recordBytes_ = sectorSize_ * sectorsPerRecord_;
  // The first bytes only seed the table of a volume still in place; an
  // unreadable start does not keep the deep scan from running.
  boot_.assign(std::max<size_t>(kBootBytes, sectorSize_), 0);
  if (ReadSectorsAt(start, uint32_t(boot_.size() / sectorSize_), boot_.data())) boot_.clear();
  sectorsPerCluster_ = EstimateSectorsPerCluster();
  return kOk;
}

uint32_t DeepNtfsEngine::EstimateSectorsPerCluster() const {
  // A volume still in place says its cluster size itself (also the large
  // ones a guess by size never reaches).
  NtfsBootInfo info;
  if (!boot_.empty() && ParseNtfsBootSector(ByteView(boot_.data(), boot_.size()), info) == kOk &&
      info.bytesPerSector == sectorSize_)
    return info.sectorsPerCluster;
  double mib = double(areaCount_) * sectorSize_ / double(1 << 20);
  double d = sectorSize_ / 512.0;
  if (mib > 2048 * d) return 8;
  if (mib > 1024 * d) return 4;
  if (mib > 512 * d) return 2;
  if (mib > 7 * d) return 1;
  return 8;
}

Status DeepNtfsEngine::ReadSectorsAt(uint64_t sector, uint32_t count, uint8_t* dst) const {
  uint32_t got = 0;
  Status s = source_.ReadSectors(count, dst, sector, sectorSize_, got);
  if (s == kOk && got != count) s = kReadFault;
  return s;
}

Status DeepNtfsEngine::ReadRecordAt(uint64_t sector, std::vector<uint8_t>& rec) const {
  rec.assign(recordBytes_, 0);
  if (Status s = ReadSectorsAt(sector, sectorsPerRecord_, rec.data())) return s;
  if (!HasFileSignature(ByteView(rec.data(), rec.size()))) return kNotFileRecord;
  return ApplyFixup(rec);
}

Status DeepNtfsEngine::StartScan(const std::string* earlierLog) {
  mftMap_.Clear();
  bitmaps_.clear();
  deferred_.clear();
  volumes_.clear();
  volumeIndex_.clear();
  folderCount_ = 0;
  nextAlias_ = 0xFFFFFFFEu;
  sectorsPerCluster_ = EstimateSectorsPerCluster();
  store_.reset();
  std::string name;
  if (earlierLog) {
    name = *earlierLog;
  } else {
    std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    name = LogName(areaStart_, local);
  }
  if (Status s = OpenStore(name)) return s;
  // A resumed log already holds folder items of its first part: they are not
  // made twice, and new folder ids stay clear of the ids it uses.
  resumedFolderIds_.clear();
  for (const FolderNameEntry& e : store_->FolderNames()) resumedFolderIds_.insert(e.itemId);
  auto below = [&](uint32_t id) {
    if (id >= kAliasFloor && id <= nextAlias_) nextAlias_ = id - 1;
  };
  for (uint32_t id : resumedFolderIds_) below(id);
  for (const auto& [key, kids] : store_->Relations()) below(RelationParent(key));
  SeedFromBootSector();
  return kOk;
}

void DeepNtfsEngine::SeedFromBootSector() {
  // A volume still in place: its $MFT is known before the pass meets it (the
  // pass may read only the free clusters, never the table itself).
  if (openStatus_ || boot_.empty()) return;
  NtfsBootInfo info;
  if (ParseNtfsBootSector(ByteView(boot_.data(), boot_.size()), info) || info.bytesPerSector != sectorSize_) return;
  unsigned __int128 at = (unsigned __int128)info.mftLcn * info.sectorsPerCluster + areaStart_;
  if (at >= source_.SectorCount()) return;
  std::vector<uint8_t> rec(recordBytes_);
  if (ReadSectorsAt(uint64_t(at), sectorsPerRecord_, rec.data())) return;
  (void)ProcessFileRecord(ByteView(rec.data(), rec.size()), uint64_t(at));
}

Status DeepNtfsEngine::ProcessFileRecord(ByteView record, uint64_t sector, bool lostMode,
                                                    uint32_t folderNumber) {
  try {
    return ProcessUnguarded(record, sector, lostMode, folderNumber);
  } catch (const std::exception&) {
    // One record that cannot be handled (no memory for it, say) is lost alone.
    return kInvalidArg;
  }
}

Status DeepNtfsEngine::ProcessUnguarded(ByteView bytes, uint64_t sector, bool lostMode,
                                                   uint32_t folderNumber) {
  if (!store_) return kInvalidArg;
  uint16_t flags = bytes.U16(offsetof(FileRecordHeader, flags));
  if (!lostMode && (flags & kRecordIsDirectory)) return kOk;
  uint32_t own = bytes.U32(offsetof(FileRecordHeader, recordNumber));
  if (lostMode) {
    uint32_t number = folderNumber ? folderNumber : own;
    Attribution at;
    Attribute(number, sector, at);
    Volume* v = VolumeOf(at);
    if (!v) return kInvalidArg;
    std::vector<uint8_t> given(bytes.data(), bytes.data() + std::min<size_t>(bytes.size(), recordBytes_));
    given.resize(recordBytes_, 0);
    Status s = EmitFolder(*v, number, &given);
    return HasFileSignature(bytes) ? s : kNotFileRecord;
  }
  if (!HasFileSignature(bytes)) return kNotFileRecord;
  if (bytes.size() < recordBytes_) return kInvalidArg;
  // The caller's buffer stays as it is: the record's later sectors are
  // examined by the pass in their own right.
  std::vector<uint8_t> rec(bytes.data(), bytes.data() + recordBytes_);
  ByteView v(rec.data(), rec.size());
  uint32_t inUse = v.U32(offsetof(FileRecordHeader, bytesInUse));
  uint32_t firstAttr = v.U16(offsetof(FileRecordHeader, firstAttribute));
  if (inUse > recordBytes_ || firstAttr > recordBytes_ || inUse < firstAttr) return kInvalidArg;
  if (ApplyFixup(rec)) return kInvalidArg;
  RecordHeaderInfo h = ReadRecordHeader(v);
  if (h.baseRecord != 0) return kOk;  // an extension record holds no name
  if (own == 0) {
    AddTable(v, sector);
    return kOk;
  }
  if (own < kFirstUserRecord) return kOk;

  RecordSummary s;
  SummarizeRecord(v, s);
  // The metadata files NTFS keeps in $Extend ($ObjId, $Quota, $UsnJrnl, ...)
  // are no user's files.
  if (!s.hasName || s.name.parentRecord == kExtendRecord) return kOk;
  Attribution at;
  Attribute(own, sector, at);
  // No table met so far explains it: the table may still come (a volume's
  // $MFTMirr lies in its middle, after the records), so the record is taken
  // up again when the pass has met every table.
  if (!at.known && !finishing_ && deferred_.size() < kMaxDeferred) {
    deferred_.push_back(sector);
    return kOk;
  }
  // The record's own runs tell its volume's cluster size best.
  uint32_t spc = 0;
  AttributeView data;
  if (FirstDataPiece(v, data)) spc = SectorsPerClusterOf(data, sectorSize_);
  if (spc)
    sectorsPerCluster_ = spc;
  else
    spc = at.known ? at.table->sectorsPerCluster : sectorsPerCluster_;

  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = tag_;
  r.sourceKind = kSourceDeepNtfs;
  r.isFolder = 0;
  r.itemId = own;
  r.clusterBytes = sectorSize_ * spc;
  r.created = s.name.created;
  r.accessed = s.name.accessed;
  r.modified = s.name.modified;
  r.size = s.hasData ? s.dataSize : s.name.realSize;
  r.dataAreaStart = 0;
  r.location = sector;
  r.partitionStart = at.table->volumeStart;
  SetRecordName(r, s.name.name);
  r.contentOk = CheckContent(s.name.name, s, at.table->volumeStart, spc);

  uint32_t parentId = kRootRecord, level = 0;
  if (s.name.parentRecord != kRootRecord) {
    Volume* vol = s.name.parentRecord <= 0xFFFFFFFFull ? VolumeOf(at) : nullptr;
    if (vol) std::tie(parentId, level) = PlaceUnder(*vol, s.name.parentRecord);
  }
  store_->Append(r, parentId, level);
  if (s.hasNamedData) AppendStreams(v, r, s.name.name, at.table->volumeStart, spc, parentId, level);
  return kOk;
}

void DeepNtfsEngine::AppendStreams(ByteView rec, const FoundItemRecord& file, const std::string& fileName,
                                   uint64_t volumeStart, uint32_t spc, uint32_t parentId, uint32_t level) {
  // Only the base record is at hand here: streams held by extension records
  // would cost reads of records the pass may not have met yet.
  std::vector<AttributeView> attributes;
  AttributeWalker walk(rec);
  AttributeView a;
  while (walk.Next(a))
    if (a.type == kAttrData && a.name.size()) attributes.push_back(a);
  std::vector<uint8_t> sector(sectorSize_, 0);
  for (const NamedStream& st : UserStreams(attributes)) {
    ContentSample sample;
    sample.source = &source_;
    sample.sectorSize = sectorSize_;
    if (st.resident) {
      sample.firstBytes = st.value;
    } else if (!st.compressedOrEncrypted) {
      DataLayout layout;
      if (BuildDataLayout(st.pieces, 0, sectorSize_ * spc, layout) == kOk && !layout.extents.empty() &&
          !layout.extents.front().sparse) {
        unsigned __int128 at = (unsigned __int128)layout.extents.front().lcn * spc + volumeStart;
        if (at < source_.SectorCount() && ReadSectorsAt(uint64_t(at), 1, sector.data()) == kOk) {
          sample.firstBytes = ByteView(sector.data(), size_t(std::min<uint64_t>(sector.size(), st.size)));
          sample.absoluteSector = uint64_t(at);
        }
      }
    }
    FoundItemRecord r = file;
    r.size = st.size;
    r.dataAreaStart = StreamItemTag(st.key);
    StreamVerdict verdict = JudgeStream(fileName, st.name, contentCheck_, sample);
    SetRecordName(r, verdict.name);
    r.contentOk = verdict.contentOk;
    store_->Append(r, parentId, level);
  }
}

uint32_t DeepNtfsEngine::CheckContent(const std::string& name, const RecordSummary& s, uint64_t volumeStart,
                                                 uint32_t spc) {
  if (s.hasData && s.dataResident && s.dataSize == 0) return 0;
  std::string ext = ExtensionOf(name);
  if (ext.empty()) return 1;
  std::vector<uint8_t> sector(sectorSize_, 0);
  uint64_t at = 0;
  if (s.hasData && s.dataResident) {
    std::memcpy(sector.data(), s.residentData.data(), std::min<size_t>(sector.size(), s.residentData.size()));
  } else if (s.hasFirstCluster && !s.dataCompressedOrEncrypted) {
    unsigned __int128 a = (unsigned __int128)s.firstCluster * spc + volumeStart;
    if (a >= source_.SectorCount()) return 0;
    at = uint64_t(a);
    if (ReadSectorsAt(at, 1, sector.data())) return 0;  // no readable content
  } else {
    return 1;
  }
  ByteView head(sector.data(),
                s.hasData && s.dataResident ? std::min<size_t>(sector.size(), s.dataSize) : sector.size());
  if (!contentCheck_) return 1;
  ContentSample sample;
  sample.extension = ext;
  sample.firstBytes = head;
  sample.source = &source_;
  sample.sectorSize = sectorSize_;
  sample.absoluteSector = at;
  return contentCheck_(sample) ? 1 : 0;
}

Status DeepNtfsEngine::ProcessDeferred() {
  finishing_ = true;
  std::sort(deferred_.begin(), deferred_.end());
  deferred_.erase(std::unique(deferred_.begin(), deferred_.end()), deferred_.end());
  // Records of one table lie side by side: read in pieces, not one by one.
  const uint32_t window = std::max<uint32_t>(sectorsPerRecord_, uint32_t(kPieceBytes / sectorSize_));
  std::vector<uint8_t> piece(size_t(window) * sectorSize_);
  uint64_t pieceStart = 0, pieceSectors = 0;
  Status first = kOk;
  for (uint64_t sector : deferred_) {
    if (sector < pieceStart || sector + sectorsPerRecord_ > pieceStart + pieceSectors) {
      uint64_t left = source_.SectorCount() > sector ? source_.SectorCount() - sector : 0;
      uint32_t n = uint32_t(std::min<uint64_t>(window, left));
      uint32_t got = 0;
      Status s = n ? source_.ReadSectors(n, piece.data(), sector, sectorSize_, got) : kReadFault;
      pieceStart = sector;
      pieceSectors = got;
      if (got < sectorsPerRecord_) {
        if (!first) first = s ? s : kReadFault;
        continue;
      }
    }
    const uint8_t* at = piece.data() + (sector - pieceStart) * sectorSize_;
    (void)ProcessFileRecord(ByteView(at, recordBytes_), sector);
  }
  deferred_.clear();
  deferred_.shrink_to_fit();
  finishing_ = false;
  return first;
}

Status DeepNtfsEngine::FinishScan() {
  if (!store_) return kInvalidArg;
  // The records put off during the pass are read in large pieces: quick
  // enough to take along even after a stop.
  Status first = ProcessDeferred();
  // Each folder costs a read of its record. Once a stop is asked for, the
  // rest are written from what is in memory (under "LostFolder<n>", in their
  // places), so every file found stays listed under its folders.
  StopPoll stop(progress_, user_, 0, share_);
  for (auto& v : volumes_) {
    // The list grows while it is walked when a folder's parent is new.
    for (size_t i = 0; i < v->order.size(); ++i) {
      Status s;
      stop.SetProgress(i, v->order.size());
      try {
        s = EmitFolder(*v, v->order[i], nullptr, !stop.Stopped());
      } catch (const std::exception&) {
        s = kNoMemory;
      }
      if (s && !first) first = s;
    }
  }
  Status f = store_->Flush();
  if (stop.Answer()) return stop.Answer();
  return first ? first : f;
}

Status DeepNtfsEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  if (record.isFolder) return kInvalidArg;
  if (openStatus_) return openStatus_;
  if (record.partitionStart >= source_.SectorCount() || record.location >= source_.SectorCount()) return kInvalidData;
  const uint32_t cb = record.clusterBytes;
  if (cb == 0 || cb == kNoClusterSize || cb % sectorSize_ || cb > kMaxClusterBytes) return kInvalidData;
  std::vector<std::vector<uint8_t>> keep(1);
  Status s = ReadRecordAt(record.location, keep[0]);
  if (s == kNotFileRecord) return kNoContent;
  if (s) return s;
  ByteView base(keep[0].data(), keep[0].size());
  // The record at that place must still be the one found there.
  if (base.U32(offsetof(FileRecordHeader, recordNumber)) != record.itemId) return kNoContent;

  const DataSelector which = DataSelector::Of(record);
  std::vector<AttributeView> pieces;
  AttributeView list;
  bool sawList = false;
  AttributeWalker walk(base);
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrAttributeList && !sawList) {
      list = a;
      sawList = true;
    } else if (a.type == kAttrData && which.Matches(a)) {
      if (!a.nonResident) {
        for (size_t off = 0; off < a.value.size(); off += kPieceBytes) {
          size_t len = std::min(kPieceBytes, a.value.size() - off);
          if (int answer = sink(a.value.data() + off, len)) return answer;
        }
        return kOk;
      }
      pieces.push_back(a);
    }
  }
  const VolumeReader read = VolumeAt(record.partitionStart);
  if (sawList && !list.nonResident) {
    // Pieces held by other records of the same table, found next to this one
    // (or through the table that placed it) and checked to be this file's.
    uint32_t n = record.itemId;
    const MftTable* t = mftMap_.Attribute(n, record.location, sectorsPerRecord_);
    std::set<uint64_t> records;
    for (const AttributeListEntry& e : ParseAttributeList(list.value))
      if (e.type == kAttrData && which.Matches(e) && e.record != n) records.insert(e.record);
    if (records.size() > kMaxListRecords) return kInvalidData;
    for (uint64_t rn : records) {
      uint64_t at = 0;
      bool continued;
      if (t) {
        if (!t->Locate(rn * sectorsPerRecord_, at, continued)) continue;
      } else {
        int64_t delta = (int64_t(rn) - int64_t(n)) * sectorsPerRecord_;
        if (delta < 0 && uint64_t(-delta) > record.location) continue;
        at = record.location + delta;
      }
      keep.emplace_back();
      if (ReadRecordAt(at, keep.back()) != kOk) continue;
      ByteView ext(keep.back().data(), keep.back().size());
      if (ReadRecordHeader(ext).baseRecord != n || ext.U32(offsetof(FileRecordHeader, recordNumber)) != rn) continue;
      AttributeWalker w(ext);
      while (w.Next(a))
        if (a.type == kAttrData && which.Matches(a) && a.nonResident) pieces.push_back(a);
    }
  }
  if (pieces.empty()) return kNoContent;
  DataLayout layout;
  if (Status st = BuildDataLayout(std::move(pieces), 0, cb, layout)) return st;
  // Past the largest file NTFS can hold the sizes are damage, not data: a
  // copy would write zeros for ever.
  if (layout.realSize > kMaxFileBytes) return kInvalidData;
  // A deleted file whose clusters the volume has given to another file since
  // holds that file's data now: refused as the quick scan refuses it.
  const bool deleted = !(base.U16(offsetof(FileRecordHeader, flags)) & kRecordInUse);
  if (deleted && ClustersTakenSince(record, layout)) return kDataOverwritten;
  return StreamDataLayout(layout, cb, read, sink);
}

VolumeReader DeepNtfsEngine::VolumeAt(uint64_t volumeStart) const {
  return [this, volumeStart](uint64_t volumeByte, size_t length, uint8_t* dst) -> Status {
    if (volumeByte % sectorSize_ || length % sectorSize_) return kInvalidArg;
    uint64_t sector = volumeStart + volumeByte / sectorSize_;
    uint64_t count = length / sectorSize_;
    // Clusters past the end of the medium: the data is not there to read.
    if (sector >= source_.SectorCount() || count > source_.SectorCount() - sector) return kDataPastEnd;
    return ReadSectorsAt(sector, uint32_t(count), dst);
  };
}

bool DeepNtfsEngine::ClustersTakenSince(const FoundItemRecord& record, const DataLayout& data) {
  // Only the table the record lies in tells its volume: a record no table
  // of this scan explains (or one of another volume's) is not judged.
  const MftTable* t = mftMap_.Attribute(record.itemId, record.location, sectorsPerRecord_);
  if (!t || t->volumeStart != record.partitionStart || uint64_t(t->sectorsPerCluster) * sectorSize_ != record.clusterBytes)
    return false;
  const ClusterBitmap* bitmap = BitmapOf(*t);
  return bitmap && bitmap->TakenSince(data);
}

const ClusterBitmap* DeepNtfsEngine::BitmapOf(const MftTable& t) {
  auto known = bitmaps_.find(t.keySector);
  if (known != bitmaps_.end()) return known->second.get();
  std::unique_ptr<ClusterBitmap>& slot = bitmaps_[t.keySector];
  // Record 6 of the table, $Bitmap: its unnamed data in the record itself
  // (a bitmap whose runs spill into other records is not followed).
  constexpr uint64_t kBitmapRecord = 6;
  uint64_t at = 0;
  bool continued = false;
  std::vector<uint8_t> rec;
  if (!t.Locate(kBitmapRecord * sectorsPerRecord_, at, continued) || continued || ReadRecordAt(at, rec) != kOk)
    return nullptr;
  ByteView v(rec.data(), rec.size());
  if (v.U32(offsetof(FileRecordHeader, recordNumber)) != kBitmapRecord) return nullptr;
  RecordSummary s;
  SummarizeRecord(v, s);
  if (!s.hasName || s.name.name != "$Bitmap") return nullptr;
  std::vector<AttributeView> pieces;
  AttributeWalker walk(v);
  AttributeView a;
  while (walk.Next(a))
    if (a.type == kAttrData && a.nameLength == 0 && a.nonResident) pieces.push_back(a);
  const uint32_t cb = t.sectorsPerCluster * sectorSize_;
  DataLayout layout;
  if (pieces.empty() || BuildDataLayout(std::move(pieces), 0, cb, layout)) return nullptr;
  auto bitmap = std::make_unique<ClusterBitmap>();
  const uint64_t volumeSectors = source_.SectorCount() > t.volumeStart ? source_.SectorCount() - t.volumeStart : 0;
  if (ReadClusterBitmap(layout, cb, layout.realSize, VolumeAt(t.volumeStart), t.sectorsPerCluster, volumeSectors,
                        *bitmap))
    return nullptr;
  slot = std::move(bitmap);
  return slot.get();
}

uint32_t DeepNtfsEngine::RecordKind() const { return kSourceDeepNtfs; }

bool DeepNtfsEngine::TakeSector(const DeepChunk& chunk, uint64_t i) {
  const uint32_t size = chunk.sectorSize;
  ByteView rec(chunk.data + i * size, (chunk.sectors - i) * size);
  // A FILE record: its used and allocated sizes fit one record of this
  // sector size, and the update sequence number ends the first sector.
  const uint32_t m = size > 512 ? size : 2 * size;
  if (!(rec.Equals(0, "FILE") && rec.U32(24) <= m && rec.U32(28) == m && rec.U16(48) == rec.U16(510))) return false;
  // Folders are found through their files' parents.
  if (rec.U16(22) & 0x0002) return true;
  const uint64_t sector = chunk.firstSector + i;
  std::vector<uint8_t> whole;
  if (rec.size() < 8192 && chunk.source) {
    whole.resize(8192);
    uint32_t got = 0;
    (void)chunk.source->ReadSectors(uint32_t(whole.size() / size), whole.data(), sector, size, got);
    if (got * uint64_t(size) > rec.size()) rec = ByteView(whole.data(), size_t(got) * size);
  }
  try {
    (void)ProcessFileRecord(rec, sector);
  } catch (...) {
    // A record that broke the parser is skipped; the pass goes on.
  }
  return true;
}

}  // namespace dunmere
