#include "app/core/sessions/scan_session.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "app/core/recover/recovery_paths.h"
#include "engine/formats/file_format.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "platform/block_device.h"
#include "platform/file.h"
#include "platform/sysfs.h"
#include "platform/this_process.h"
#include "storage/disk_list.h"
#include "storage/disk_table.h"
#include "storage/read_stop.h"
#include "scan/engine_factory.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {


bool ParseU64(const std::string& s, uint64_t& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno || *end || s[0] == '-') return false;
  out = v;
  return true;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t p = s.find(sep, start);
    if (p == std::string::npos) p = s.size();
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
  return out;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// Opens a source for reading to learn whether it can be read, and why not.
Status CheckReadable(const std::string& path, bool isDevice, std::string& error) {
  std::error_code why;
  if (CanOpenForReading(path, why)) return kOk;
  if (why == std::errc::permission_denied || why == std::errc::operation_not_permitted)
    error = isDevice ? "permission denied: reading the device " + path + " needs " + DeviceRightsAdvice()
                     : "permission denied: cannot read " + path;
  else if (why == std::errc::no_such_file_or_directory)
    error = "source not found: " + path;
  else
    error = "cannot open " + path + ": " + why.message();
  return StatusFromErrno(why.value());
}

// Bytes per sector of a device the kernel knows, from sysfs (no rights needed).
uint32_t SysfsSectorSize(const std::string& diskName) {
  uint64_t v = ReadSysfsNumber((fs::path("/sys/block") / diskName / "queue/logical_block_size").string(), 512);
  return v >= 512 && v <= 65536 ? uint32_t(v) : 512;
}

struct ScanThunkData {
  const ScanObserver* observer;
  const ScanEngine* engine = nullptr;
  uint64_t unreadable = 0;
  std::chrono::steady_clock::time_point counted{};
};
int ScanThunk(void* user, int percent, int share, int64_t secondsLeft, uint64_t done, uint64_t total, uint64_t found,
              uint64_t stage) {
  auto* d = static_cast<ScanThunkData*>(user);
  if (!d->observer || !*d->observer) return 0;
  ScanProgress p;
  p.percent = percent;
  p.share = share;
  p.secondsLeft = secondsLeft;
  p.done = done;
  p.total = total;
  p.found = found;
  p.stage = stage;
  // Counting merges the engines' bad stretches: a few times a second is enough.
  auto now = std::chrono::steady_clock::now();
  if (d->engine && now - d->counted >= std::chrono::milliseconds(500)) {
    d->counted = now;
    d->unreadable = CountUnreadableSectors(*d->engine);
  }
  p.unreadable = d->unreadable;
  return (*d->observer)(p);
}

struct CopyThunkData {
  const std::function<bool()>* stop;
  const RecoverProgressObserver* progress;
  uint64_t bytesBefore = 0;  // of the files finished
  uint64_t fileSize = 0;     // of the file being written
};
int CopyThunk(void* user, int percent, int scale, Status, const std::string& path) {
  auto* d = static_cast<CopyThunkData*>(user);
  if (d->progress && *d->progress) {
    const int p = std::clamp(percent * scale / 100, 0, 100);
    (*d->progress)({path, p, d->bytesBefore + d->fileSize * uint64_t(p) / 100});
  }
  return (d->stop && *d->stop && (*d->stop)()) ? kStopRequested : 0;
}

