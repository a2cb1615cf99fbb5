#include "fat/quick/quick_fat_engine.h"


#include <algorithm>
#include <cstring>
#include <ctime>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_names.h"
#include "fat/fat_timestamps.h"
#include "platform/file.h"
#include "platform/local_time.h"

namespace dunmere {

namespace {
constexpr uint32_t kBootReadBytes = 4096;
// Free clusters are read in runs of this many bytes looking for lost folders.
constexpr uint32_t kLostRunBytes = 4u << 20;
// From this cluster size on, free clusters are asked for their first sector
// one by one: a run read whole would be mostly file data.
constexpr uint32_t kLostSectorEachFrom = 256u << 10;
// A directory holds at most 65,536 entries of 32 bytes.
constexpr uint64_t kMaxDirectoryBytes = 65536ull * 32;
// Free space read while looking for one deleted folder's next cluster, and
// for all of them in one scan.
constexpr uint64_t kLookAheadBytes = 64ull << 20;
constexpr uint64_t kTotalLookAheadBytes = 2ull << 30;
// Clusters passed over for each open folder because they go on other ones.
constexpr size_t kSkippedPerFolder = 8;
// The look for lost folders notes at most this many clusters without "."/".."
// and subfolders listed there: a hostile volume could show millions.
constexpr size_t kMaxNoted = size_t(1) << 16;
// Free space is read ahead in pieces of this size.
constexpr uint32_t kLookAheadPiece = 256 * 1024;

bool IsDotName(ByteView e) {
  return e.U8(0) == '.' && (e.U8(1) == ' ' || (e.U8(1) == '.' && e.U8(2) == ' '));
}
}  // namespace

QuickFatEngine::~QuickFatEngine() { store_.reset(); }

uint64_t QuickFatEngine::MediumEnd() const {
  // Never past the medium nor past the area the caller opened.
  uint64_t areaEnd = geometry_.VolumeOffset() + geometry_.totalSectors * geometry_.deviceSectorSize;
  return std::min<uint64_t>(source_.LengthBytes(), areaEnd ? areaEnd : source_.LengthBytes());
}

Status QuickFatEngine::ReadBytes(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got) const {
  got = 0;
  uint64_t end = MediumEnd();
  if (offset % 512 || offset >= end) return kReadFault;
  uint64_t want = std::min<uint64_t>(length, end - offset);
  want -= want % 512;
  if (want == 0) return kReadFault;
  // What arrives before the first unreadable sector counts; the rest of the
  // stretch is tried sector by sector so the source learns which ones are bad.
  uint32_t bad = 0, firstBad = 0;
  Status s = source_.ReadSectorsSkippingBad(uint32_t(want / 512), out, offset / 512, 512, bad, &firstBad);
  got = (s == kOk || s == kReadFault) ? firstBad * 512 : 0;
  return got ? kOk : (s ? s : kReadFault);
}

Status QuickFatEngine::OpenOn(uint64_t start, uint64_t count, uint16_t tag) {
  uint32_t unit = source_.UnitSize();
  if (start >= source_.SectorCount()) return kInvalidArg;
  count = std::min(count, source_.SectorCount() - start);
  std::vector<uint8_t> boot(kBootReadBytes, 0);
  uint32_t got = 0;
  geometry_ = FatVolumeGeometry{};
  geometry_.partitionStart = start;
  geometry_.totalSectors = count;
  geometry_.deviceSectorSize = unit;
  if (Status s = ReadBytes(start * unit, kBootReadBytes, boot.data(), got)) return s;
  if (got < kBootReadBytes) return kReadFault;
  if (Status s = ReadFatGeometry(ByteView(boot.data(), got), start, count, unit, geometry_)) return s;
  if (Status s = cache_.Open(&source_, geometry_)) return s;
  sourceTag_ = tag;
  opened_ = true;
  return kOk;
}

Status QuickFatEngine::Open(const Medium& medium, uint16_t tag) {
  if (opened_) return kOk;
  source_ = medium.source.Share();
  return OpenOn(medium.start, medium.count, tag);
}

FoundItemRecord QuickFatEngine::BaseRecord(ByteView entry, uint32_t cluster) const {
  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = sourceTag_;
  r.sourceKind = kSourceQuickFat;
  r.itemId = cluster;
  r.clusterBytes = geometry_.ClusterBytes();
  FatTimestamps t = DecodeFatTimestamps(entry);
  r.created = t.created;
  r.accessed = t.accessed;
  r.modified = t.modified;
  r.dataAreaStart = geometry_.dataStart;
  r.partitionStart = geometry_.partitionStart;
  return r;
}

Status QuickFatEngine::Scan(const std::string* earlierLog) {
  if (earlierLog) {
    Status s = OpenStore(*earlierLog);
    if (s == kOk) RecallDeletedWalked();
    return s;
  }
  if (!opened_) return kNotReady;
  pending_.clear();
  walked_.clear();
  claimed_.clear();
  open_.clear();
  deletedWalked_.clear();
  lost_.clear();
  listedIn_.clear();
  headless_.clear();
  joins_.Clear();
  laterOf_.clear();
  nextAfter_.clear();
  lostSearched_ = false;
  lostSearchCut_ = false;
  lostBytesRead_ = 0;
  lookAheadCount_ = 0;
  lookAheadBytes_ = 0;
  folders_.clear();
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
  const uint32_t root = RootId();
  pending_.insert(root);
  if (int r = report(1, -1)) return r;
  walk_.Begin(progress_, user_, share_);
  // Folders first, then the later clusters of deleted folders left open;
  // those may name folders of their own, which are walked in turn. The stop
  // question is asked as the entries are read (StopAsked), so one large
  // folder of files to check does not hold it up.
  while (!StopAsked() && (!pending_.empty() || ContinueOpenFolders() || FindLostFolders())) {
    if (pending_.empty()) continue;
    uint32_t c = *pending_.begin();
    pending_.erase(pending_.begin());
    if (!walked_.insert(c).second) continue;
    WalkDirectory(c);
  }
  int stopped = walk_.End();
  if (!stopped) stopped = report(80, 10);

  // Also after a stop: the files found so far keep their folders, which are
  // in memory already, so they can be listed and copied.
  for (uint32_t c : marked_) {
    auto it = folders_.find(c);
    if (it == folders_.end()) continue;
    FoundItemRecord rec = it->second.record;
    rec.contentOk = 1;
    store_->Append(rec, it->second.parent, it->second.depth - 1);
  }
  (void)store_->Flush();
  if (stopped) return stopped;
  if (int r = report(100, 0)) return r;
  return kOk;
}

void QuickFatEngine::SearchFreeClustersForFolders() {
  const uint32_t cb = geometry_.ClusterBytes();
  const uint32_t maxC = geometry_.MaxCluster();
  const uint64_t mediumEnd = MediumEnd();
  // Only a cluster's first sector can tell a folder ("." and ".." open it).
  // Neighbouring free clusters are read as one long run up to the first
  // sector of the last: one sequential read beats a seek per cluster on a
  // card or disk. Clusters so large that the run would be mostly data are
  // asked for their first sector each.
  const bool sectorEach = cb >= kLostSectorEachFrom;
  const uint32_t runMax = sectorEach ? 1 : std::max<uint32_t>(1, kLostRunBytes / cb);
  std::vector<uint8_t> buf;
  uint64_t spent = 0;
  auto candidate = [&](uint32_t c) { return cache_.IsFree(c) && !walked_.count(c) && !claimed_.count(c); };
  const uint32_t bps = geometry_.bytesPerSector;
  // `bytes`: what was read of the cluster (all of it, or its first sector).
  auto look = [&](uint32_t self, const uint8_t* head, size_t bytes) {
    ByteView v(head, 2 * kFatDirEntrySize);
    if (!IsDotPair(v)) {
      // A folder's later cluster: kept for joining when read whole.
      if (bytes == cb && IsDirectoryCluster(ByteView(head, bps)) && headless_.size() < kMaxNoted) {
        headless_.insert(self);
        NoteEntries(self, ByteView(head, bytes), true);
      }
      return;
    }
    if (v.U8(1) != ' ' || v.U8(2) != ' ') return;
    FatDirEntry dot(v), dotdot(v.Sub(kFatDirEntrySize, kFatDirEntrySize));
    if (dot.FirstCluster(geometry_.fat32) != self) return;
    LostFolder f;
    f.up = dotdot.FirstCluster(geometry_.fat32);
    std::memcpy(f.dot.data(), v.data(), f.dot.size());
    lost_.emplace(self, f);
    if (bytes == cb)
      NoteEntries(self, ByteView(head, bytes).Sub(2 * kFatDirEntrySize, bytes - 2 * kFatDirEntrySize), false);
  };
  // Plain reads, not the skipping ones: this look is no part of the walk, so
  // a sector it cannot read is not added to the scan's unreadable count, and
  // one the walk found bad already is not tried again.
  auto readHead = [&](uint32_t self, uint8_t* into) {
    const uint64_t off = ClusterToOffset(geometry_, self);
    uint32_t got = 0;
    return !source_.KnownUnreadable(off, 512) && source_.ReadSectors(1, into, off / 512, 512, got) == kOk && got == 1;
  };
  // One sweep over [from, to]; false once the limit or a stop ended it.
  auto sweep = [&](uint32_t from, uint32_t to) {
    uint32_t c = from;
    while (c <= to) {
      if (StopAsked()) return false;
      if (!candidate(c)) {
        ++c;
        continue;
      }
      uint32_t n = 1;
      while (n < runMax && c + n <= to && candidate(c + n)) ++n;
      const uint64_t off = ClusterToOffset(geometry_, c);
      if (off >= mediumEnd) return true;
      const uint64_t want = std::min<uint64_t>(uint64_t(n - 1) * cb + 512, mediumEnd - off);
      if (spent + want > lostReadLimit_) {
        // The rest is left to the deep scan: on a large card this look alone
        // would read for minutes.
        lostSearchCut_ = true;
        return false;
      }
      spent += want;
      buf.resize(size_t(want));
      uint32_t got = 0;
      const bool known = source_.KnownUnreadable(off, want);
      const Status rs = known ? kReadFault : source_.ReadSectors(uint32_t(want / 512), buf.data(), off / 512, 512, got);
      // The person stopped the scan (the thread's ReadStopScope): no more
      // reads, not even the cluster-by-cluster ones below.
      if (rs == kStopRequested) return false;
      const bool whole = rs == kOk;
      for (uint32_t i = 0; i < n && uint64_t(i) * cb + 512 <= want; ++i) {
        uint8_t* head = buf.data() + size_t(i) * cb;
        // A run that did not read whole: each cluster's own first sector.
        const uint64_t at = uint64_t(i) * cb;
        const uint64_t arrived = whole ? want : uint64_t(got) * 512;
        if (at + 512 <= arrived)
          look(c + i, head, size_t(std::min<uint64_t>(cb, arrived - at)));
        else if (readHead(c + i, head))
          look(c + i, head, 512);
      }
      c += n;
    }
    return true;
  };
  // Front to back: the order a card reads fastest in, and the clusters a
  // volume gives first.
  (void)sweep(2, maxC);
  lostBytesRead_ = spent;
  JoinLaterClusters();
}

void QuickFatEngine::NoteEntries(uint32_t self, ByteView entries, bool headless) {
  const uint32_t cb = geometry_.ClusterBytes();
  if (headless) joins_.MarkHeadless(self, 0);
  for (size_t off = 0; off + kFatDirEntrySize <= entries.size(); off += kFatDirEntrySize) {
    FatDirEntry e(entries.Sub(off, kFatDirEntrySize));
    if (e.First() == 0) {
      joins_.OnEnd(self, 0);
      break;
    }
    const uint8_t a = e.Attributes();
    if (a == kFatAttrLongName || (a & kFatAttrVolumeLabel) || e.First() == '.') continue;
    const uint32_t first = e.FirstCluster(geometry_.fat32);
    if (first < 2) continue;
    const bool dir = (a & kFatAttrDirectory) != 0;
    if (!dir && e.Size() == 0) continue;
    joins_.OnEntry(self, 0, first, dir ? 1 : uint32_t((uint64_t(e.Size()) + cb - 1) / cb));
    // A subfolder listed in a later cluster names, in its own "..", the
    // folder that cluster goes on.
    if (dir && headless && first != self && listedIn_.size() < kMaxNoted) listedIn_.emplace(first, self);
  }
}

void QuickFatEngine::JoinLaterClusters() {
  for (const auto& [sub, listing] : listedIn_) {
    auto it = lost_.find(sub);
    // ".." of a top folder names the root (0): no folder to go on.
    if (it != lost_.end() && it->second.up >= 2) joins_.VoteParent(listing, it->second.up);
  }
  joins_.Decide([this](uint32_t c) { return lost_.count(c) > 0; }, kMaxFatContinuationGap);
  for (uint32_t x : headless_) {
    const uint32_t folder = joins_.Resolve(x);
    if (folder == x) continue;
    laterOf_[folder].push_back(x);
    nextAfter_.emplace(joins_.JoinedTo(x), x);
  }
  for (auto& [folder, clusters] : laterOf_) std::sort(clusters.begin(), clusters.end());
}

bool QuickFatEngine::FindLostFolders() {
  if (!lostLook_) return false;
  if (!lostSearched_) {
    lostSearched_ = true;
    SearchFreeClustersForFolders();
  }
  // A lost folder inside another lost folder is reached through that one's
  // entries and keeps its name; only when they do not name it does it get a
  // place of its own at the root.
  std::vector<uint32_t> queue;
  uint32_t firstLeft = 0;
  for (const auto& item : lost_) {
    const uint32_t c = item.first, up = item.second.up;
    if (walked_.count(c)) continue;
    if (!firstLeft) firstLeft = c;
    if (up != c && lost_.count(up) && !walked_.count(up)) continue;
    queue.push_back(c);
  }
  // Folders that name each other in a ring: one of them starts.
  if (queue.empty() && firstLeft) queue.push_back(firstLeft);
  const uint32_t root = RootId();
  for (uint32_t c : queue) {
    const LostFolder& f = lost_[c];
    FolderInfo info;
    info.record = BaseRecord(ByteView(f.dot.data(), f.dot.size()), c);
    info.record.isFolder = 1;
    info.record.deletedFlag = 1;
    info.record.contentOk = 1;
    SetRecordName(info.record, LostFolderName(c));
    info.parent = root;
    info.depth = 1;
    info.deleted = true;
    info.lost = true;
    info.up = f.up;
    folders_[c] = info;
    pending_.insert(c);
  }
  return !queue.empty();
}

bool QuickFatEngine::ClusterAt(uint64_t byte, uint32_t& cluster) const {
  const uint64_t data = ClusterToOffset(geometry_, 2);
  if (byte < data) return false;
  const uint64_t c = (byte - data) / geometry_.ClusterBytes() + 2;
  if (c > geometry_.MaxCluster()) return false;
  cluster = uint32_t(c);
  return true;
}

bool QuickFatEngine::WalkedDeletedDirectoryAt(uint64_t byte) const {
  uint32_t c = 0;
  return !deletedWalked_.empty() && ClusterAt(byte, c) && deletedWalked_.count(c) != 0;
}

void QuickFatEngine::RecallDeletedWalked() {
  deletedWalked_.clear();
  if (!opened_ || !store_) return;
  // Records are numbered from 1; the log is read in long runs, not a record
  // at a time.
  constexpr uint32_t kPerRead = 4096;
  std::vector<uint32_t> indices;
  std::vector<FoundItemRecord> records;
  for (uint32_t first = 1; first <= store_->Count(); first += kPerRead) {
    const uint32_t last = std::min<uint32_t>(store_->Count(), first + kPerRead - 1);
    indices.clear();
    for (uint32_t i = first; i <= last; ++i) indices.push_back(i);
    if (store_->ReadMany(indices, records) != kOk) continue;
    for (const FoundItemRecord& r : records) RecallIfDeletedWalked(r);
  }
}

void QuickFatEngine::RecallIfDeletedWalked(const FoundItemRecord& r) {
  uint32_t c = 0;
  if (r.isFolder) {
    c = r.itemId;
  } else if (!ClusterAt(uint64_t(r.location) * geometry_.bytesPerSector, c)) {
    return;
  }
  // Entries read from a free cluster can only have been a deleted folder's.
  if (geometry_.ValidCluster(c) && cache_.IsFree(c)) deletedWalked_.insert(c);
}

bool QuickFatEngine::DotPairFits(const uint8_t* buf, size_t len, uint32_t self, uint32_t parent) const {
  ByteView v(buf, len);
  if (!IsDotPair(v) || v.U8(1) != ' ' || v.U8(2) != ' ') return false;
  FatDirEntry dot(v), dotdot(v.Sub(kFatDirEntrySize, kFatDirEntrySize));
  if (dot.FirstCluster(geometry_.fat32) != self) return false;
  uint32_t up = dotdot.FirstCluster(geometry_.fat32);
  return up == parent || (parent == RootId() && up == 0);
}

void QuickFatEngine::WalkDirectory(uint32_t c) {
  const uint32_t root = RootId();
  const FolderInfo* info = nullptr;
  if (c != root) {
    auto it = folders_.find(c);
    if (it != folders_.end()) info = &it->second;
  }
  const uint32_t depth = info ? info->depth : 0;
  const bool parentDeleted = info ? info->deleted : false;
  const uint32_t parent = info ? info->parent : root;
  const uint32_t dotParent = info && info->lost ? info->up : parent;
  lfn_.Reset();

  if (!geometry_.fat32 && c == 0) {
    uint32_t bytes = geometry_.rootDirSectors * geometry_.bytesPerSector;
    std::vector<uint8_t> buf(bytes);
    uint32_t got = 0;
    if (ReadBytes(geometry_.RootAreaOffset(), bytes, buf.data(), got)) return;
    WalkEntries(buf.data(), got, geometry_.RootAreaOffset(), 0, 0, false);
    return;
  }
  if (!geometry_.ValidCluster(c)) return;
  const uint32_t cb = geometry_.ClusterBytes();
  clusterBuf_.resize(cb);
  walkHasData_ = false;
  if (cache_.IsFree(c)) {
    // A deleted folder has no chain: its first cluster is walked now, later
    // ones are looked for once every folder's first cluster is known.
    const uint64_t off = ClusterToOffset(geometry_, c);
    uint32_t got = 0;
    if (ReadBytes(off, cb, clusterBuf_.data(), got) || got < cb) return;
    if (!DotPairFits(clusterBuf_.data(), got, c, dotParent)) return;
    deletedWalked_.insert(c);
    if (WalkEntries(clusterBuf_.data(), got, off, c, depth, parentDeleted) == WalkEnd::kEndOfDirectory) return;
    OpenFolderEnd end;
    end.folder = end.last = c;
    end.depth = depth;
    end.deleted = parentDeleted;
    end.hasData = walkHasData_;
    if (walkHasData_) end.dataEnd = DataEnd(walkLastData_, walkLastSize_, walkLastIsDir_);
    end.inLongName = !lfn_.Empty();
    end.lfnChecksum = lfnChecksum_;
    end.lfn = lfn_;
    open_.push_back(end);
    return;
  }
  const uint64_t maxSteps = std::max<uint64_t>(1, kMaxDirectoryBytes / cb);
  std::unordered_set<uint32_t> seen{c};
  uint32_t cur = c;
  for (uint64_t step = 0; step < maxSteps; ++step) {
    uint64_t off = ClusterToOffset(geometry_, cur);
    uint32_t got = 0;
    if (ReadBytes(off, cb, clusterBuf_.data(), got) != kOk) got = 0;
    // Only a folder's first cluster opens with "." and "..".
    if (step == 0 && c != root && (got < cb || !DotPairFits(clusterBuf_.data(), got, c, dotParent))) return;
    if (got && WalkEntries(clusterBuf_.data(), got, off, c, depth, parentDeleted) == WalkEnd::kEndOfDirectory) return;
    // An unreadable sector costs the entries on it: the chain, read from the
    // FAT, still leads to the folder's later clusters.
    if (got < cb) lfn_.Reset();
    uint32_t next = cache_.NextCluster(cur);
    if (next == 0 || !seen.insert(next).second) return;
    cur = next;
  }
}

uint32_t QuickFatEngine::DataEnd(uint32_t first, uint64_t size, bool isDirectory) {
  const uint64_t cb = geometry_.ClusterBytes();
  uint64_t n = isDirectory ? 1 : std::max<uint64_t>(1, (size + cb - 1) / cb);
  // Deleted data skips clusters in use; a long file is taken as contiguous.
  if (n > 65536 || !cache_.IsFree(first)) return uint32_t(std::min<uint64_t>(first + n, UINT32_MAX));
  uint32_t c = first;
  for (uint64_t i = 1; i < n; ++i) {
    uint32_t next = cache_.NextCluster(c);
    if (next == 0) return c + 1;
    c = next;
  }
  return c + 1;
}

ByteView QuickFatEngine::LookAheadCluster(uint32_t c) {
  const uint32_t cb = geometry_.ClusterBytes();
  if (c < lookAheadFirst_ || c - lookAheadFirst_ >= lookAheadCount_) {
    const uint32_t n = std::min<uint32_t>(std::max<uint32_t>(1, kLookAheadPiece / cb), geometry_.MaxCluster() - c + 1);
    lookAhead_.resize(size_t(n) * cb);
    uint32_t got = 0;
    lookAheadCount_ = 0;
    if (ReadBytes(ClusterToOffset(geometry_, c), n * cb, lookAhead_.data(), got)) return {};
    lookAheadBytes_ += got;
    lookAheadFirst_ = c;
    lookAheadCount_ = got / cb;
    if (lookAheadCount_ == 0) return {};
  }
  return ByteView(lookAhead_.data() + size_t(c - lookAheadFirst_) * cb, cb);
}

uint32_t QuickFatEngine::FindContinuation(const std::vector<OpenFolderEnd>& ends, size_t i) {
  auto allFree = [this](uint32_t a, uint32_t b) {
    for (uint32_t c = a; c < b; ++c)
      if (!cache_.IsFree(c)) return false;
    return true;
  };
  auto taken = [this](uint32_t c) { return walked_.count(c) || claimed_.count(c) || folders_.count(c); };
  const uint32_t folder = ends[i].folder;
  const uint64_t start = lookAheadBytes_;
  const uint32_t bps = geometry_.bytesPerSector;
  size_t skipped = 0;
  uint32_t nearest = 0;
  for (uint32_t c = cache_.NextCluster(ends[i].last); c != 0; c = cache_.NextCluster(c)) {
    if (lookAheadBytes_ - start > kLookAheadBytes || lookAheadBytes_ > kTotalLookAheadBytes) break;
    if (taken(c)) continue;
    // The look for lost folders joined it to a folder already.
    if (const uint32_t owner = joins_.Resolve(c); owner != c) {
      if (owner == folder) return c;
      if (++skipped > kSkippedPerFolder) break;
      continue;
    }
    ByteView v = LookAheadCluster(c);
    // The first sector sorts out data clusters cheaply; the whole cluster decides.
    if (v.size() == 0 || !IsDirectoryCluster(v.Sub(0, bps)) || !IsDirectoryCluster(v)) continue;
    const FolderCandidate cand = DescribeCandidate(c, v, geometry_.fat32);
    // A cluster whose content says it goes on another open folder is left to
    // that one; with nothing tying it to any, the nearest after this folder's
    // last may be its next.
    if (ContinuesFolder(ends[i], cand, allFree)) return c;
    bool other = false;
    for (size_t j = 0; j < ends.size() && !other; ++j) other = j != i && ContinuesFolder(ends[j], cand, allFree);
    if (!other) {
      nearest = c;
      break;
    }
    if (++skipped > kSkippedPerFolder) break;
  }
  // Later clusters the look joined to this folder (its subfolders' ".." name
  // it, or data goes on from it) lie farther: they win over the mere nearest,
  // which on a formatted volume is as likely another folder's.
  if (auto next = nextAfter_.find(ends[i].last);
      next != nextAfter_.end() && !taken(next->second) && joins_.Resolve(next->second) == folder)
    return next->second;
  if (auto later = laterOf_.find(folder); later != laterOf_.end())
    for (uint32_t x : later->second)
      if (!taken(x)) return x;
  return nearest;
}

bool QuickFatEngine::ContinueOpenFolders() {
  if (open_.empty()) return false;
  std::vector<OpenFolderEnd> ends;
  ends.swap(open_);
  std::sort(ends.begin(), ends.end(), [](const OpenFolderEnd& a, const OpenFolderEnd& b) { return a.last < b.last; });
  const uint32_t cb = geometry_.ClusterBytes();
  const uint64_t maxClusters = std::max<uint64_t>(1, kMaxDirectoryBytes / cb);
  for (size_t i = 0; i < ends.size() && !StopAsked(); ++i) {
    OpenFolderEnd& end = ends[i];
    if (end.clusters >= maxClusters) continue;
    const uint32_t x = FindContinuation(ends, i);
    if (x == 0) continue;
    claimed_.insert(x);
    const uint64_t off = ClusterToOffset(geometry_, x);
    uint32_t got = 0;
    clusterBuf_.resize(cb);
    if (ReadBytes(off, cb, clusterBuf_.data(), got) || got < cb) continue;
    deletedWalked_.insert(x);
    lfn_ = end.lfn;
    lfnChecksum_ = end.lfnChecksum;
    walkHasData_ = false;
    if (WalkEntries(clusterBuf_.data(), got, off, end.folder, end.depth, end.deleted) == WalkEnd::kEndOfDirectory)
      continue;
    end.last = x;
    ++end.clusters;
    if (walkHasData_) {
      end.hasData = true;
      end.dataEnd = DataEnd(walkLastData_, walkLastSize_, walkLastIsDir_);
    }
    end.inLongName = !lfn_.Empty();
    end.lfnChecksum = lfnChecksum_;
    end.lfn = lfn_;
    open_.push_back(end);
  }
  return true;
}

QuickFatEngine::WalkEnd QuickFatEngine::WalkEntries(const uint8_t* buf, size_t len, uint64_t bufOffset,
                                                        uint32_t dirCluster, uint32_t depth, bool parentDeleted) {
  for (size_t off = 0; off + kFatDirEntrySize <= len; off += kFatDirEntrySize) {
    // Stopped: the rest of the folder is left, as if it ended here.
    if (StopAsked()) return WalkEnd::kEndOfDirectory;
    ByteView rest(buf + off, len - off);
    ByteView raw = rest.Sub(0, kFatDirEntrySize);
    FatDirEntry e(raw);
    if (e.First() == 0) return WalkEnd::kEndOfDirectory;
    const uint8_t a = e.Attributes();
    bool plainFile = false;
    if (!IsPlausibleDirEntry(rest)) {
      plainFile = IsPlausibleFileWithoutArchive(raw);
      if (!plainFile) {
        lfn_.Reset();
        continue;
      }
    }
    if (a == kFatAttrLongName) {
      if (lfn_.Empty()) lfnChecksum_ = e.LfnChecksumByte();
      if (!lfn_.Add(raw)) return WalkEnd::kEndOfDirectory;
      continue;
    }
    if (const uint32_t fc = e.FirstCluster(geometry_.fat32); fc >= 2 && !IsDotName(raw) &&
                                                               ((a & kFatAttrDirectory) || e.Size() > 0)) {
      walkHasData_ = true;
      walkLastData_ = fc;
      walkLastSize_ = e.Size();
      walkLastIsDir_ = (a & kFatAttrDirectory) != 0;
    }
    std::string longName = lfn_.Take();
    // A long name left by another entry (its checksum disagrees) is not this
    // entry's; a deleted entry's first byte is gone, so it cannot be compared.
    if (!longName.empty() && !e.IsDeleted() && LfnChecksum(raw.Sub(0, 11)) != lfnChecksum_) longName.clear();
    if (a & kFatAttrDirectory) {
      if (IsDotName(raw)) continue;
      std::string name = longName.empty() ? FormatShortName(raw, true) : longName;
      ReportFolder(raw, name, dirCluster, depth, e.IsDeleted() || parentDeleted);
    } else if ((a & kFatAttrArchive) || plainFile) {
      if (!e.IsDeleted() && !parentDeleted) continue;  // live files are not reported
      std::string name = longName.empty() ? FormatShortName(raw, false) : longName;
      ReportFile(raw, name, dirCluster, depth, bufOffset + off);
    }
  }
  return WalkEnd::kGoOn;
}

void QuickFatEngine::ReportFolder(ByteView entry, const std::string& name, uint32_t dirCluster, uint32_t depth,
                                    bool deleted) {
  FatDirEntry e(entry);
  uint32_t cluster = e.FirstCluster(geometry_.fat32);
  if (geometry_.fat32 && e.IsDeleted() && e.ClusterHigh() == 0) cluster = SearchHighWord(entry, true, {});
  if (!geometry_.ValidCluster(cluster) || cluster == dirCluster || cluster == RootId()) return;
  // A cluster already walked keeps the folder it was walked as; a live
  // folder's cluster, reused from a deleted one, stays the live folder's.
  if (walked_.count(cluster)) return;
  auto known = folders_.find(cluster);
  if (known != folders_.end() && !known->second.deleted && deleted) return;
  FolderInfo info;
  info.record = BaseRecord(entry, cluster);
  info.record.isFolder = 1;
  info.record.deletedFlag = deleted ? 1 : 0;
  info.record.contentOk = 1;
  SetRecordName(info.record, name);
  info.parent = dirCluster;
  info.depth = depth + 1;
  info.deleted = deleted;
  folders_[cluster] = info;
  pending_.insert(cluster);
}

void QuickFatEngine::ReportFile(ByteView entry, const std::string& name, uint32_t dirCluster, uint32_t depth,
                                  uint64_t entryOffset) {
  FatDirEntry e(entry);
  const uint64_t size = e.Size();
  // Judged by the volume the boot sector describes: on an image cut short a
  // file past the cut is still listed, and its copy-out says where it lies.
  if (size > geometry_.DeclaredDataBytes()) return;  // cannot be: a damaged entry
  std::string ext = ExtensionOf(name);
  uint32_t cluster = e.FirstCluster(geometry_.fat32);
  if (size > 0 && geometry_.fat32 && e.IsDeleted() && e.ClusterHigh() == 0 && !ext.empty())
    cluster = SearchHighWord(entry, false, ext);
  if (size > 0 && !geometry_.DeclaredCluster(cluster)) return;
  FoundItemRecord r = BaseRecord(entry, cluster);
  r.size = size;
  r.location = OffsetToVolumeSector(geometry_, entryOffset);
  r.contentOk = size > 0 ? uint32_t(ContentPlausible(cluster, ext)) : 1;
  SetRecordName(r, name);
  store_->Append(r, dirCluster, depth);
  MarkAncestors(dirCluster);
}

void QuickFatEngine::MarkAncestors(uint32_t c) {
  const uint32_t root = RootId();
  for (size_t steps = 0; steps <= folders_.size() && c != root; ++steps) {
    auto it = folders_.find(c);
    if (it == folders_.end()) break;
    if (!markedSet_.insert(c).second) break;  // its ancestors are marked already
    marked_.push_back(c);
    if (it->second.parent == c) break;
    c = it->second.parent;
  }
}

}  // namespace dunmere
