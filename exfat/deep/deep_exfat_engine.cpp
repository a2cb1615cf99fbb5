#include "exfat/deep/deep_exfat_engine.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <numeric>
#include <unordered_set>

#include "base/text.h"
#include "engine/content_pieces.h"
#include "engine/log_name.h"
#include "engine/scan_log_folder.h"
#include "exfat/exfat_fat.h"
#include "exfat/exfat_timestamps.h"
#include "platform/file.h"
#include "platform/local_time.h"

// How the deep exFAT scan fills the 346-byte record (as the quick exFAT
// scan does, so preview, copy-out, search by type and the matching of
// carved copies treat both alike):
//   itemId         a file's: the first cluster of its data. A folder's: an
//                  id of this scan (ExfatPlacement::kFirstFolderId on; the
//                  top is kRootId), since cluster numbers of several volumes
//                  on one disk would collide in the relations
//   location       where the item's stream extension entry lies on the
//                  medium: its byte offset divided by 32, so the copy-out
//                  reads its flags and valid data length again. A lost
//                  folder's: its first cluster's byte offset divided by 32
//   dataAreaStart  the cluster heap's first sector, in sectors of the medium
//                  counted from the volume's start (partitionStart + this
//                  + (cluster - 2) * clusterBytes / sector size is where a
//                  cluster lies)
//   partitionStart the volume's first sector on the medium (a volume known
//                  only from its root: where its heap starts, dataAreaStart 0)
//   clusterBytes   the volume's cluster size; kNoClusterSize for lost
//                  folders and for sets no volume holds (listed, not copied)
//   size           the data length (a folder's record: 0)
//   created, modified, accessed
//                  the file entry's timestamps as FILETIME, as the quick scan
//   deletedFlag    1: the set is deleted, lies in a deleted folder, or in a
//                  folder whose own entry is gone (lost to a format)
//   contentOk      the carving detectors' word on the first sector of data
namespace dunmere {

namespace {
constexpr uint32_t kRunBytes = 1u << 20;
constexpr uint32_t kFatWindowBytes = 65536;
// Volumes learned from root directories, at most.
constexpr int kMaxInferred = 32;
// How much of the clusters in use is read for the entries of lost folders.
constexpr uint64_t kLostEntryBudget = 64ull << 20;
constexpr int kLostEntryRounds = 8;
// A bitmap larger than this is damage (a 2^32-cluster heap needs 512 MiB).
constexpr uint64_t kMaxBitmapBytes = 512ull << 20;

bool LooksLikeFatStart(const uint8_t* p) { return Le32(p) == 0xFFFFFFF8u && Le32(p + 4) == 0xFFFFFFFFu; }
}  // namespace

DeepExfatEngine::DeepExfatEngine() = default;

DeepExfatEngine::~DeepExfatEngine() {
  (void)findings_.Close();
  store_.reset();
}

Status DeepExfatEngine::Open(const Medium& medium, uint16_t tag) {
  source_ = medium.source.Share();
  if (!source_.IsOpen() || medium.start >= source_.SectorCount()) return kInvalidArg;
  start_ = medium.start;
  count_ = std::min(medium.count, source_.SectorCount() - start_);
  sectorSize_ = source_.UnitSize();
  tag_ = tag;
  opened_ = true;
  return kOk;
}

size_t DeepExfatEngine::ReadBytes(uint64_t at, uint8_t* out, size_t bytes) const {
  if (!opened_ || bytes == 0) return 0;
  const uint64_t first = at / sectorSize_;
  if (first >= source_.SectorCount()) return 0;
  const uint64_t last = std::min<uint64_t>((at + bytes + sectorSize_ - 1) / sectorSize_, source_.SectorCount());
  std::vector<uint8_t> buf(size_t(last - first) * sectorSize_);
  uint32_t got = 0;
  (void)source_.ReadSectors(uint32_t(last - first), buf.data(), first, sectorSize_, got);
  const uint64_t skip = at - first * sectorSize_;
  const uint64_t have = uint64_t(got) * sectorSize_;
  if (have <= skip) return 0;
  const size_t n = size_t(std::min<uint64_t>(bytes, have - skip));
  std::memcpy(out, buf.data() + skip, n);
  return n;
}

// --- The pass -----------------------------------------------------------------

Status DeepExfatEngine::BeginPass(const std::string* earlierLog) {
  if (!opened_) return kNotReady;
  store_.reset();
  (void)findings_.Close();
  const std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  std::string name = earlierLog ? *earlierLog : std::string();
  if (name.empty()) {
    name = FormatLogName("Pro_Exfat_", start_, LocalTimeNow());
    // A log of the same name is from an earlier scan in the same minute:
    // replaced, never added to.
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) (void)RemoveFile(folder + "/" + name + suffix);
  }
  logName_ = name;
  stats_ = Stats{};
  coveredUntil_ = 0;
  // Hidden: never taken for a log when a scan is resumed. A resume keeps
  // what the stopped run found.
  (void)findings_.Open(folder + "/." + name + "_found", earlierLog != nullptr);
  return OpenStore(name);
}