// "IMAGE:N" or "IMAGE:START:COUNT" where IMAGE is a file: true when the text
// has that form (out.kind is then kFileRange, or `error` says what is wrong).
bool ResolveImagePart(const std::string& text, SourceSpec& out, std::string& error) {
  std::vector<std::string> parts;
  std::string image = text;
  // The numbers come last; the file name may hold colons of its own.
  for (int i = 0; i < 2; ++i) {
    const size_t colon = image.rfind(':');
    if (colon == std::string::npos) break;
    parts.insert(parts.begin(), image.substr(colon + 1));
    image.resize(colon);
    std::error_code ec;
    if (PathKindOf(image, Links::kFollow, ec) == PathKind::kFile) break;
  }
  std::error_code ec;
  if (parts.empty() || image.empty() || PathKindOf(image, Links::kFollow, ec) != PathKind::kFile) return false;
  for (const std::string& p : parts) {
    uint64_t ignored = 0;
    if (!ParseU64(p, ignored)) return false;
  }
  if (CheckReadable(image, false, error)) return true;
  std::error_code sizeError;
  const uint64_t sectors = fs::file_size(NativePath(image), sizeError) / 512;
  out.path = image;
  out.bytesPerSector = 512;
  if (parts.size() == 1) {
    uint64_t number = 0;
    (void)ParseU64(parts[0], number);
    const std::vector<VolumeInfo> entries = ListImageEntries(image);
    for (const VolumeInfo& v : entries) {
      if (v.kind != EntryKind::kVolume || uint64_t(v.partitionNumber) != number) continue;
      out.kind = SourceSpec::Kind::kFileRange;
      out.start = v.startSector;
      out.count = v.sectorCount;
      return true;
    }
    error = entries.empty() ? image + " holds no partition table; scan it whole as " + image
                            : "no partition " + parts[0] + " in " + image + " (see dunmere-cli sources " + image + ")";
    return true;
  }
  uint64_t start = 0, count = 0;
  (void)ParseU64(parts[0], start);
  (void)ParseU64(parts[1], count);
  if (count == 0 || start > sectors || count > sectors - start) {
    error = "sectors " + parts[0] + "+" + parts[1] + " reach past the end of " + image + " (" +
            std::to_string(sectors) + " sectors), or COUNT is 0";
    return true;
  }
  out.kind = SourceSpec::Kind::kFileRange;
  out.start = start;
  out.count = count;
  return true;
}

}  // namespace

Status ResolveSource(const std::string& typed, SourceSpec& out, std::string& error) {
  out = SourceSpec{};
  out.text = typed;
  // "E:" names the volume, not the current folder on that drive.
  const std::string text = VolumeDeviceOf(typed);
  if (text.rfind("disk:", 0) == 0) {
    std::vector<std::string> parts = Split(text.substr(5), ':');
    uint64_t index = 0;
    if ((parts.size() != 1 && parts.size() != 3) || !ParseU64(parts[0], index)) {
      error = "bad source '" + text + "': use disk:N or disk:N:START:COUNT";
      return kInvalidArg;
    }
    std::string path = DiskTable::DevicePath(uint32_t(index));
    if (path.empty() || index > 0xFFFF) {
      error = "no disk " + parts[0] + " (see dunmere-cli sources)";
      return kFileNotFound;
    }
    if (Status s = CheckReadable(path, true, error)) return s;
    out.kind = SourceSpec::Kind::kDiskRange;
    out.path = path;
    out.diskIndex = int32_t(index);
    File device;
    BlockGeometry g;
    Status gs = device.Open(path, File::Mode::kRead) ? kFileNotFound : QueryBlockGeometry(device, g);
    (void)device.Close();
    if (gs) {
      error = "cannot learn the size of " + path + ": " + StatusMessage(gs);
      return gs;
    }
    out.bytesPerSector = g.isBlockDevice ? g.bytesPerSector : 512;
    uint64_t diskSectors = g.lengthBytes ? g.lengthBytes / out.bytesPerSector
                                         : g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
    if (parts.size() == 3) {
      if (!ParseU64(parts[1], out.start) || !ParseU64(parts[2], out.count) || out.count == 0) {
        error = "bad source '" + text + "': START and COUNT must be numbers of sectors, COUNT above 0";
        return kInvalidArg;
      }
      if (out.start > diskSectors || out.count > diskSectors - out.start) {
        error = "sectors " + parts[1] + "+" + parts[2] + " reach past the end of disk " + parts[0] + " (" +
                std::to_string(diskSectors) + " sectors)";
        return kInvalidArg;
      }
    } else {
      out.start = 0;
      out.count = diskSectors;
    }
    return kOk;
  }

  std::error_code why;
  const PathKind kind = PathKindOf(text, Links::kFollow, why);
  if (kind == PathKind::kNone && ResolveImagePart(text, out, error))
    return out.kind == SourceSpec::Kind::kFileRange ? kOk : kInvalidArg;
  if (kind == PathKind::kNone) {
    error = why == std::errc::no_such_file_or_directory ? "source not found: " + text
                                                        : "cannot open " + text + ": " + why.message();
    return StatusFromErrno(why.value());
  }
  if (kind == PathKind::kFolder) {
    error = text + " is a folder; give an image file, a device (/dev/sdb1) or disk:N";
    return kInvalidArg;
  }
  bool isDevice = kind == PathKind::kBlockDevice;
  if (!isDevice && kind != PathKind::kFile) {
    error = text + " is neither an image file nor a block device";
    return kInvalidArg;
  }
  if (Status s = CheckReadable(text, isDevice, error)) return s;
  out.kind = SourceSpec::Kind::kFile;
  out.path = text;
  if (!isDevice) return kOk;

  // A device the disk table knows is scanned as its disk's range, so records
  // carry the partition's real start.
  std::error_code ec;
  fs::path real = fs::canonical(text, ec);
  if (ec) return kOk;
  std::string name = real.filename().string();
  fs::path sys = fs::canonical(fs::path("/sys/class/block") / name, ec);
  if (ec) return kOk;
  // A partition is its disk's range; sysfs counts both in 512-byte units.
  const bool partition = fs::exists(sys / "partition");
  const std::string diskName = partition ? sys.parent_path().filename().string() : name;
  const int index = DiskTable::IndexOf("/dev/" + diskName);
  if (index < 0) return kOk;
  const uint32_t bps = SysfsSectorSize(diskName);
  out.kind = SourceSpec::Kind::kDiskRange;
  out.diskIndex = index;
  out.path = "/dev/" + diskName;
  out.bytesPerSector = bps;
  out.start = partition ? ReadSysfsNumber((sys / "start").string()) * 512 / bps : 0;
  out.count = ReadSysfsNumber((sys / "size").string()) * 512 / bps;
  return kOk;
}

