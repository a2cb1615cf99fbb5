#include "exfat/quick/quick_exfat_engine.h"

#include <algorithm>
#include <ctime>

#include "base/text.h"
#include "engine/scan_log_folder.h"
#include "exfat/exfat_timestamps.h"
#include "platform/file.h"
#include "platform/local_time.h"

// How the exFAT quick scan fills the 346-byte record:
//   itemId         the first cluster of the item's data (a folder's: of its
//                  entries, which is also the folder's id in the relations;
//                  the root's id is the root directory's first cluster)
//   location       where the item's stream extension entry lies on the
//                  medium: its byte offset divided by 32 (the entry's size),
//                  so the copy-out can read its flags and valid data length
//                  again
//   dataAreaStart  the cluster heap's first sector, in sectors of the medium
//                  counted from the volume's start (partitionStart + this
//                  + (cluster - 2) * clusterBytes / sector size is where a
//                  cluster lies)
//   clusterBytes   the volume's cluster size
//   size           the data length (a folder's record: 0, as FAT's)
//   created, modified, accessed
//                  the file entry's three timestamps with their 10 ms
//                  increments, as FILETIME: UTC when the entry kept its zone,
//                  otherwise the local time as it stands (as FAT's)
//   deletedFlag    1: the item is deleted or lies in a deleted folder
//   recordIndex    given by the store, as for every engine
namespace dunmere {

namespace {
constexpr uint32_t kBootReadBytes = 2 * kExfatBootRegionSectors * 4096;
// A directory holds at most 256 MiB of entries.
constexpr uint64_t kMaxDirectoryBytes = 256ull << 20;
// Folders nested deeper than this are damage (or a trap), not a real tree.
constexpr uint32_t kMaxDepth = 4096;
constexpr uint64_t kMaxUpcaseBytes = 256u << 10;

// A name the record's field cannot hold keeps its extension, which decides
// the file's type, and loses the end of its stem.
std::string FitRecordName(const std::string& name) {
  constexpr size_t kMax = kNameFieldSize - 1;
  if (name.size() <= kMax) return name;
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 32) return name.substr(0, Utf8CutLength(name, kMax));
  const std::string ext = name.substr(dot);
  const std::string stem = name.substr(0, dot);
  return stem.substr(0, Utf8CutLength(stem, kMax - ext.size())) + ext;
}
}  // namespace

struct QuickExfatEngine::DirReader {
  struct Piece {
    size_t at;        // in buf
    uint64_t medium;  // byte offset on the medium
    uint32_t length;
    bool readable;
    size_t cluster;   // index in clusters
  };
  std::vector<uint32_t> clusters;
  size_t next = 0;
  std::vector<uint8_t> buf;
  std::deque<Piece> pieces;
  // Clusters up to the last one holding a set (the walk reads ahead of
  // where it is, and a deleted folder's later clusters are a guess).
  size_t reached = 0;

  const Piece* PieceAt(size_t pos) const {
    for (const Piece& p : pieces)
      if (pos >= p.at && pos < p.at + p.length) return &p;
    return nullptr;
  }
  bool Readable(size_t pos, size_t len) const {
    for (const Piece& p : pieces)
      if (p.at < pos + len && pos < p.at + p.length && !p.readable) return false;
    return true;
  }
  uint64_t MediumAt(size_t pos) const {
    const Piece* p = PieceAt(pos);
    return p ? p->medium + (pos - p->at) : 0;
  }
  // Lets go of the pieces wholly before `pos`; returns how far pos moves back.
  size_t DropBefore(size_t pos) {
    size_t dropped = 0;
    while (!pieces.empty() && pieces.front().at + pieces.front().length <= pos) {
      dropped += pieces.front().length;
      pos -= pieces.front().length;
      pieces.pop_front();
    }
    if (dropped) {
      buf.erase(buf.begin(), buf.begin() + ptrdiff_t(dropped));
      for (Piece& p : pieces) p.at -= dropped;
    }
    return dropped;
  }
};

QuickExfatEngine::QuickExfatEngine() = default;
QuickExfatEngine::~QuickExfatEngine() { store_.reset(); }

uint64_t QuickExfatEngine::MediumEnd() const { return std::min(source_.LengthBytes(), geometry_.EndByteOffset()); }

