#include "ntfs/quick/quick_ntfs_engine.h"


#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

#include "engine/progress_estimator.h"
#include "base/text.h"
#include "ntfs/attribute_list.h"
#include "ntfs/layout_stream.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/record_summary.h"

namespace dunmere {

namespace {
constexpr size_t kBootBytes = 4096;
constexpr size_t kPieceBytes = 65536;            // what a sink receives at most
constexpr size_t kMaxAttributeList = 16 << 20;   // far beyond any real list
constexpr size_t kMaxExtensionRecords = 4096;    // records one attribute may span
constexpr uint32_t kFirstUserRecord = 12;        // records below are the system files

}  // namespace

QuickNtfsEngine::QuickNtfsEngine() = default;

QuickNtfsEngine::~QuickNtfsEngine() { store_.reset(); }

Status QuickNtfsEngine::ReadBytes(uint64_t offset, size_t length, uint8_t* buffer) const {
  if ((offset % 512) || (length % 512)) return kInvalidArg;
  uint32_t got = 0;
  Status s = source_.ReadSectors(uint32_t(length / 512), buffer, offset / 512, 512, got);
  if (s == kOk && got * size_t(512) != length) s = kReadFault;
  return s;
}

Status QuickNtfsEngine::Open(const Medium& medium, uint16_t tag) {
  source_ = medium.source.Share();
  const uint64_t unit = source_.UnitSize();
  return openStatus_ = OpenSource(medium.start * unit, medium.count * unit, tag);
}

Status QuickNtfsEngine::OpenSource(uint64_t partitionOffset, uint64_t byteCount, uint16_t tag) {
  tag_ = tag;
  std::vector<uint8_t> boot(kBootBytes);
  if (Status s = ReadBytes(partitionOffset, boot.size(), boot.data())) return s;
  NtfsBootInfo info;
  if (Status s = ParseNtfsBootSector(ByteView(boot.data(), boot.size()), info)) return s;
  geo_ = MftGeometry::FromBoot(info, partitionOffset);
  // A partial image still opens: reads past its end fail one by one.
  sectorCount_ = byteCount / info.bytesPerSector;
  batch_.assign(size_t(geo_.recordBytes) * kBatchRecords, 0);
  return LoadMftRuns();
}

Status QuickNtfsEngine::LoadMftRuns() {
  // Record 0 sits at the $MFT's first cluster; its base piece maps enough of
  // the table to reach any extension records holding the rest of the runs.
  geo_.mftRuns.clear();
  std::vector<uint8_t> rec(geo_.recordBytes);
  uint64_t mftOffset = geo_.partitionOffset + (geo_.mftStartSector - geo_.partitionStart) * geo_.bytesPerSector;
  if (Status s = ReadBytes(mftOffset, rec.size(), rec.data())) return s;
  if (!HasFileSignature(ByteView(rec.data(), rec.size()))) return kNotFileRecord;
  if (Status s = ApplyFixup(rec)) return s;
  AttributeWalker walk(ByteView(rec.data(), rec.size()));
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrData && a.nameLength == 0 && a.nonResident && a.lowestVcn == 0) {
      std::vector<DataRun> runs;
      if (Status s = DecodeRunList(a.runList, runs)) return s;
      if (Status s = PlaceRuns(runs, 0, geo_.totalClusters, geo_.mftRuns)) return s;
      break;
    }
  }
  if (geo_.mftRuns.empty()) return kAttributeNotFound;
  DataLayout full;
  if (FindAttributeRuns(0, kAttrData, full) == kOk && ExtentClusters(full.extents) > ExtentClusters(geo_.mftRuns))
    geo_.mftRuns = std::move(full.extents);
  return kOk;
}

Status QuickNtfsEngine::ReadRecord(uint64_t n, std::vector<uint8_t>& rec) const {
  uint64_t off;
  if (!geo_.RecordOffset(n, off)) return kInvalidArg;
  rec.resize(geo_.recordBytes);
  if (Status s = ReadBytes(off, rec.size(), rec.data())) return s;
  if (!HasFileSignature(ByteView(rec.data(), rec.size()))) return kNotFileRecord;
  return ApplyFixup(rec);
}