namespace {

// "neither ext, NTFS, exFAT nor FAT": what a quick scan could have read.
std::string KnownFileSystemsText() {
  std::string out;
  const auto rows = FileSystems();
  for (size_t i = 0; i < rows.size(); ++i)
    out += (i == 0 ? "neither " : i + 1 == rows.size() ? " nor " : ", ") + std::string(rows[i].name);
  return out;
}

}  // namespace

bool SettleResume(ScanEngine& engine, bool fresh) {
  if (!engine.CanResume()) return false;
  if (!fresh) return true;
  engine.DeclineResume();
  return false;
}

Status OpenEngine(const SourceSpec& source, bool deep, OpenedEngine& out, std::string& error) {
  out = OpenedEngine{};
  // The source is opened here once; the engines read through shares of it.
  Medium medium;
  const Status opened = source.kind == SourceSpec::Kind::kDiskRange
                            ? OpenDiskMedium(uint32_t(source.diskIndex), source.start, source.count, medium)
                        : source.kind == SourceSpec::Kind::kFileRange
                            ? OpenImageMedium(source.path, source.start, source.count, medium)
                            : OpenImageMedium(source.path, medium);
  // An area that starts past the disk's end has no first 16 KiB either.
  if (opened && opened != kInvalidArg) {
    error = "cannot open " + source.text + ": " + StatusMessage(opened);
    return opened;
  }
  std::vector<uint8_t> head(kDetectBytes);
  if (opened || !ReadDetectionArea(medium, head.data())) {
    error = "cannot read the first 16 KiB of " + source.text + " (too small, or unreadable)";
    return kReadFault;
  }
  out.kind = DetectFileSystem(ByteView(head.data(), head.size()));
  out.under = FileSystemUnder(ByteView(head.data(), head.size()));
  if (!deep && out.kind == FsKind::kOther) {
    error = "no file system to quick-scan on " + source.text + " (" + KnownFileSystemsText() + ")";
    // A whole-disk image: its volumes are what holds the file systems.
    if (source.kind == SourceSpec::Kind::kFile) {
      std::string numbers;
      for (const VolumeInfo& v : ListImageEntries(source.path))
        if (v.kind == EntryKind::kVolume)
          numbers += (numbers.empty() ? " " : ", ") + source.text + ":" + std::to_string(v.partitionNumber);
      if (!numbers.empty())
        error = source.text + " is an image of a whole disk; quick-scan its partitions:" + numbers +
                " (see dunmere-cli sources " + source.text + ")";
    }
    return kNotSupported;
  }
  out.engine = CreateEngineForKind(out.kind, deep);
  if (out.engine) (void)out.engine->Open(medium, source.tag);
  if (!out.engine) {
    // The one place that learns whether this build has the engine asked for.
    error = deep ? "cannot read " + source.text + " for a deep scan" : "no quick engine for " + FsKindName(out.kind) + " in this build";
    return kNotSupported;
  }
  return kOk;
}