Status QuickExfatEngine::ReadBytes(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got) const {
  got = 0;
  const uint64_t end = MediumEnd();
  if (offset % 512 || offset >= end) return kReadFault;
  uint64_t want = std::min<uint64_t>(length, end - offset);
  want -= want % 512;
  if (want == 0) return kReadFault;
  // What arrives before the first unreadable sector counts; the rest is
  // tried sector by sector so the source learns which ones are bad.
  uint32_t bad = 0, firstBad = 0;
  Status s = source_.ReadSectorsSkippingBad(uint32_t(want / 512), out, offset / 512, 512, bad, &firstBad);
  got = (s == kOk || s == kReadFault) ? firstBad * 512 : 0;
  return got ? kOk : (s ? s : kReadFault);
}

Status QuickExfatEngine::Open(const Medium& medium, uint16_t tag) {
  if (opened_) return kOk;
  source_ = medium.source.Share();
  return OpenOn(medium.start, medium.count, tag);
}

Status QuickExfatEngine::OpenOn(uint64_t start, uint64_t count, uint16_t tag) {
  const uint32_t unit = source_.UnitSize();
  if (start >= source_.SectorCount()) return kInvalidArg;
  geometry_ = ExfatGeometry{};
  geometry_.partitionStart = start;
  geometry_.areaSectors = std::min(count, source_.SectorCount() - start);
  geometry_.deviceSectorSize = unit;
  tag_ = tag;
  if (Status s = ReadBootRegion(start * unit)) return s;
  fat_.Open(geometry_, [this](uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got) {
    return ReadBytes(offset, length, out, got);
  });
  ReadRootEntries();
  opened_ = true;
  return kOk;
}

Status QuickExfatEngine::ReadBootRegion(uint64_t volumeOffset) {
  std::vector<uint8_t> boot(kBootReadBytes, 0);
  uint32_t got = 0;
  // Read as far as the area goes: a small volume may end before 96 KiB.
  const uint64_t areaBytes = geometry_.areaSectors * geometry_.deviceSectorSize;
  const uint32_t want = uint32_t(std::min<uint64_t>(kBootReadBytes, areaBytes) / 512 * 512);
  if (want < 512) return kInvalidData;
  {
    // The geometry is not known yet: read up to the area's end.
    uint32_t bad = 0, firstBad = 0;
    Status s = source_.ReadSectorsSkippingBad(want / 512, boot.data(), volumeOffset / 512, 512, bad, &firstBad);
    if (s != kOk && s != kReadFault) return s;
    got = firstBad * 512;
  }
  if (got < 512) return kReadFault;
  ByteView all(boot.data(), got);
  ExfatGeometry main = geometry_;
  const bool mainParsed = ParseExfatBootSector(all, main) == kOk;
  const bool mainSum = mainParsed && ExfatBootRegionChecksumOk(all, main.bytesPerSector);
  if (mainSum) {
    geometry_ = main;
    bootChecksumOk_ = true;
    return kOk;
  }
  // The backup region follows the main one: twelve sectors of the size the
  // main one gives, or of any size when the main sector cannot be read.
  for (uint32_t bps = 512; bps <= 4096; bps *= 2) {
    if (mainParsed && bps != main.bytesPerSector) continue;
    ByteView region = all.Sub(size_t(bps) * kExfatBootRegionSectors, size_t(bps) * kExfatBootRegionSectors);
    ExfatGeometry g = geometry_;
    if (ParseExfatBootSector(region, g) == kOk && g.bytesPerSector == bps &&
        ExfatBootRegionChecksumOk(region, bps)) {
      geometry_ = g;
      usedBackup_ = true;
      bootChecksumOk_ = true;
      return kOk;
    }
  }
  // No region whose checksum holds: sector 0 as it stands, when it makes sense.
  if (!mainParsed) return kInvalidData;
  geometry_ = main;
  return kOk;
}

void QuickExfatEngine::ReadRootEntries() {
  label_.clear();
  haveBitmapEntry_ = false;
  DirReader dir;
  dir.clusters = DirectoryClusters(geometry_.rootCluster, 0, false, false);
  const uint32_t cb = geometry_.ClusterBytes();
  std::vector<uint8_t> cluster(cb);
  bool haveUpcase = false, haveLabel = false;
  for (uint32_t c : dir.clusters) {
    uint32_t got = 0;
    if (ReadBytes(geometry_.ClusterOffset(c), cb, cluster.data(), got) != kOk) continue;
    for (uint32_t at = 0; at + kExfatEntrySize <= got; at += kExfatEntrySize) {
      ByteView e(cluster.data() + at, kExfatEntrySize);
      const uint8_t type = e.U8(0);
      if (type == kExfatEndOfDirectory) return;
      ExfatDataEntry d;
      // With two FATs, each has its bitmap: the one of the FAT in use counts.
      if (!haveBitmapEntry_ && ParseBitmapEntry(e, d) && (d.flags & 1) == (geometry_.secondFatActive ? 1 : 0)) {
        bitmapEntry_ = d;
        haveBitmapEntry_ = true;
      } else if (!haveUpcase && ParseUpcaseEntry(e, d)) {
        haveUpcase = true;
        LoadUpcase(d);
      } else if (!haveLabel && type == kExfatLabelEntry) {
        haveLabel = ParseVolumeLabel(e, label_);
      }
    }
  }
}