Status QuickNtfsEngine::CollectPieces(uint64_t n, uint32_t type, std::vector<std::vector<uint8_t>>& keep,
                                        std::vector<AttributeView>& pieces, bool& sawList,
                                        const DataSelector& which) const {
  // The base record may already be in `keep` (read by the caller).
  if (keep.empty()) {
    keep.emplace_back();
    if (Status s = ReadRecord(n, keep.back())) return s;
  }
  ByteView base(keep.back().data(), keep.back().size());
  AttributeView list;
  sawList = false;
  AttributeWalker walk(base);
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrAttributeList && !sawList) {
      list = a;
      sawList = true;
    } else if (a.type == type && which.Matches(a)) {
      pieces.push_back(a);
    }
  }
  if (!sawList) return kOk;

  // The list's own bytes: in the record, or in clusters of their own.
  ByteView listBytes = list.value;
  if (list.nonResident) {
    DataLayout ll;
    if (Status s = BuildDataLayout({list}, geo_.totalClusters, geo_.clusterBytes, ll)) return s;
    if (ll.realSize > kMaxAttributeList || ll.compressed || ll.encrypted) return kInvalidData;
    keep.emplace_back();
    std::vector<uint8_t>& bytes = keep.back();
    bytes.reserve(size_t(ll.realSize));
    if (Status s = StreamLayout(ll, [&](const uint8_t* d, size_t len) {
          bytes.insert(bytes.end(), d, d + len);
          return 0;
        }))
      return s;
    listBytes = ByteView(bytes.data(), bytes.size());
  }
  // Every other record holding a piece of the attribute is read once; the
  // base record names itself in its own list, which is no reason to re-read it.
  std::set<uint64_t> records;
  for (const AttributeListEntry& e : ParseAttributeList(listBytes))
    if (e.type == type && which.Matches(e) && e.record != n) records.insert(e.record);
  if (records.size() > kMaxExtensionRecords) return kInvalidData;
  for (uint64_t r : records) {
    keep.emplace_back();
    if (Status s = ReadRecord(r, keep.back())) return s;
    ByteView ext(keep.back().data(), keep.back().size());
    // A record reused by another file since holds nothing of this one.
    if (ReadRecordHeader(ext).baseRecord != n) continue;
    AttributeWalker w(ext);
    while (w.Next(a))
      if (a.type == type && which.Matches(a)) pieces.push_back(a);
  }
  return kOk;
}

Status QuickNtfsEngine::FindAttributeRuns(uint64_t n, uint32_t type, DataLayout& out) const {
  // The views point into these records' buffers, which moving the outer
  // vector leaves in place.
  std::vector<std::vector<uint8_t>> keep;
  std::vector<AttributeView> pieces;
  bool sawList = false;
  if (Status s = CollectPieces(n, type, keep, pieces, sawList)) return s;
  // A resident value has no runs.
  std::erase_if(pieces, [](const AttributeView& a) { return !a.nonResident; });
  if (pieces.empty()) return kAttributeNotFound;
  return BuildDataLayout(std::move(pieces), geo_.totalClusters, geo_.clusterBytes, out);
}

bool QuickNtfsEngine::FindFileName(uint64_t n, FileNameInfo& out) const {
  // Names moved out of the base record by a long attribute list.
  std::vector<std::vector<uint8_t>> keep;
  std::vector<AttributeView> pieces;
  bool sawList = false;
  if (CollectPieces(n, kAttrFileName, keep, pieces, sawList) != kOk) return false;
  bool found = false;
  for (const AttributeView& a : pieces) {
    FileNameInfo fn;
    if (a.nonResident || !ParseFileName(a.value, fn)) continue;
    if (!found || (out.nameSpace == kNameSpaceDos && fn.nameSpace != kNameSpaceDos)) {
      out = std::move(fn);
      found = true;
    }
  }
  return found;
}

VolumeReader QuickNtfsEngine::VolumeRead() const {
  return [this](uint64_t volumeByte, size_t length, uint8_t* dst) -> Status {
    // Clusters a truncated image no longer holds: no read error, the data is
    // not there.
    uint64_t at = geo_.partitionOffset + volumeByte;
    if (at > source_.LengthBytes() || length > source_.LengthBytes() - at) return kDataPastEnd;
    return ReadBytes(at, length, dst);
  };
}