ScanFolderLock::ScanFolderLock(const std::function<void()>& waiting, const std::function<bool()>& giveUp) {
  std::string dir = ScanLogFolder::Instance().ScanLogPath();
  std::error_code ec;
  fs::create_directories(NativePath(dir), ec);
  if (lock_.Open(JoinPath(dir, ".scan-lock"))) return;  // no lock file: scans go on unserialised
  if (lock_.TryLock()) return;
  if (waiting) waiting();
  if (giveUp) {
    while (!lock_.TryLock()) {
      if (giveUp()) {
        lock_.Close();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return;
  }
  (void)lock_.Lock();
}

ScanFolderLock::~ScanFolderLock() = default;

Status RunScan(ScanEngine& engine, const ScanObserver& observer) {
  // A deep scan picks its own folder: a new one, or the folder of the earlier
  // scan it resumes.
  if (!engine.ChoosesScanFolder()) ScanLogFolder::Instance().BeginNewScanFolder();
  ScanThunkData data{&observer, &engine};
  (void)engine.SetCallbacks(&ScanThunk, nullptr, &data, 100);
  Status s = engine.Scan(nullptr);
  (void)engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  return s;
}

bool TypeFilter::Matches(const std::string& name) const {
  if (Empty()) return true;
  Category cat = CategoryOfNameKind(name);
  if (categories.count(cat)) return true;
  std::string ext = ExtensionOf(name);
  if (!ext.empty() && (extensions.count(ext) || extensions.count(GroupNameOfName(name)))) return true;
  return cat == Category::kOthers && extensions.count("other");
}

std::string TypeFilter::SearchPatterns() const {
  // The engine's search matches by substring; asking for everything and
  // filtering exactly afterwards never loses a file to that rule.
  return std::string(KnownExtensionList()) + "|.other";
}

bool ParseTypeFilter(const std::string& types, const std::string& categories, TypeFilter& out, std::string& error) {
  out = TypeFilter{};
  if (!types.empty())
    for (std::string t : Split(types, ',')) {
      t = AsciiLower(Trim(t));
      if (t.rfind("*.", 0) == 0) t = t.substr(2);
      if (!t.empty() && t[0] == '.') t = t.substr(1);
      if (t.empty()) continue;
      if (t == "others") t = "other";
      out.extensions.insert(std::string(GroupAlias(t)));
    }
  if (!categories.empty())
    for (std::string c : Split(categories, ',')) {
      c = Trim(c);
      if (c.empty()) continue;
      Category cat;
      if (!ParseCategory(c, cat)) {
        error = "unknown category '" + c + "' (use photo, audio, video, document, archive, others)";
        return false;
      }
      out.categories.insert(cat);
    }
  return true;
}

Status CollectFoundItems(ScanEngine& engine, const TypeFilter& filter, std::vector<FoundEntry>& files,
                         std::vector<FoundEntry>* folders, const std::function<bool()>& stop) {
  auto stopped = [&stop] { return stop && stop(); };
  files.clear();
  if (folders) folders->clear();
  // One walk of the result tree gives every item its folder path; asking the
  // engine for each file's path separately costs a search per file.
  struct Place {
    std::string path;
    uint32_t level;
  };
  // Each engine of a deep scan numbers its records from 1: the key is the
  // record's engine and its index.
  auto placeKey = [](const FoundItemRecord& r) { return (uint64_t(r.sourceKind) << 32) | r.recordIndex; };
  std::unordered_map<uint64_t, Place> placeOf;
  struct Pending {
    bool root;
    FoundItemRecord folder;
    uint32_t childLevel;
    std::string path;
  };
  std::deque<Pending> queue;
  queue.push_back({true, MakeEmptyRecord(), 0, ""});
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> seen;  // (engine, folder id, level): a damaged tree may loop
  Status result = kOk;
  while (!queue.empty()) {
    if (stopped()) return kStopRequested;
    Pending p = std::move(queue.front());
    queue.pop_front();
    std::vector<FoundItemRecord> kids;
    if (Status s = engine.ListChildren(p.root ? nullptr : &p.folder, p.childLevel, kids)) {
      if (!result) result = s;
      continue;
    }
    for (const FoundItemRecord& k : kids) {
      if (!k.isFolder) {
        placeOf.emplace(placeKey(k), Place{p.path, p.childLevel});
        continue;
      }
      const uint32_t kind = k.sourceKind, id = k.itemId;  // packed fields: copied, not bound to references
      if (!seen.insert({kind, id, p.childLevel + 1}).second || p.childLevel > 4096) continue;
      if (folders) {
        FoundEntry e;
        e.record = k;
        e.folderPath = p.path;
        e.level = p.childLevel;
        folders->push_back(e);
      }
      queue.push_back({false, k, p.childLevel + 1, p.path + RecordName(k) + "/"});
    }
  }
  // The type search is what decides which files there are (it also sees
  // records the tree does not reach).
  std::vector<FoundItemRecord> found;
  if (stop) {
    // The search reads the whole log: asked between its pieces too.
    (void)engine.SetSearchCallback(
        [](void* u, int, int) { return (*static_cast<const std::function<bool()>*>(u))() ? 1 : 0; },
        const_cast<std::function<bool()>*>(&stop));
  }
  engine.SearchByType(filter.SearchPatterns(), found);
  if (stop) (void)engine.SetSearchCallback(nullptr, nullptr);
  if (stopped()) return kStopRequested;
  size_t done = 0;
  for (const FoundItemRecord& r : found) {
    if ((++done & 4095) == 0 && stopped()) return kStopRequested;
    if (r.isFolder || !filter.Matches(RecordName(r))) continue;
    FoundEntry e;
    e.record = r;
    auto it = placeOf.find(placeKey(r));
    if (it != placeOf.end()) {
      e.folderPath = it->second.path;
      e.level = it->second.level;
    } else {
      (void)engine.GetFolderPath(&r, e.folderPath);
      e.level = FolderDepth(e.folderPath);
    }
    files.push_back(std::move(e));
  }
  return result;
}

namespace {

// The folder a destination path names its file in, as text: copy-out joins
// with '/', and the root keeps the spelling the user gave it.
std::string FolderOf(const std::string& dest) {
  const size_t slash = dest.rfind('/');
  return slash == std::string::npos ? std::string() : dest.substr(0, slash);
}

struct Recoverer {
  ScanEngine& engine;
  int levelBase;
  const std::function<bool()>& stop;
  const RecoverObserver& observer;
  RecoverSummary summary;
  std::string root;
  CopyThunkData* data = nullptr;
  std::string madeFolder;  // the folder the last file went into, made already

  NameRule rule = NameRule::kAsIs;

  // false when the user stopped. `original`: the name on the medium when
  // the destination took another form of it.
  bool CopyFile(const FoundItemRecord& r, const std::string& wanted, const std::string& original = {}) {
    // Files come folder by folder: each folder is made once, not per file.
    const std::string folder = FolderOf(wanted);
    Status s = kOk;
    if (folder != madeFolder) {
      s = MakeFoldersBelow(root, folder);
      madeFolder = s ? std::string() : folder;
    }
    std::string dest = wanted;
    if (data) data->fileSize = r.size;
    // Below the destination root every open makes a new file only (the
    // CreateBelowScope), so a name already taken answers kAlreadyExists
    // without writing anything: only then is a free name looked for, which
    // spares a look at the destination for every file.
    if (!s) s = engine.RecoverItem(r, dest, levelBase);
    if (s == kAlreadyExists) {
      dest = MakeUniquePath(wanted);
      s = dest.empty() ? kAlreadyExists : engine.RecoverItem(r, dest, levelBase);
    }
    if (data) {
      data->bytesBefore += r.size;
      data->fileSize = 0;
    }
    if (s == kStopRequested) {
      // Part of a file must never look like a recovered file.
      (void)RemoveIfRegularFile(dest);
      summary.stopped = true;
      if (observer) observer({dest, kStopRequested, false, original});
      return false;
    }
    ++summary.processed;
    if (s) ++summary.failed;
    const bool partial = s == kOk && r.contentOk == kContentPartial;
    if (partial) ++summary.partial;
    if (observer) observer({dest.empty() ? wanted : dest, s, partial, original});
    return true;
  }

  // The folder's tree, written by this side so every file gets its own
  // outcome and a unique name.
  // `origin`: the folder's path on the medium below the destination;
  // `renamed`: some folder of it was written in another form.
  bool CopyFolder(const FoundItemRecord& folder, uint32_t level, const std::string& dest, const std::string& origin,
                  bool renamed) {
    if (Status s = dest.empty() ? kAlreadyExists : MakeFoldersBelow(root, dest)) {
      ++summary.processed;
      ++summary.failed;
      if (observer) observer({dest, s, false, {}});
      return true;
    }
    struct Pending {
      FoundItemRecord folder;
      uint32_t level;
      std::string dest;
      std::string origin;
      bool renamed;
    };
    std::deque<Pending> queue{{folder, level, dest, origin, renamed}};
    const uint32_t folderId = folder.itemId;  // a packed field: copied, not bound to a reference
    std::set<std::pair<uint32_t, uint32_t>> seen{{folderId, level}};
    while (!queue.empty()) {
      Pending p = std::move(queue.front());
      queue.pop_front();
      std::vector<FoundItemRecord> kids;
      if (Status s = engine.ListChildren(&p.folder, p.level + 1, kids)) {
        ++summary.processed;
        ++summary.failed;
        if (observer) observer({p.dest, s, false, {}});
        continue;
      }
      for (const FoundItemRecord& k : kids) {
        if (stop && stop()) {
          summary.stopped = true;
          return false;
        }
        const std::string name = RecordName(k);
        const NameOf kind = k.isFolder ? NameOf::kFolder : NameOf::kFile;
        const std::string written = DestinationName(name, rule, kind);
        const std::string child = p.dest + "/" + written;
        const std::string origin = p.origin + "/" + name;
        const bool renamed = p.renamed || written != DestinationName(name, NameRule::kAsIs, kind);
        if (k.isFolder) {
          if (!seen.insert({k.itemId, p.level + 1}).second || p.level > 4096) continue;
          // A folder that cannot be made fails each of its files on its own.
          (void)MakeFoldersBelow(root, child);
          queue.push_back({k, p.level + 1, child, origin, renamed});
        } else if (!CopyFile(k, child, renamed ? origin : std::string())) {
          return false;
        }
      }
    }
    return true;
  }
};

}  // namespace

RecoverSummary RecoverFound(ScanEngine& engine, const std::vector<FoundEntry>& items, const std::string& rootIn,
                            Layout layout, const std::function<bool()>& stop, const RecoverObserver& observer,
                            const RecoverProgressObserver& progress) {
  std::string root = StripTrailingSeparator(rootIn);
  // A stalled source: the stop ends the reads not yet started.
  ReadStopScope readStop(stop);
  // Every file is made by walking down from the root, no link followed.
  CreateBelowScope createBelow(root);
  Recoverer rec{engine, SeparatorCount(root), stop, observer, {}, root, nullptr, {}, NameRuleOf(root)};
  rec.summary.total = uint32_t(items.size());
  CopyThunkData data{&stop, &progress};
  rec.data = &data;
  (void)engine.SetCallbacks(nullptr, &CopyThunk, &data, 100);
  for (const FoundEntry& e : items) {
    if (stop && stop()) {
      rec.summary.stopped = true;
      break;
    }
    std::string name = e.Name();
    const NameOf kind = e.IsFolder() ? NameOf::kFolder : NameOf::kFile;
    const auto place = [&](NameRule rule) {
      return layout == Layout::kCategory ? CategoryDestination(root, name, rule, kind)
                                         : TreeDestination(root, e.folderPath, name, rule, kind);
    };
    std::string dest = place(rec.rule);
    const bool renamed = dest != place(NameRule::kAsIs);
    const std::string origin = (layout == Layout::kTree ? e.folderPath : std::string()) + name;
    bool goOn;
    if (e.IsFolder()) {
      // A tree layout merges into the folder already made for it; a folder
      // placed by category gets a name of its own.
      if (layout == Layout::kCategory) dest = MakeUniquePath(dest);
      goOn = rec.CopyFolder(e.record, e.level, dest, origin, renamed);
    } else {
      goOn = rec.CopyFile(e.record, dest, renamed ? origin : std::string());
    }
    if (!goOn) break;
  }
  (void)engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  return rec.summary;
}

}  // namespace dunmere