void QuickExfatEngine::LoadUpcase(const ExfatDataEntry& e) {
  if (e.dataLength == 0 || e.dataLength > kMaxUpcaseBytes) return;
  std::vector<uint8_t> table;
  if (ReadTable(e.firstCluster, e.dataLength, table) != kOk) return;
  ByteView v(table.data(), table.size());
  if (ExfatTableChecksum(v) == e.checksum) (void)upcase_.Load(v);
}

Status QuickExfatEngine::ReadTable(uint32_t first, uint64_t length, std::vector<uint8_t>& out) {
  out.clear();
  const uint64_t cb = geometry_.ClusterBytes();
  const uint64_t n = (length + cb - 1) / cb;
  if (!geometry_.ValidCluster(first) || n == 0 || n > geometry_.clusterCount) return kInvalidData;
  std::vector<uint32_t> clusters;
  const ExfatChainEnd end = FollowExfatChain(first, n, geometry_.MaxCluster(), fat_.Reader(), clusters);
  if (end != ExfatChainEnd::kComplete && end != ExfatChainEnd::kLonger) {
    // mkfs.exfat chains its tables; a FAT that lost the chain still has them in one piece.
    if (first + n - 1 > geometry_.MaxCluster()) return kInvalidData;
    clusters.clear();
    for (uint64_t i = 0; i < n; ++i) clusters.push_back(uint32_t(first + i));
  }
  // Nothing is allocated for a table the medium cannot hold.
  for (uint32_t c : clusters)
    if (geometry_.ClusterOffset(c) + cb > MediumEnd()) return kDataPastEnd;
  out.resize(size_t(n * cb));
  for (size_t i = 0; i < clusters.size(); ++i) {
    uint32_t got = 0;
    if (Status s = ReadBytes(geometry_.ClusterOffset(clusters[i]), uint32_t(cb), out.data() + i * cb, got)) return s;
    if (got < cb) return kReadFault;
  }
  out.resize(size_t(length));
  return kOk;
}

std::vector<uint32_t> QuickExfatEngine::DirectoryClusters(uint32_t first, uint64_t length, bool noFatChain,
                                                          bool deleted) {
  std::vector<uint32_t> out;
  if (!geometry_.ValidCluster(first)) return out;
  const uint64_t cb = geometry_.ClusterBytes();
  uint64_t want = (length ? std::min(length, kMaxDirectoryBytes) : kMaxDirectoryBytes) + cb - 1;
  want = std::min<uint64_t>(want / cb, geometry_.clusterCount);
  if (noFatChain) {
    for (uint64_t i = 0; i < want && first + i <= geometry_.MaxCluster(); ++i) out.push_back(uint32_t(first + i));
  } else {
    const ExfatChainEnd end = FollowExfatChain(first, want, geometry_.MaxCluster(), fat_.Reader(), out);
    // The root has no length: its chain's end mark ends it.
    const bool whole = end == ExfatChainEnd::kComplete || (length == 0 && end == ExfatChainEnd::kShort);
    if (deleted && (!whole || (EnsureBitmap() && std::any_of(out.begin(), out.end(), [this](uint32_t c) {
                                return bitmap_.InUse(c);
                              })))) {
      // A deleted folder's chain is cleared, or belongs to others now: its
      // entries went on in the next free clusters, as it was written.
      out.assign(1, first);
      uint64_t c = first;
      while (out.size() < want) {
        c = bitmap_.Loaded() ? bitmap_.NextFree(c + 1) : (c + 1 <= geometry_.MaxCluster() ? c + 1 : 0);
        if (c == 0) break;
        out.push_back(uint32_t(c));
      }
    }
  }
  // A cluster read already as another folder's entries is that folder's.
  for (size_t i = 0; i < out.size(); ++i)
    if (dirClusters_.count(out[i])) {
      out.resize(i);
      break;
    }
  return out;
}