Status QuickNtfsEngine::StreamLayout(const DataLayout& L, const ContentSink& sink) const {
  return StreamDataLayout(L, geo_.clusterBytes, VolumeRead(), sink);
}

Status QuickNtfsEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  if (record.isFolder) return kInvalidArg;
  if (openStatus_) return openStatus_;
  uint64_t n = record.itemId;
  const DataSelector which = DataSelector::Of(record);
  // One read of the record serves both the resident and the non-resident case.
  std::vector<std::vector<uint8_t>> keep(1);
  Status s = ReadRecord(n, keep[0]);
  if (s == kNotFileRecord) return kNoContent;
  if (s) return s;
  ByteView rec(keep[0].data(), keep[0].size());
  AttributeWalker walk(rec);
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type != kAttrData || !which.Matches(a)) continue;
    if (a.nonResident) break;
    for (size_t off = 0; off < a.value.size(); off += kPieceBytes) {
      size_t len = std::min(kPieceBytes, a.value.size() - off);
      if (int answer = sink(a.value.data() + off, len)) return answer;
    }
    return kOk;
  }
  std::vector<AttributeView> pieces;
  bool sawList = false;
  if (Status st = CollectPieces(n, kAttrData, keep, pieces, sawList, which)) return st;
  // A resident stream an attribute list moved to an extension record.
  auto resident = std::find_if(pieces.begin(), pieces.end(), [](const AttributeView& p) { return !p.nonResident; });
  if (resident != pieces.end() && pieces.size() == 1) {
    for (size_t off = 0; off < resident->value.size(); off += kPieceBytes) {
      size_t len = std::min(kPieceBytes, resident->value.size() - off);
      if (int answer = sink(resident->value.data() + off, len)) return answer;
    }
    return kOk;
  }
  std::erase_if(pieces, [](const AttributeView& p) { return !p.nonResident; });
  if (pieces.empty()) return kNoContent;
  DataLayout layout;
  if (Status st = BuildDataLayout(std::move(pieces), geo_.totalClusters, geo_.clusterBytes, layout)) return st;
  // Every item is a deleted file, whose clusters the volume freed: one that
  // is allocated again holds another file's data now.
  if (ClustersTakenSince(layout)) return kDataOverwritten;
  return StreamLayout(layout, sink);
}

bool QuickNtfsEngine::ClustersTakenSince(const DataLayout& layout) {
  if (!bitmap_.Loaded() && !bitmapTried_) {
    bitmapTried_ = true;
    (void)LoadAllocationBitmap();
  }
  return bitmap_.Loaded() && bitmap_.TakenSince(layout);
}

Status QuickNtfsEngine::ReadBatch(uint64_t first, uint32_t count, uint8_t* buffer) const {
  // The records' bytes mapped through the $MFT's runs, one read per stretch.
  const uint64_t cb = geo_.clusterBytes;
  uint64_t begin = first * geo_.recordBytes, end = begin + uint64_t(count) * geo_.recordBytes;
  for (const Extent& e : geo_.mftRuns) {
    uint64_t eb = e.vcn * cb, ee = (e.vcn + e.count) * cb;
    uint64_t lo = std::max(begin, eb), hi = std::min(end, ee);
    if (lo >= hi) continue;
    uint8_t* dst = buffer + (lo - begin);
    if (e.sparse) {
      std::memset(dst, 0, size_t(hi - lo));
      continue;
    }
    if (Status s = ReadBytes(geo_.partitionOffset + e.lcn * cb + (lo - eb), size_t(hi - lo), dst)) return s;
  }
  return kOk;
}

