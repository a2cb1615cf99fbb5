#include "ntfs/deep/deep_ntfs_engine.h"

#include <algorithm>
#include <set>
#include <string>

#include "base/text.h"
#include "ntfs/deep/deep_ntfs_parts.h"
#include "ntfs/mft_record.h"
#include "ntfs/record_summary.h"

// Where the deep NTFS engine puts what it finds: which volume and table a
// record belongs to, the folders of each volume and the lost folders.
namespace dunmere {

using namespace deep_ntfs;

void DeepNtfsEngine::Attribute(uint64_t n, uint64_t sector, Attribution& a) const {
  if (const MftTable* t = mftMap_.Attribute(n, sector, sectorsPerRecord_)) {
    a.table = t;
    a.known = true;
    return;
  }
  // No known table explains it: the area's own volume, with a table taken to
  // run contiguously up to the record.
  uint64_t before = n * sectorsPerRecord_;
  a.assumed = ContiguousTable(sector >= before ? sector - before : sector);
  if (sector < before) a.assumed.runs.clear();  // nothing can be placed
  a.assumed.volumeStart = areaStart_;
  a.assumed.sectorsPerCluster = sectorsPerCluster_;
  a.table = &a.assumed;
  a.known = false;
}

DeepNtfsEngine::Volume* DeepNtfsEngine::VolumeOf(const Attribution& a) {
  auto key = std::make_tuple(a.table->volumeStart, a.table->keySector, a.known);
  auto it = volumeIndex_.find(key);
  if (it != volumeIndex_.end()) return volumes_[it->second].get();
  if (volumes_.size() >= kMaxVolumes) return nullptr;
  auto v = std::make_unique<Volume>();
  v->table = *a.table;
  v->first = volumes_.empty();
  volumeIndex_.emplace(key, volumes_.size());
  volumes_.push_back(std::move(v));
  return volumes_.back().get();
}

DeepNtfsEngine::FolderNode* DeepNtfsEngine::Node(Volume& v, uint32_t p) {
  auto it = v.folders.find(p);
  if (it != v.folders.end()) return &it->second;
  if (folderCount_ >= folderLimit_) return nullptr;
  FolderNode node;
  // Folder ids key the relation of the whole store: the folders of a second
  // volume get ids of their own so that two volumes' folder 64 never merge.
  node.id = v.first && p < kAliasFloor ? p : nextAlias_--;
  uint64_t at;
  bool continued;
  std::vector<uint8_t> rec;
  if (uint64_t(p) * sectorsPerRecord_ / sectorsPerRecord_ == p &&
      v.table.Locate(uint64_t(p) * sectorsPerRecord_, at, continued) && ReadRecordAt(at, rec) == kOk) {
    ByteView view(rec.data(), rec.size());
    RecordHeaderInfo h = ReadRecordHeader(view);
    if ((h.flags & kRecordIsDirectory) && h.baseRecord == 0 &&
        view.U32(offsetof(FileRecordHeader, recordNumber)) == p) {
      RecordSummary s;
      SummarizeRecord(view, s);
      if (s.hasName && s.name.parentRecord <= 0xFFFFFFFFull) {
        node.state = FolderState::kReal;
        node.parent = uint32_t(s.name.parentRecord);
      }
    }
  }
  ++folderCount_;
  v.order.push_back(p);
  return &v.folders.emplace(p, node).first->second;
}

std::pair<uint32_t, uint32_t> DeepNtfsEngine::PlaceUnder(Volume& v, uint64_t p64) {
  // Walks up from p to the root once per folder; every folder on the way is
  // remembered with its depth. A chain that loops, or reaches a folder that is
  // gone, ends there: that folder sits at the top level.
  uint32_t p = uint32_t(p64);
  std::vector<uint32_t> chain;
  std::set<uint32_t> onChain;
  uint32_t cur = p;
  uint32_t base = 0;
  for (;;) {
    if (cur == kRootRecord) break;
    FolderNode* f = Node(v, cur);
    if (!f) {
      // Out of room for folders: the chain is cut here.
      if (!chain.empty()) v.folders[chain.back()].detached = true;
      break;
    }
    if (f->depthKnown) {
      base = f->depth;
      break;
    }
    if (f->state != FolderState::kReal || onChain.count(cur)) {
      if (f->state == FolderState::kReal) f->detached = true;
      f->depth = 1;
      f->depthKnown = true;
      base = 1;
      break;
    }
    chain.push_back(cur);
    onChain.insert(cur);
    cur = f->parent;
  }
  for (size_t i = chain.size(); i-- > 0;) {
    FolderNode& f = v.folders[chain[i]];
    if (!f.depthKnown) {
      f.depth = f.detached ? 1 : base + 1;
      f.depthKnown = true;
    }
    base = f.depth;
  }
  auto it = v.folders.find(p);
  if (it == v.folders.end()) return {kRootRecord, 0};
  return {it->second.id, it->second.depth};
}

void DeepNtfsEngine::AddTable(ByteView rec, uint64_t sector) {
  RecordSummary s;
  SummarizeRecord(rec, s);
  if (!s.hasName || AsciiLower(s.name.name) != "$mft") return;
  AttributeView data;
  if (!FirstDataPiece(rec, data)) return;
  std::vector<DataRun> runs;
  std::vector<Extent> extents;
  if (DecodeRunList(data.runList, runs) || PlaceRuns(runs, 0, 0, extents)) return;
  uint32_t spc = SectorsPerClusterOf(data, sectorSize_);
  if (!spc) spc = sectorsPerCluster_;
  MftTable t;
  if (!MakeMftTable(extents, sector, spc, t)) return;
  uint64_t realKey = 0;
  switch (JudgeTableCopy(t, realKey)) {
    case TableCopy::kOriginal: break;
    case TableCopy::kMirrorOfPresent: return;  // the table itself is met in its own place
    case TableCopy::kMirrorOfLost:
      // The table's own first records are gone (a file system formatted over
      // them, say); the copy still tells where the volume and its table lay.
      if (!MakeMftTable(extents, realKey, spc, t)) return;
      break;
  }
  mftMap_.Add(std::move(t));
}

DeepNtfsEngine::TableCopy DeepNtfsEngine::JudgeTableCopy(const MftTable& t,
                                                                              uint64_t& realKey) const {
  // $MFTMirr holds copies of the first four records; its copy of record 0
  // would place a volume at the wrong start. Record 1 next to a record 0
  // names the mirror's cluster: if this record 0 were that copy, the real one
  // lies where the volume start it implies puts the table.
  auto firstLcn = [](ByteView rec, uint64_t& lcn) {
    AttributeView data;
    std::vector<DataRun> runs;
    if (!FirstDataPiece(rec, data) || DecodeRunList(data.runList, runs) || runs.empty() || runs[0].sparse ||
        runs[0].lcnDelta < 0)
      return false;
    lcn = uint64_t(runs[0].lcnDelta);
    return true;
  };
  auto isMftAt = [&](uint64_t at, uint64_t wantLcn) {
    std::vector<uint8_t> rec;
    if (at >= source_.SectorCount() || ReadRecordAt(at, rec) != kOk) return false;
    ByteView zero(rec.data(), rec.size());
    uint64_t lcn = 0;
    RecordSummary s;
    SummarizeRecord(zero, s);
    return zero.U32(offsetof(FileRecordHeader, recordNumber)) == 0 && s.hasName &&
           AsciiLower(s.name.name) == "$mft" && firstLcn(zero, lcn) && lcn == wantLcn;
  };
  auto holdsRecord = [&](uint64_t at, uint32_t number) {
    std::vector<uint8_t> rec;
    return at < source_.SectorCount() && ReadRecordAt(at, rec) == kOk &&
           ByteView(rec.data(), rec.size()).U32(offsetof(FileRecordHeader, recordNumber)) == number;
  };
  std::vector<uint8_t> rec;
  if (t.runs.empty() || ReadRecordAt(t.keySector + sectorsPerRecord_, rec) != kOk) return TableCopy::kOriginal;
  ByteView one(rec.data(), rec.size());
  uint64_t mirrorLcn = 0;
  if (one.U32(offsetof(FileRecordHeader, recordNumber)) != 1 || !firstLcn(one, mirrorLcn)) return TableCopy::kOriginal;
  const uint32_t spc = t.sectorsPerCluster;
  const uint64_t tableOffset = t.keySector - t.volumeStart;
  const uint64_t tableLcn = tableOffset / spc;
  unsigned __int128 mirrorOffset = (unsigned __int128)mirrorLcn * spc;
  if (mirrorOffset > t.keySector || mirrorOffset == tableOffset) return TableCopy::kOriginal;
  unsigned __int128 real = t.keySector - uint64_t(mirrorOffset) + (unsigned __int128)tableOffset;
  if (real >= source_.SectorCount()) return TableCopy::kOriginal;
  if (isMftAt(uint64_t(real), tableLcn)) return TableCopy::kMirrorOfPresent;
  // Read as the table itself, record 4 ($AttrDef) follows the mirrored four,
  // and the mirror of this record lies where record 1 says.
  if (holdsRecord(t.keySector + 4 * uint64_t(sectorsPerRecord_), 4)) return TableCopy::kOriginal;
  unsigned __int128 mirrorHere = (unsigned __int128)t.volumeStart + mirrorOffset;
  if (mirrorHere < source_.SectorCount() && isMftAt(uint64_t(mirrorHere), tableLcn)) return TableCopy::kOriginal;
  realKey = uint64_t(real);
  return TableCopy::kMirrorOfLost;
}

Status DeepNtfsEngine::EmitFolder(Volume& v, uint32_t number, const std::vector<uint8_t>* given,
                                             bool read) {
  if (number == kRootRecord) return kOk;
  FolderNode* f = Node(v, number);
  if (!f) return kNoMemory;
  if (!f->depthKnown) PlaceUnder(v, number);
  f = &v.folders[number];
  if (f->emitted) return kOk;
  f->emitted = true;
  if (resumedFolderIds_.count(f->id)) return kOk;

  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = tag_;
  r.sourceKind = kSourceDeepNtfs;
  r.isFolder = 1;
  r.contentOk = 1;
  r.itemId = f->id;
  r.partitionStart = v.table.volumeStart;
  std::string lostName = "LostFolder" + std::to_string(number);
  Status result = kOk;
  if (f->state != FolderState::kReal) {
    r.clusterBytes = kNoClusterSize;
    SetRecordName(r, lostName);
    store_->Append(r, kRootRecord, 0);
    return kOk;
  }
  // Where it was found real: its name and times from the record once more.
  uint64_t at = 0;
  bool continued;
  std::vector<uint8_t> rec;
  RecordSummary s;
  bool named = false;
  if (v.table.Locate(uint64_t(number) * sectorsPerRecord_, at, continued)) {
    r.location = at;
    Status st = kOk;
    if (given) {
      rec = *given;
      st = HasFileSignature(ByteView(rec.data(), rec.size())) ? ApplyFixup(rec) : kNotFileRecord;
    } else if (read) {
      st = ReadRecordAt(at, rec);
    } else {
      st = kNotFileRecord;
    }
    if (st == kOk) {
      ByteView view(rec.data(), rec.size());
      SummarizeRecord(view, s);
      named = s.hasName && (s.header.flags & kRecordIsDirectory) &&
              view.U32(offsetof(FileRecordHeader, recordNumber)) == number;
    } else if (st > 0 && st != kInvalidData && st != kCrcError) {
      result = st;
    }
  }
  r.clusterBytes = sectorSize_ * v.table.sectorsPerCluster;
  if (named) {
    r.created = s.name.created;
    r.accessed = s.name.accessed;
    r.modified = s.name.modified;
    r.size = 0;
    SetRecordName(r, s.name.name);
  } else {
    // Read when its files were placed, unreadable now: it keeps its place.
    SetRecordName(r, lostName);
  }
  uint32_t parentId = kRootRecord, level = 0;
  if (!f->detached && f->parent != kRootRecord) {
    auto p = v.folders.find(f->parent);
    if (p != v.folders.end()) {
      parentId = p->second.id;
      level = f->depth - 1;
    }
  }
  store_->Append(r, parentId, level);
  return result;
}

}  // namespace dunmere