Status QuickExfatEngine::Scan(const std::string* earlierLog) {
  if (earlierLog) {
    Status s = OpenStore(*earlierLog);
    if (s == kOk) RecallDeletedWalked();
    return s;
  }
  if (!opened_) return kNotReady;
  liveQueue_.clear();
  deletedQueue_.clear();
  folders_.clear();
  walked_.clear();
  dirClusters_.clear();
  deletedWalked_.clear();
  marked_.clear();
  markedSet_.clear();
  const std::tm local = LocalTimeNow();
  // A log of the same name in this scan folder is from an earlier scan of this
  // volume in the same minute: it is replaced, never appended to.
  const std::string name = QuickScanLogName(geometry_.partitionStart, local);
  store_.reset();
  const std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  for (const char* suffix : {"", "_Relation", "_DirInfo"}) (void)RemoveFile(folder + "/" + name + suffix);
  if (Status s = OpenStore(name)) return s;

  auto report = [&](int percent, int64_t left) {
    return progress_ ? progress_(user_, percent, share_, left, 0, 0, 0, 0) : 0;
  };
  if (int r = report(1, -1)) return r;
  (void)EnsureBitmap();
  walk_.Begin(progress_, user_, share_);
  // Live folders first, so that a deleted folder whose cluster a live one
  // has taken since is known as taken before it would be walked.
  liveQueue_.push_back(geometry_.rootCluster);
  while (!StopAsked() && !liveQueue_.empty()) {
    const uint32_t c = liveQueue_.front();
    liveQueue_.pop_front();
    if (!walked_.insert(c).second) continue;
    auto it = folders_.find(c);
    WalkDirectory(c, it == folders_.end() ? nullptr : &it->second);
  }
  while (!StopAsked() && !deletedQueue_.empty()) {
    const uint32_t c = deletedQueue_.front();
    deletedQueue_.pop_front();
    auto it = folders_.find(c);
    if (it == folders_.end() || walked_.count(c)) continue;
    // Its first cluster in use again: what is there belongs to another item.
    if (bitmap_.Loaded() && bitmap_.InUse(c)) continue;
    walked_.insert(c);
    WalkDirectory(c, &it->second);
  }
  int stopped = walk_.End();
  if (!stopped) stopped = report(80, 10);

  // Also after a stop: the files found so far keep their folders, which are
  // in memory already, so they can be listed and copied.
  for (uint32_t c : marked_) {
    auto it = folders_.find(c);
    if (it == folders_.end()) continue;
    store_->Append(it->second.record, it->second.parent, it->second.depth - 1);
  }
  (void)store_->Flush();
  if (stopped) return stopped;
  if (int r = report(100, 0)) return r;
  return kOk;
}

bool QuickExfatEngine::SetAcceptable(ExfatSetState state, const ExfatFileSet& set) const {
  if (state == ExfatSetState::kValid) return true;
  // A set whose checksum disagrees but whose name still hashes to what its
  // stream extension says lost at most some of its times or attributes.
  return state == ExfatSetState::kBadChecksum && upcase_.Loaded() && set.name.size() == set.nameLength &&
         ExfatNameHash(set.name, upcase_) == set.nameHash;
}