uint32_t QuickNtfsEngine::CheckContent(const std::string& name, const RecordSummary& s) {
  if (s.hasData && s.dataResident && s.dataSize == 0) return 0;
  if (!contentCheck_) return 1;
  std::string ext = ExtensionOf(name);
  if (ext.empty()) return 1;
  ContentSample sample;
  sample.extension = ext;
  sample.source = &source_;
  sample.sectorSize = geo_.bytesPerSector;
  if (s.hasData && s.dataResident) {
    sample.firstBytes = s.residentData;
    return contentCheck_(sample) ? 1 : 0;
  }
  if (!s.hasFirstCluster || s.dataCompressedOrEncrypted) return 1;
  std::vector<uint8_t> sector(geo_.bytesPerSector);
  uint64_t off = geo_.partitionOffset + s.firstCluster * geo_.clusterBytes;
  if (s.firstCluster >= geo_.totalClusters || ReadBytes(off, sector.size(), sector.data())) return 1;
  sample.firstBytes = ByteView(sector.data(), sector.size());
  sample.absoluteSector = off / geo_.bytesPerSector;
  return contentCheck_(sample) ? 1 : 0;
}

QuickNtfsEngine::FolderInfo& QuickNtfsEngine::Folder(uint64_t n) {
  auto it = folders_.find(n);
  if (it != folders_.end()) return it->second;
  FolderInfo info;
  std::vector<uint8_t> rec;
  if (ReadRecord(n, rec) == kOk) {
    ByteView v(rec.data(), rec.size());
    RecordHeaderInfo h = ReadRecordHeader(v);
    if ((h.flags & kRecordIsDirectory) && h.baseRecord == 0) {
      RecordSummary s;
      SummarizeRecord(v, s);
      if (!s.hasName && s.hasAttributeList) s.hasName = FindFileName(n, s.name);
      if (s.hasName) {
        info.real = true;
        info.name = std::move(s.name);
      }
    }
  }
  folderList_.push_back(n);
  return folders_.emplace(n, std::move(info)).first->second;
}

uint32_t QuickNtfsEngine::DepthOf(uint64_t p) {
  // Number of folders from p up to the root, p included. The chain stops at
  // the first ancestor that is not a readable folder, and at a loop: that
  // ancestor becomes a top-level lost folder, so levels stay consistent.
  std::vector<uint64_t> chain;
  std::set<uint64_t> onChain;
  uint64_t cur = p;
  uint32_t base = 0;
  for (;;) {
    if (cur == kRootRecord) break;
    FolderInfo& f = Folder(cur);
    if (f.depthKnown) {
      base = f.depth;
      break;
    }
    if (!f.real || onChain.count(cur)) {
      f.real = false;
      f.depth = 1;
      f.depthKnown = true;
      base = 1;
      break;
    }
    chain.push_back(cur);
    onChain.insert(cur);
    cur = f.name.parentRecord;
  }
  for (size_t i = chain.size(); i-- > 0;) {
    FolderInfo& f = folders_[chain[i]];
    if (!f.depthKnown) {
      f.depth = ++base;
      f.depthKnown = true;
    } else {
      base = f.depth;
    }
  }
  return p == kRootRecord ? 0 : folders_[p].depth;
}

void QuickNtfsEngine::ParseDeletedRecord(uint64_t n, std::span<uint8_t> record) {
  ByteView v(record.data(), record.size());
  if (!HasFileSignature(v)) return;
  RecordHeaderInfo h = ReadRecordHeader(v);
  if ((h.flags & (kRecordInUse | kRecordIsDirectory)) || h.baseRecord != 0) return;
  if (ApplyFixup(record)) return;
  RecordSummary s;
  SummarizeRecord(v, s);
  if (n < kFirstUserRecord) return;
  if (!s.hasName && s.hasAttributeList) s.hasName = FindFileName(n, s.name);
  if (!s.hasName || n < kFirstUserRecord || n > 0xFFFFFFFFull) return;

  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = tag_;
  r.sourceKind = kSourceQuickNtfs;
  r.isFolder = 0;
  r.itemId = uint32_t(n);
  r.clusterBytes = geo_.clusterBytes;
  r.created = s.name.created;
  r.accessed = s.name.accessed;
  r.modified = s.name.modified;
  r.size = s.hasData ? s.dataSize : s.name.realSize;
  if (!s.hasData && s.hasAttributeList) {
    DataLayout layout;
    if (FindAttributeRuns(n, kAttrData, layout) == kOk) r.size = layout.realSize;
  }
  r.location = geo_.SectorOfRecord(n);
  r.partitionStart = geo_.partitionStart;
  SetRecordName(r, s.name.name);
  r.contentOk = CheckContent(s.name.name, s);
  uint64_t parent = s.name.parentRecord;
  uint32_t level = DepthOf(parent);
  store_->Append(r, uint32_t(parent), level);
  if (s.hasNamedData || s.hasAttributeList) AppendStreams(n, record, r, s.name.name, uint32_t(parent), level);
}