bool DeepExfatEngine::TakeSector(const DeepChunk& chunk, uint64_t i) {
  if (!opened_ || !chunk.data || i >= chunk.sectors) return false;
  const size_t ss = chunk.sectorSize;
  ByteView sector(chunk.data + i * ss, ss);
  const uint64_t at = (chunk.firstSector + i) * ss;
  auto reader = [this](uint64_t from, uint8_t* out, size_t n) { return ReadBytes(from, out, n); };
  try {
    if (IsExfatBootSector(sector)) {
      auto v = ExfatVolumeFromBootSector(sector, at, sectorSize_, MediumBytes(), reader);
      if (v) findings_.Add(ExfatFindingKind::kBoot, v->g.VolumeOffset(), sector.Sub(0, 512));
      return true;
    }
    const ExfatSlotTypes types = ReadExfatSlotTypes(sector);
    if (!types.mostAreEntries) return false;
    // No slot starts a set or holds the root's entries (zeros): only a set
    // of an earlier sector makes it a directory's, as ScanExfatSector says.
    if (!types.anyStart) return at < coveredUntil_;
    // Deleted folders the quick pass walked are listed by it with their
    // paths: taken, not read again.
    const bool walked = chunk.quick && chunk.quick->WalkedDeletedDirectoryAt(at);
    ByteView run(chunk.data + i * ss, size_t(chunk.sectors - i) * ss);
    const ExfatSectorScan scan = ScanExfatSector(run, ss, at, coveredUntil_, reader, walked ? nullptr : this);
    coveredUntil_ = std::max(coveredUntil_, scan.setsEnd);
    return scan.taken;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void DeepExfatEngine::OnSet(uint64_t at, ByteView set) { findings_.Add(ExfatFindingKind::kSet, at, set); }
void DeepExfatEngine::OnCutSet(uint64_t at) { findings_.Add(ExfatFindingKind::kCutSet, at, ByteView()); }
void DeepExfatEngine::OnRootSector(uint64_t at, ByteView sector) {
  findings_.Add(ExfatFindingKind::kRoot, at, sector);
}

// --- After the pass -------------------------------------------------------------

Status DeepExfatEngine::FinishPass() {
  StopPoll poll(progress_, user_, 0, share_);
  (void)poll.Stopped();  // asked once up front, then as the work goes on
  Status s = kOk;
  try {
    s = Finish(poll);
  } catch (const std::bad_alloc&) {
    s = kNoMemory;
  } catch (...) {
    s = kInvalidData;
  }
  return poll.Answer() ? Status(poll.Answer()) : s;
}

void DeepExfatEngine::LearnVolumes(const std::vector<ExfatFinding>& found, const std::function<bool()>& stop,
                                   std::vector<uint64_t>& roots) {
  auto reader = [this](uint64_t from, uint8_t* out, size_t n) { return ReadBytes(from, out, n); };
  // The area's own boot region, read here: a pass over free clusters only
  // never meets it. The backup is tried where either sector size puts it.
  const uint64_t areaAt = start_ * sectorSize_;
  std::vector<uint8_t> boot(512);
  for (const uint64_t at : {areaAt, areaAt + uint64_t(12 * 512), areaAt + uint64_t(12 * 4096)}) {
    if (ReadBytes(at, boot.data(), boot.size()) != boot.size()) continue;
    auto v = ExfatVolumeFromBootSector(ByteView(boot.data(), boot.size()), at, sectorSize_, MediumBytes(), reader);
    if (v) {
      AddExfatVolume(volumes_, *v);
      break;
    }
  }
  std::vector<uint8_t> bytes;
  for (const ExfatFinding& f : found) {
    if (f.kind != ExfatFindingKind::kBoot || findings_.Read(f, bytes)) continue;
    ExfatVolume v;
    if (f.at % sectorSize_ || ParseExfatBootSector(ByteView(bytes.data(), bytes.size()), v.g) != kOk) continue;
    v.g.deviceSectorSize = sectorSize_;
    v.g.partitionStart = f.at / sectorSize_;
    const uint64_t sectors = source_.SectorCount();
    v.g.areaSectors = sectors > v.g.partitionStart ? sectors - v.g.partitionStart : 0;
    AddExfatVolume(volumes_, v);
  }
  int inferred = 0;
  for (const ExfatFinding& f : found) {
    if (f.kind != ExfatFindingKind::kRoot || findings_.Read(f, bytes)) continue;
    ExfatDataEntry bitmap, upcase;
    if (!FindRootEntries(ByteView(bytes.data(), bytes.size()), bitmap, upcase)) continue;
    int v = ExfatVolumeHolding(volumes_, f.at);
    if (v < 0 && inferred < kMaxInferred && !stop()) {
      ++inferred;
      auto nv = ExfatVolumeFromRoot(f.at, bitmap, upcase, sectorSize_, MediumBytes(), reader);
      if (nv) {
        v = AddExfatVolume(volumes_, *nv);
        if (v >= 0) ++stats_.inferredVolumes;
      }
    }
    if (v < 0) continue;
    ExfatVolume& vol = volumes_[size_t(v)];
    // The bitmap this root names is its own volume's only in its own root.
    if (!vol.haveBitmap && vol.ClusterAt(f.at) == vol.g.rootCluster) {
      vol.haveBitmap = true;
      vol.bitmap = bitmap;
    }
    roots.push_back(f.at);
  }
  // A pass over free clusters never reads a live root: its entries are read here.
  std::vector<uint8_t> head(4096);
  for (ExfatVolume& vol : volumes_) {
    if (vol.haveBitmap || !vol.fromBoot || !vol.g.ValidCluster(vol.g.rootCluster)) continue;
    const size_t got = ReadBytes(vol.g.ClusterOffset(vol.g.rootCluster), head.data(),
                                 std::min<size_t>(head.size(), vol.g.ClusterBytes()));
    ExfatDataEntry bitmap, upcase;
    if (FindRootEntries(ByteView(head.data(), got), bitmap, upcase)) {
      vol.haveBitmap = true;
      vol.bitmap = bitmap;
    }
  }
  stats_.volumes = volumes_.size();
  fatState_.assign(volumes_.size(), 0);
  bitmaps_.clear();
  bitmaps_.resize(volumes_.size());
  bitmapTried_.assign(volumes_.size(), false);
  fatWindow_ = FatWindow{};
}

bool DeepExfatEngine::FatUsable(int v) {
  if (v < 0 || size_t(v) >= volumes_.size()) return false;
  int8_t& state = fatState_[size_t(v)];
  if (state == 0) {
    const ExfatVolume& vol = volumes_[size_t(v)];
    uint8_t head[8] = {};
    const bool ok = vol.fromBoot && vol.g.fatLength > 0 &&
                    ReadBytes(vol.g.FatByteOffset(), head, sizeof head) == sizeof head && LooksLikeFatStart(head);
    state = ok ? 1 : -1;
  }
  return state > 0;
}

bool DeepExfatEngine::FatEntry(int v, uint32_t cluster, uint32_t& next) {
  if (!FatUsable(v)) return false;
  const ExfatGeometry& g = volumes_[size_t(v)].g;
  if (cluster > g.MaxCluster()) return false;
  const uint64_t entry = uint64_t(cluster) * 4;
  FatWindow& w = fatWindow_;
  if (w.volume != v || entry < w.start || entry + 4 > w.start + w.bytes.size()) {
    w.volume = -1;
    w.start = entry / kFatWindowBytes * kFatWindowBytes;
    if (w.start >= g.FatBytes()) return false;
    w.bytes.resize(size_t(std::min<uint64_t>(kFatWindowBytes, g.FatBytes() - w.start)));
    w.bytes.resize(ReadBytes(g.FatByteOffset() + w.start, w.bytes.data(), w.bytes.size()));
    w.volume = v;
  }
  return DecodeExfatFatEntry(ByteView(w.bytes.data(), w.bytes.size()), w.start, cluster, next);
}

bool DeepExfatEngine::JoinCutSet(uint64_t at, std::vector<uint8_t>& bytes, uint64_t& streamAt) {
  const int v = ExfatVolumeHolding(volumes_, at);
  if (v < 0 || !FatUsable(v)) return false;
  const ExfatGeometry& g = volumes_[size_t(v)].g;
  uint8_t head[kExfatEntrySize];
  if (ReadBytes(at, head, sizeof head) != sizeof head) return false;
  const uint64_t total = (uint64_t(head[1]) + 1) * kExfatEntrySize;
  uint32_t cluster = volumes_[size_t(v)].ClusterAt(at);
  uint64_t pos = at;
  bytes.clear();
  streamAt = 0;
  // A set is at most 8 KiB: with the smallest clusters it crosses 17 of them.
  for (int step = 0; bytes.size() < total && step < 32; ++step) {
    const uint64_t clusterEnd = g.ClusterOffset(cluster) + g.ClusterBytes();
    const size_t take = size_t(std::min<uint64_t>(total - bytes.size(), clusterEnd - pos));
    const size_t base = bytes.size();
    bytes.resize(base + take);
    if (ReadBytes(pos, bytes.data() + base, take) != take) return false;
    if (base <= kExfatEntrySize && kExfatEntrySize < base + take) streamAt = pos + (kExfatEntrySize - base);
    if (bytes.size() == total) break;
    uint32_t next = 0;
    if (!FatEntry(v, cluster, next) || !g.ValidCluster(next)) return false;
    cluster = next;
    pos = g.ClusterOffset(cluster);
  }
  ExfatFileSet set;
  return bytes.size() == total && streamAt != 0 &&
         ParseExfatFileSet(ByteView(bytes.data(), bytes.size()), set) == ExfatSetState::kValid;
}

FoundItemRecord DeepExfatEngine::SetRecord(const ExfatFileSet& set, ByteView fileEntry, int v,
                                           uint64_t streamAt) const {
  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = tag_;
  r.sourceKind = kSourceDeepExfat;
  const ExfatTimes t = DecodeExfatTimes(fileEntry);
  r.created = t.created;
  r.modified = t.modified;
  r.accessed = t.accessed;
  r.location = streamAt / kExfatEntrySize;
  r.clusterBytes = kNoClusterSize;
  if (v >= 0) {
    const ExfatVolume& vol = volumes_[size_t(v)];
    r.clusterBytes = vol.g.ClusterBytes();
    r.partitionStart = vol.g.partitionStart;
    r.dataAreaStart = (vol.HeapStart() - vol.g.VolumeOffset()) / sectorSize_;
  }
  SetRecordName(r, ExfatNameToUtf8(set.name));
  return r;
}

int DeepExfatEngine::ContentPlausible(const FoundItemRecord& r, const std::function<bool()>& stop) {
  const std::string ext = ExtensionOf(RecordName(r));
  if (!contentCheck_ || ext.empty() || r.size == 0 || r.clusterBytes == kNoClusterSize || r.itemId < 2) return 1;
  if (stop()) return 1;
  uint64_t first = 0;
  if (!FirstDataSector(r, first) || first >= source_.SectorCount()) return 1;
  std::vector<uint8_t> sector(sectorSize_);
  uint32_t got = 0;
  if (source_.ReadSectors(1, sector.data(), first, sectorSize_, got) || got == 0) return 1;
  ContentSample sample;
  sample.extension = ext;
  sample.firstBytes = ByteView(sector.data(), sector.size());
  sample.source = &source_;
  sample.sectorSize = sectorSize_;
  sample.absoluteSector = first;
  return contentCheck_(sample) ? 1 : 0;
}

void DeepExfatEngine::SortByPlace(std::vector<ExfatPlacedSet>& sets, std::vector<SetSource>& sources) {
  // In order of place, each place once (a cut set is never also a whole one).
  std::vector<size_t> order(sets.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sets[a].at < sets[b].at; });
  std::vector<ExfatPlacedSet> sorted;
  std::vector<SetSource> sortedSources;
  sorted.reserve(sets.size());
  sortedSources.reserve(sets.size());
  for (size_t k : order) {
    if (!sorted.empty() && sorted.back().at == sets[k].at) continue;
    sorted.push_back(sets[k]);
    sortedSources.push_back(sources[k]);
  }
  sets.swap(sorted);
  sources.swap(sortedSources);
}

bool DeepExfatEngine::FindLostFolderEntries(const ExfatPlacement& placed, std::vector<ExfatPlacedSet>& sets,
                                            std::vector<SetSource>& sources, uint64_t& budget,
                                            const std::function<bool()>& stop) {
  std::map<int, std::unordered_set<uint32_t>> lost;
  for (const ExfatFolderNode& node : placed.folders)
    if (node.kind == ExfatFolderNode::Kind::kLost) lost[node.volume].insert(uint32_t(node.number));
  std::unordered_set<uint64_t> known;
  for (const ExfatPlacedSet& p : sets) known.insert(p.at);
  bool added = false;
  std::vector<uint8_t> cluster;
  for (const auto& [v, firsts] : lost) {
    const ExfatAllocationBitmap* bits = BitmapOf(v);
    if (!bits) continue;
    const ExfatGeometry& g = volumes_[size_t(v)].g;
    const uint32_t cb = g.ClusterBytes();
    cluster.resize(cb);
    for (uint64_t c = 2; c <= g.MaxCluster() && budget >= cb && !stop();) {
      if (!bits->InUse(c)) {
        c = bits->RunEnd(c);
        continue;
      }
      budget -= cb;
      const uint64_t at = g.ClusterOffset(uint32_t(c));
      const size_t got = ReadBytes(at, cluster.data(), cb);
      ByteView view(cluster.data(), got);
      for (size_t off = 0; off + 2 * kExfatEntrySize <= got; off += kExfatEntrySize) {
        if ((view.U8(off) | kExfatInUse) != kExfatFileEntry) continue;
        ExfatFileSet set;
        ByteView from = view.Sub(off, kExfatMaxSetBytes);
        if (ParseExfatFileSet(from, set) != ExfatSetState::kValid || !set.IsDirectory() ||
            !firsts.count(set.firstCluster) || known.count(at + off))
          continue;
        repaired_.emplace_back(from.data(), from.data() + set.Bytes());
        ExfatPlacedSet p;
        p.at = at + off;
        p.firstCluster = set.firstCluster;
        p.dataLength = set.dataLength;
        p.validDataLength = set.validDataLength;
        p.directory = true;
        p.deleted = set.deleted;
        p.noFatChain = set.NoFatChain();
        sets.push_back(p);
        sources.push_back(SetSource{true, repaired_.size() - 1, p.at + kExfatEntrySize});
        known.insert(p.at);
        ++stats_.foundInUsedClusters;
        added = true;
      }
      ++c;
    }
  }
  return added;
}

Status DeepExfatEngine::Finish(StopPoll& poll) {
  if (!store_) return kNotReady;
  auto stop = [&poll] { return poll.Stopped(); };
  std::vector<ExfatFinding> found;
  if (Status s = findings_.List(found)) return s;
  stats_ = Stats{};
  stats_.dropped = findings_.Dropped();
  volumes_.clear();
  repaired_.clear();
  std::vector<uint64_t> roots;
  LearnVolumes(found, stop, roots);

  // The sets, with where each came from.
  ExfatPlacementInput in;
  std::vector<SetSource> sources;
  std::vector<uint8_t> bytes;
  for (size_t k = 0; k < found.size(); ++k) {
    const ExfatFinding& f = found[k];
    SetSource src;
    if (f.kind == ExfatFindingKind::kSet) {
      if (findings_.Read(f, bytes)) continue;
      src = SetSource{false, k, f.at + kExfatEntrySize};
    } else if (f.kind == ExfatFindingKind::kCutSet) {
      uint64_t streamAt = 0;
      if (stop() || !JoinCutSet(f.at, bytes, streamAt)) continue;
      repaired_.push_back(bytes);
      src = SetSource{true, repaired_.size() - 1, streamAt};
      ++stats_.repaired;
    } else {
      continue;
    }
    ExfatFileSet set;
    if (ParseExfatFileSet(ByteView(bytes.data(), bytes.size()), set) != ExfatSetState::kValid) continue;
    if (ExfatNameToUtf8(set.name).empty()) {
      ++stats_.damaged;
      continue;
    }
    ExfatPlacedSet p;
    p.at = f.at;
    p.firstCluster = set.firstCluster;
    p.dataLength = set.dataLength;
    p.validDataLength = set.validDataLength;
    p.directory = set.IsDirectory();
    p.deleted = set.deleted;
    p.noFatChain = set.NoFatChain();
    in.sets.push_back(p);
    sources.push_back(src);
  }
  SortByPlace(in.sets, sources);
  in.volumes = &volumes_;
  in.roots = roots;
  in.mediumBytes = MediumBytes();
  in.fat = [this](int v, uint32_t c, uint32_t& next) { return FatEntry(v, c, next); };
  ExfatPlacement placed = PlaceExfatSets(in, stop);
  // A folder's set found so may lie in another lost folder: a few rounds.
  uint64_t budget = kLostEntryBudget;
  for (int round = 0; round < kLostEntryRounds && !stop(); ++round) {
    if (!FindLostFolderEntries(placed, in.sets, sources, budget, stop)) break;
    SortByPlace(in.sets, sources);
    placed = PlaceExfatSets(in, stop);
  }
  stats_.damaged += placed.damaged;

  auto setOf = [&](uint32_t i, ExfatFileSet& set, std::vector<uint8_t>& raw) {
    const SetSource& src = sources[i];
    if (src.repaired)
      raw = repaired_[src.index];
    else if (findings_.Read(found[src.index], raw))
      return false;
    return ParseExfatFileSet(ByteView(raw.data(), raw.size()), set) == ExfatSetState::kValid;
  };

  // The log is written anew from everything found, so a resumed scan gives
  // what an unbroken one would.
  if (Status s = store_->TruncateTo(0)) return s;
  const uint64_t total = placed.folders.size() + placed.files.size();
  uint64_t done = 0;
  for (size_t k = 0; k < placed.folders.size(); ++k, ++done) {
    const ExfatFolderNode& node = placed.folders[k];
    FoundItemRecord r = MakeEmptyRecord();
    if (node.kind == ExfatFolderNode::Kind::kSet) {
      ExfatFileSet set;
      if (!setOf(node.set, set, bytes)) continue;
      r = SetRecord(set, ByteView(bytes.data(), bytes.size()), node.volume, sources[node.set].streamAt);
      ++stats_.folders;
    } else {
      r.sourceTag = tag_;
      r.sourceKind = kSourceDeepExfat;
      r.clusterBytes = kNoClusterSize;
      r.location = node.at / kExfatEntrySize;
      if (node.volume >= 0) {
        const ExfatVolume& vol = volumes_[size_t(node.volume)];
        r.partitionStart = vol.g.partitionStart;
        r.dataAreaStart = (vol.HeapStart() - vol.g.VolumeOffset()) / sectorSize_;
      }
      SetRecordName(r, "LostFolder" + std::to_string(node.number));
      ++stats_.lostFolders;
    }
    r.isFolder = 1;
    r.contentOk = 1;
    r.deletedFlag = node.deleted ? 1 : 0;
    r.itemId = ExfatPlacement::kFirstFolderId + uint32_t(k);
    store_->Append(r, node.parent, node.level);
    poll.SetProgress(done, total);
  }
  for (const ExfatPlacedFile& f : placed.files) {
    ++done;
    ExfatFileSet set;
    if (!setOf(f.set, set, bytes)) continue;
    FoundItemRecord r = SetRecord(set, ByteView(bytes.data(), bytes.size()), f.volume, sources[f.set].streamAt);
    r.itemId = set.firstCluster;
    r.size = set.dataLength;
    r.deletedFlag = f.deleted ? 1 : 0;
    r.contentOk = uint32_t(ContentPlausible(r, stop));
    store_->Append(r, f.parent, f.level);
    ++stats_.files;
    poll.SetProgress(done, total);
  }
  stats_.sets = stats_.files + stats_.folders;
  Status s = store_->Flush();
  (void)findings_.Flush();
  return s ? s : store_->WriteError();
}

// --- Reading a file back -----------------------------------------------------------

int DeepExfatEngine::VolumeOfRecord(const FoundItemRecord& r) const {
  const uint64_t heap = (uint64_t(r.partitionStart) + r.dataAreaStart) * sectorSize_;
  for (size_t v = 0; v < volumes_.size(); ++v) {
    const ExfatVolume& vol = volumes_[v];
    if (vol.g.partitionStart == r.partitionStart && vol.HeapStart() == heap && vol.g.ClusterBytes() == r.clusterBytes)
      return int(v);
  }
  return -1;
}

const ExfatAllocationBitmap* DeepExfatEngine::BitmapOf(int v) {
  if (v < 0 || size_t(v) >= volumes_.size()) return nullptr;
  if (!bitmapTried_[size_t(v)]) {
    bitmapTried_[size_t(v)] = true;
    const ExfatVolume& vol = volumes_[size_t(v)];
    const uint64_t want = std::min<uint64_t>(vol.bitmap.dataLength, (uint64_t(vol.g.clusterCount) + 7) / 8);
    if (vol.haveBitmap && want > 0 && want <= kMaxBitmapBytes && vol.g.ValidCluster(vol.bitmap.firstCluster)) {
      // Formatters write the bitmap in one piece, right at its first cluster.
      std::vector<uint8_t> bits(static_cast<size_t>(want));
      if (ReadBytes(vol.g.ClusterOffset(vol.bitmap.firstCluster), bits.data(), bits.size()) == bits.size())
        bitmaps_[size_t(v)] =
            std::make_unique<ExfatAllocationBitmap>(ByteView(bits.data(), bits.size()), vol.g.clusterCount);
    }
  }
  return bitmaps_[size_t(v)].get();
}

Status DeepExfatEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  if (record.isFolder) return kInvalidArg;
  if (!opened_) return kNotReady;
  const uint64_t size = record.size;
  if (size == 0) {
    static const uint8_t kNothing = 0;
    return sink(&kNothing, 0);
  }
  const uint64_t cb = record.clusterBytes;
  // A set no volume holds was listed without the means to find its data.
  if (cb == kNoClusterSize || cb == 0 || cb % sectorSize_ || record.itemId < 2) return kNoContent;
  // The stream extension the record was made from: its flags, its valid
  // data length and whether it is marked deleted.
  uint8_t e[kExfatEntrySize] = {};
  uint8_t flags = kExfatNoFatChain | kExfatAllocationPossible;
  uint64_t valid = size;
  // Only a set marked deleted gave its clusters up. One in a folder lost to
  // a format, or to damage, may still own the clusters the bitmap marks.
  bool deleted = false;
  const uint64_t entryAt = uint64_t(record.location) * kExfatEntrySize;
  if (ReadBytes(entryAt, e, sizeof e) == sizeof e && (e[0] | kExfatInUse) == kExfatStreamEntry &&
      Le32(e + 20) == record.itemId && Le64(e + 24) == size) {
    flags = e[1];
    valid = std::min(Le64(e + 8), size);
    deleted = (e[0] & kExfatInUse) == 0;
  }
  const int v = VolumeOfRecord(record);
  const uint64_t heap = (uint64_t(record.partitionStart) + record.dataAreaStart) * sectorSize_;
  const uint64_t clusters = (valid + cb - 1) / cb;
  // Where the valid part lies: the chain where the FAT still holds it, else
  // one run from the first cluster.
  std::vector<uint32_t> chain;
  if (!(flags & kExfatNoFatChain) && v >= 0 && clusters > 0) {
    auto read = [this, v](uint32_t c, uint32_t& next) { return FatEntry(v, c, next); };
    if (FollowExfatChain(record.itemId, clusters, volumes_[size_t(v)].g.MaxCluster(), read, chain) !=
        ExfatChainEnd::kComplete)
      chain.clear();
  }
  if (chain.empty())
    for (uint64_t k = 0; k < clusters; ++k) chain.push_back(uint32_t(record.itemId + k));
  if (v >= 0) {
    const ExfatVolume& vol = volumes_[size_t(v)];
    for (uint32_t c : chain)
      if (!vol.g.ValidCluster(c)) return kInvalidData;
    // A deleted file's clusters the volume's bitmap shows in use hold a newer file now.
    if (deleted)
      if (const ExfatAllocationBitmap* bits = BitmapOf(v))
        for (uint32_t c : chain)
          if (bits->InUse(c)) return kDataOverwritten;
  }
  const uint64_t mediumEnd = MediumBytes();
  std::vector<uint8_t>& buf = readBuf_;
  uint64_t remaining = valid;
  for (size_t k = 0; k < chain.size() && remaining > 0;) {
    // Consecutive clusters are read together.
    size_t n = 1;
    while (k + n < chain.size() && chain[k + n] == chain[k] + n && uint64_t(n + 1) * cb <= kRunBytes &&
           uint64_t(n) * cb < remaining)
      ++n;
    const uint64_t at = heap + uint64_t(chain[k] - 2) * cb;
    const size_t want = size_t(std::min<uint64_t>(uint64_t(n) * cb, remaining));
    // Clusters a cut-off image no longer holds are no read error.
    if (at >= mediumEnd || want > mediumEnd - at) return kDataPastEnd;
    buf.resize(std::max(buf.size(), want));
    if (ReadBytes(at, buf.data(), want) != want) return kReadFault;
    if (int a = FeedInPieces(sink, buf.data(), want)) return a;
    remaining -= want;
    k += n;
  }
  // Past the valid data length the file reads as zeros.
  if (int a = FeedZeros(sink, size - valid)) return a;
  return kOk;
}

bool DeepExfatEngine::FirstDataSector(const FoundItemRecord& r, uint64_t& sector) {
  return ExfatRecordFirstSector(r, sectorSize_, sector);
}

}  // namespace dunmere