template <typename OnSet>
void QuickExfatEngine::ForEachSet(DirReader& dir, OnSet&& onSet) {
  const uint32_t cb = geometry_.ClusterBytes();
  size_t pos = 0;
  for (;;) {
    // Stopped: the rest of the folder is left, as if it ended here.
    if (StopAsked()) return;
    pos -= dir.DropBefore(pos);
    // The largest set's bytes ahead of the entry looked at.
    while (dir.buf.size() - pos < kExfatMaxSetBytes && dir.next < dir.clusters.size()) {
      const uint32_t c = dir.clusters[dir.next++];
      const size_t at = dir.buf.size();
      dir.buf.resize(at + cb, 0);
      uint32_t got = 0;
      if (ReadBytes(geometry_.ClusterOffset(c), cb, dir.buf.data() + at, got) != kOk) got = 0;
      // An unreadable sector costs the entries from it to the cluster's end.
      const size_t index = dir.next - 1;
      if (got) dir.pieces.push_back({at, geometry_.ClusterOffset(c), got, true, index});
      if (got < cb) dir.pieces.push_back({at + got, geometry_.ClusterOffset(c) + got, cb - got, false, index});
    }
    if (pos + kExfatEntrySize > dir.buf.size()) return;
    if (!dir.Readable(pos, kExfatEntrySize)) {
      pos += kExfatEntrySize;
      continue;
    }
    const uint8_t type = dir.buf[pos];
    if (type == kExfatEndOfDirectory) return;
    if ((type | kExfatInUse) == kExfatFileEntry) {
      ByteView from(dir.buf.data() + pos, dir.buf.size() - pos);
      ExfatFileSet set;
      const ExfatSetState state = ParseExfatFileSet(from, set);
      if (SetAcceptable(state, set) && dir.Readable(pos, set.Bytes())) {
        const uint64_t stream = dir.MediumAt(pos + kExfatEntrySize);
        if (const DirReader::Piece* p = dir.PieceAt(pos + set.Bytes() - 1))
          dir.reached = std::max(dir.reached, p->cluster + 1);
        if (!onSet(set, from.Sub(0, kExfatEntrySize), stream)) return;
        pos += set.Bytes();
        continue;
      }
    }
    // Anything else, or a set that does not hold: only this entry is passed
    // over (a later set may have been written over the rest of it).
    pos += kExfatEntrySize;
  }
}

void QuickExfatEngine::WalkDirectory(uint32_t c, const FolderInfo* info) {
  const uint32_t depth = info ? info->depth : 0;
  const bool deleted = info ? info->deleted : false;
  DirReader dir;
  // The root has no set, hence no length: its chain alone says where it ends.
  dir.clusters = info ? DirectoryClusters(c, info->dataLength, info->noFatChain, deleted)
                      : DirectoryClusters(c, 0, false, false);
  // Its first cluster is its own even before it is read: no other folder
  // may walk it as theirs meanwhile.
  if (!dir.clusters.empty()) dirClusters_.insert(dir.clusters.front());
  ForEachSet(dir, [&](const ExfatFileSet& set, ByteView fileEntry, uint64_t stream) {
    if (set.IsDirectory())
      OnFolder(set, fileEntry, c, depth, deleted, stream);
    else if (set.deleted || deleted)  // live files are not reported
      OnFile(set, fileEntry, c, depth, stream);
    return true;
  });
  // The clusters up to its last set held its entries; a length that claims
  // more, or free clusters taken for its later ones, say nothing of the
  // clusters after it.
  for (size_t i = 0; i < std::max<size_t>(dir.reached, 1) && i < dir.clusters.size(); ++i) {
    dirClusters_.insert(dir.clusters[i]);
    if (deleted) deletedWalked_.insert(dir.clusters[i]);
  }
}

FoundItemRecord QuickExfatEngine::BaseRecord(const ExfatFileSet& set, ByteView fileEntry, uint64_t stream) const {
  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = tag_;
  r.sourceKind = kSourceQuickExfat;
  r.itemId = set.firstCluster;
  r.clusterBytes = geometry_.ClusterBytes();
  const ExfatTimes t = DecodeExfatTimes(fileEntry);
  r.created = t.created;
  r.modified = t.modified;
  r.accessed = t.accessed;
  r.dataAreaStart = uint64_t(geometry_.clusterHeapOffset) * geometry_.bytesPerSector / geometry_.deviceSectorSize;
  r.location = stream / kExfatEntrySize;
  r.partitionStart = geometry_.partitionStart;
  return r;
}

void QuickExfatEngine::OnFolder(const ExfatFileSet& set, ByteView fileEntry, uint32_t parent, uint32_t depth,
                                bool parentDeleted, uint64_t stream) {
  const uint32_t c = set.firstCluster;
  const bool deleted = set.deleted || parentDeleted;
  if (!geometry_.ValidCluster(c) || c == parent || c == geometry_.rootCluster || set.dataLength == 0) return;
  if (depth + 1 > kMaxDepth || walked_.count(c)) return;
  const std::string name = ExfatNameToUtf8(set.name);
  if (name.empty()) return;
  // The first set naming a cluster keeps it, but a live folder's claim
  // beats a deleted one's: it is what the cluster holds now.
  auto known = folders_.find(c);
  if (known != folders_.end() && (!known->second.deleted || deleted)) return;
  FolderInfo info;
  info.record = BaseRecord(set, fileEntry, stream);
  info.record.isFolder = 1;
  info.record.deletedFlag = deleted ? 1 : 0;
  info.record.contentOk = 1;
  SetRecordName(info.record, FitRecordName(name));
  info.parent = parent;
  info.depth = depth + 1;
  info.deleted = deleted;
  info.noFatChain = set.NoFatChain();
  info.dataLength = set.dataLength;
  folders_[c] = info;
  (deleted ? deletedQueue_ : liveQueue_).push_back(c);
}