ContentSample QuickNtfsEngine::StreamSample(const NamedStream& st, std::vector<uint8_t>& buffer) const {
  ContentSample sample;
  sample.source = &source_;
  sample.sectorSize = geo_.bytesPerSector;
  if (st.resident) {
    sample.firstBytes = st.value;
    return sample;
  }
  DataLayout layout;
  if (st.compressedOrEncrypted || BuildDataLayout(st.pieces, geo_.totalClusters, geo_.clusterBytes, layout) ||
      layout.extents.empty() || layout.extents.front().sparse)
    return sample;
  const uint64_t off = geo_.partitionOffset + layout.extents.front().lcn * geo_.clusterBytes;
  buffer.assign(geo_.bytesPerSector, 0);
  if (ReadBytes(off, buffer.size(), buffer.data())) return sample;
  sample.firstBytes = ByteView(buffer.data(), size_t(std::min<uint64_t>(buffer.size(), st.size)));
  sample.absoluteSector = off / geo_.bytesPerSector;
  return sample;
}

void QuickNtfsEngine::AppendStreams(uint64_t n, std::span<const uint8_t> record, const FoundItemRecord& file,
                                    const std::string& fileName, uint32_t parent, uint32_t level) {
  std::vector<std::vector<uint8_t>> keep;
  keep.emplace_back(record.begin(), record.end());
  std::vector<AttributeView> attributes;
  bool sawList = false;
  // An extension record that cannot be read costs only the streams it held.
  (void)CollectPieces(n, kAttrData, keep, attributes, sawList, DataSelector{DataSelector::Kind::kEveryNamed});
  std::vector<uint8_t> buffer;
  for (const NamedStream& st : UserStreams(attributes)) {
    FoundItemRecord r = file;
    r.size = st.size;
    r.dataAreaStart = StreamItemTag(st.key);
    StreamVerdict v = JudgeStream(fileName, st.name, contentCheck_, StreamSample(st, buffer));
    SetRecordName(r, v.name);
    r.contentOk = v.contentOk;
    store_->Append(r, parent, level);
  }
}

void QuickNtfsEngine::EmitFolders() {
  for (size_t i = 0; i < folderList_.size(); ++i) {
    uint64_t n = folderList_[i];
    FolderInfo f = folders_[n];
    FoundItemRecord r = MakeEmptyRecord();
    r.sourceTag = tag_;
    r.sourceKind = kSourceQuickNtfs;
    r.isFolder = 1;
    r.contentOk = 1;
    r.itemId = uint32_t(n);
    if (!f.real) {
      r.clusterBytes = kNoClusterSize;
      SetRecordName(r, "LostFolder" + std::to_string(n));
      store_->Append(r, kRootRecord, 0);
      continue;
    }
    r.clusterBytes = geo_.clusterBytes;
    r.created = f.name.created;
    r.accessed = f.name.accessed;
    r.modified = f.name.modified;
    r.size = f.name.realSize;
    r.location = geo_.SectorOfRecord(n);
    r.partitionStart = geo_.partitionStart;
    SetRecordName(r, f.name.name);
    uint64_t parent = f.name.parentRecord;
    store_->Append(r, uint32_t(parent), DepthOf(parent));
  }
}

Status QuickNtfsEngine::Scan(const std::string* earlierLog) {
  folderList_.clear();
  folders_.clear();
  store_.reset();
  if (earlierLog) return OpenStore(*earlierLog);
  std::time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  if (Status s = OpenStore(QuickScanLogName(geo_.partitionStart, local))) return s;
  if (openStatus_) return openStatus_;
  return RunScan();
}

Status QuickNtfsEngine::RunScan() {
  using Clock = std::chrono::steady_clock;
  constexpr uint32_t kPollRecords = 16;
  constexpr auto kStopPoll = std::chrono::milliseconds(100);
  auto lastAsked = Clock::now();
  ProgressEstimator estimate;
  estimate.Start();
  const uint64_t records = geo_.RecordCount();
  const uint64_t totalBytes = records * geo_.recordBytes;
  for (uint64_t first = 0; first < records; first += kBatchRecords) {
    uint32_t count = uint32_t(std::min<uint64_t>(kBatchRecords, records - first));
    if (Status s = ReadBatch(first, count, batch_.data())) {
      // A bad sector costs only the records on it: read them one by one. A
      // record that fails is read again sector by sector, which tells (and
      // counts) which of its sectors the medium cannot deliver; the scan goes
      // on past it. Only a batch the medium does not hold at all ends it.
      uint32_t readable = 0, damaged = 0;
      for (uint32_t i = 0; i < count; ++i) {
        uint8_t* rec = batch_.data() + size_t(i) * geo_.recordBytes;
        if (ReadBatch(first + i, 1, rec) == kOk) {
          ++readable;
          continue;
        }
        uint64_t off = 0;
        uint32_t bad = 0;
        if (geo_.RecordOffset(first + i, off) && off % 512 == 0 &&
            source_.ReadSectorsSkippingBad(geo_.recordBytes / 512, rec, off / 512, 512, bad) == kOk && bad)
          ++damaged;
        std::memset(rec, 0, geo_.recordBytes);
      }
      if (readable == 0 && damaged == 0) return s;
    }
    // A deleted file costs a read of its first sector and of folders not met
    // yet: on a slow disk a batch can take seconds, so the stop question is
    // also asked between records once kStopPollMs have passed.
    int stopped = 0;
    for (uint32_t i = 0; i < count && !stopped; ++i) {
      try {
        ParseDeletedRecord(first + i,
                           std::span<uint8_t>(batch_.data() + size_t(i) * geo_.recordBytes, geo_.recordBytes));
      } catch (const std::exception&) {
        // A record that cannot be parsed is lost alone.
      }
      if (progress_ && (i % kPollRecords) == kPollRecords - 1 && Clock::now() - lastAsked >= kStopPoll) {
        lastAsked = Clock::now();
        uint64_t at = (first + i + 1) * geo_.recordBytes;
        stopped = progress_(user_, PercentOf(at, totalBytes), share_, estimate.SecondsLeft(), 0, 0, 0, 0);
      }
    }
    uint64_t doneBytes = (first + count) * geo_.recordBytes;
    int64_t left = estimate.Update(doneBytes, totalBytes, share_);
    if (progress_ && !stopped) {
      lastAsked = Clock::now();
      stopped = progress_(user_, PercentOf(doneBytes, totalBytes), share_, left, 0, 0, 0, 0);
    }
    if (stopped) {
      // The files found so far keep their folders, so they can be listed and
      // copied. Those folders were read already; this is quick.
      FinishFolders();
      return stopped;
    }
  }
  FinishFolders();
  if (progress_) progress_(user_, 100, share_, 0, 0, 0, 0, 0);
  return store_->Flush();
}

void QuickNtfsEngine::FinishFolders() {
  try {
    EmitFolders();
  } catch (const std::exception&) {
  }
  (void)store_->Flush();
}

Status QuickNtfsEngine::LoadAllocationBitmap() {
  if (openStatus_) return openStatus_;
  DataLayout layout;
  if (Status s = FindAttributeRuns(6, kAttrData, layout)) return s == kAttributeNotFound ? kInvalidArg : s;
  return ReadClusterBitmap(layout, geo_.clusterBytes, (geo_.totalClusters + 7) / 8, VolumeRead(),
                           geo_.sectorsPerCluster, sectorCount_, bitmap_);
}

Status QuickNtfsEngine::NextFreeExtent(uint64_t& start, uint64_t& length) {
  if (!bitmap_.Loaded()) {
    length = 0;
    return kInvalidArg;
  }
  bitmap_.NextFreeExtent(start, length);
  return 1;
}

}  // namespace dunmere