void QuickExfatEngine::OnFile(const ExfatFileSet& set, ByteView fileEntry, uint32_t parent, uint32_t depth,
                              uint64_t stream) {
  // Damaged entries that cannot describe data of this volume are left out.
  const uint64_t size = set.dataLength;
  if (size > geometry_.HeapBytes()) return;
  if (size > 0) {
    if (!geometry_.ValidCluster(set.firstCluster)) return;
    const uint64_t n = (size + geometry_.ClusterBytes() - 1) / geometry_.ClusterBytes();
    if (set.NoFatChain() && set.firstCluster + n - 1 > geometry_.MaxCluster()) return;
  }
  const std::string name = ExfatNameToUtf8(set.name);
  if (name.empty()) return;
  FoundItemRecord r = BaseRecord(set, fileEntry, stream);
  r.size = size;
  r.deletedFlag = 1;
  SetRecordName(r, FitRecordName(name));
  r.contentOk = uint32_t(ContentPlausible(set, name));
  store_->Append(r, parent, depth);
  MarkAncestors(parent);
}

int QuickExfatEngine::ContentPlausible(const ExfatFileSet& set, const std::string& name) {
  const std::string ext = ExtensionOf(name);
  if (!contentCheck_ || ext.empty() || set.dataLength == 0 || set.validDataLength == 0) return 1;
  const uint32_t bps = geometry_.bytesPerSector;
  std::vector<uint8_t> sector(bps);
  uint32_t got = 0;
  const uint64_t at = geometry_.ClusterOffset(set.firstCluster);
  if (ReadBytes(at, bps, sector.data(), got) || got == 0) return 1;
  ContentSample s;
  s.extension = ext;
  s.firstBytes = ByteView(sector.data(), got);
  s.source = &source_;
  s.sectorSize = bps;
  s.absoluteSector = at / bps;
  return contentCheck_(s) ? 1 : 0;
}

void QuickExfatEngine::MarkAncestors(uint32_t c) {
  for (size_t steps = 0; steps <= folders_.size() && c != geometry_.rootCluster; ++steps) {
    auto it = folders_.find(c);
    if (it == folders_.end()) break;
    if (!markedSet_.insert(c).second) break;  // its ancestors are marked already
    marked_.push_back(c);
    if (it->second.parent == c) break;
    c = it->second.parent;
  }
}

bool QuickExfatEngine::WalkedDeletedDirectoryAt(uint64_t byte) const {
  if (deletedWalked_.empty() || byte < geometry_.HeapByteOffset()) return false;
  const uint64_t c = (byte - geometry_.HeapByteOffset()) / geometry_.ClusterBytes() + 2;
  return c <= geometry_.MaxCluster() && deletedWalked_.count(uint32_t(c)) != 0;
}

void QuickExfatEngine::RecallDeletedWalked() {
  deletedWalked_.clear();
  if (!opened_ || !store_) return;
  // Entries read from a free cluster can only have been a deleted folder's;
  // deleted folders' own clusters are their ids.
  const bool bitmap = EnsureBitmap();
  constexpr uint32_t kPerRead = 4096;
  std::vector<uint32_t> indices;
  std::vector<FoundItemRecord> records;
  for (uint32_t first = 1; first <= store_->Count(); first += kPerRead) {
    const uint32_t last = std::min<uint32_t>(store_->Count(), first + kPerRead - 1);
    indices.clear();
    for (uint32_t i = first; i <= last; ++i) indices.push_back(i);
    if (store_->ReadMany(indices, records) != kOk) continue;
    for (const FoundItemRecord& r : records) {
      if (r.isFolder) {
        if (r.deletedFlag && geometry_.ValidCluster(r.itemId)) deletedWalked_.insert(r.itemId);
        continue;
      }
      const uint64_t byte = uint64_t(r.location) * kExfatEntrySize;
      if (!bitmap || byte < geometry_.HeapByteOffset()) continue;
      const uint64_t c = (byte - geometry_.HeapByteOffset()) / geometry_.ClusterBytes() + 2;
      if (geometry_.ValidCluster(c) && !bitmap_.InUse(c)) deletedWalked_.insert(uint32_t(c));
    }
  }
}

}  // namespace dunmere
