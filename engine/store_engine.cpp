#include "engine/store_engine.h"

#include "engine/log_name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <unordered_map>
#include <filesystem>
#include <set>

#include "engine/formats/file_format.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "platform/file.h"
#include "platform/native_path.h"
#include "engine/destination_name.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {
// Internal answer of the preview sink once the caller's buffer is full.
constexpr int kBufferFull = -9600;
}  // namespace

void SortForListing(std::vector<FoundItemRecord>& v) {
  if (v.size() < 2) return;
  // Each name is decoded once, and the records are moved once: comparing
  // decoded names of 346-byte records in the sort itself cost far more.
  struct Key {
    bool folder;
    std::string name;
    size_t at;
  };
  std::vector<Key> keys;
  keys.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) keys.push_back({v[i].isFolder != 0, RecordName(v[i]), i});
  std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.folder != b.folder) return !a.folder;
    return CompareNamesAsciiNoCase(a.name, b.name) < 0;
  });
  // The records go to their places in the list itself, cycle by cycle: a
  // sorted copy would hold a second list as large as the first.
  std::vector<size_t> from(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) from[i] = keys[i].at;
  keys.clear();
  keys.shrink_to_fit();
  for (size_t start = 0; start < from.size(); ++start) {
    if (from[start] == start) continue;
    FoundItemRecord held = v[start];
    size_t at = start;
    while (from[at] != start) {
      const size_t next = from[at];
      v[at] = v[next];
      from[at] = at;
      at = next;
    }
    v[at] = held;
    from[at] = at;
  }
}

bool IsHiddenBadPicture(const FoundItemRecord& r) {
  return r.contentOk == 0 && IsPictureExtension(ExtensionOf(RecordName(r)));
}

int CountSeparators(const std::string& p) {
  int n = 0;
  for (size_t i = 0; i < p.size(); ++i)
    if (p[i] == '/' && i + 1 != p.size()) ++n;
  return n;
}

std::string QuickScanLogName(uint64_t start, const struct tm& t) { return FormatLogName("Fast_", start, t); }

Status StoreEngine::SetCallbacks(ScanProgressCallback p, DataCallback d, void* u, int share) {
  progress_ = p;
  data_ = d;
  user_ = u;
  share_ = share;
  return kOk;
}

Status StoreEngine::SetSearchCallback(SearchProgressCallback cb, void* u) {
  searchCb_ = cb;
  searchUser_ = u;
  return kOk;
}


Status StoreEngine::OpenStore(const std::string& name) {
  store_.reset();
  auto s = std::make_unique<ResultStore>();
  if (Status st = s->Open(ScanLogFolder::Instance().CurrentScanFolder(), name)) return st;
  store_ = std::move(s);
  return kOk;
}

int64_t StoreEngine::GetFoundCount() { return store_ ? int64_t(store_->Count()) : 0; }

Status StoreEngine::ListChildren(const FoundItemRecord* folder, uint32_t level,
                                      std::vector<FoundItemRecord>& out) {
  out.clear();
  if (!folder && level != 0) return kInvalidArg;
  // A file has no children, whatever its id may share with a folder's.
  if (!store_ || (folder && !folder->isFolder)) return kOk;
  // What was listed is on disk too, so the log can be reopened (a resume)
  // with what the windows showed; companions are written only when changed.
  (void)store_->Flush();
  RelationKey key = MakeRelationKey(folder ? folder->itemId : RootId(), level);
  const std::vector<uint32_t>* kids = store_->Children(key);
  if (!kids) return kOk;
  // A relation entry of a damaged log that names no record loses only itself.
  std::vector<uint32_t> valid;
  valid.reserve(kids->size());
  for (uint32_t idx : *kids)
    if (idx != 0 && idx <= store_->Count()) valid.push_back(idx);
  std::vector<FoundItemRecord> records;
  if (Status s = store_->ReadMany(valid, records)) return s;
  out.reserve(records.size());
  for (const FoundItemRecord& r : records)
    if (!IsHiddenBadPicture(r)) out.push_back(r);
  if (out.size() > 1) SortForListing(out);
  return kOk;
}

Status StoreEngine::CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) {
  count = 0;
  if (!folder && level != 0) return kInvalidArg;
  if (!store_ || (folder && !folder->isFolder)) return kOk;
  std::deque<RelationKey> queue{MakeRelationKey(folder ? folder->itemId : RootId(), level)};
  std::set<RelationKey> seen{queue.front()};
  while (!queue.empty()) {
    RelationKey key = queue.front();
    queue.pop_front();
    const std::vector<uint32_t>* kids = store_->Children(key);
    if (!kids) continue;
    std::vector<uint32_t> valid;
    valid.reserve(kids->size());
    for (uint32_t idx : *kids)
      if (idx != 0 && idx <= store_->Count()) valid.push_back(idx);
    std::vector<FoundItemRecord> records;
    if (Status s = store_->ReadMany(valid, records)) return s;
    for (const FoundItemRecord& r : records) {
      if (r.isFolder) {
        RelationKey next = MakeRelationKey(r.itemId, RelationLevel(key) + 1);
        if (seen.insert(next).second) queue.push_back(next);
      } else {
        ++count;
      }
    }
  }
  return kOk;
}

Status StoreEngine::GetFolderPath(const FoundItemRecord* record, std::string& out) {
  out.clear();
  if (!record || !store_) return kOk;
  std::vector<std::string> names;
  uint32_t idx = record->recordIndex;
  std::set<uint32_t> visited{idx};
  for (;;) {
    RelationKey key;
    if (!store_->ParentKeyOf(idx, key)) break;
    uint32_t parentId = RelationParent(key);
    // The root has no folder record; looking for one would read the whole log.
    if (parentId == RootId() && RelationLevel(key) == 0) break;
    const FolderNameEntry* e = store_->FolderNameById(parentId);
    std::string name;
    uint32_t parentIdx = 0;
    if (e) {
      name = EntryName(*e);
      parentIdx = e->recordIndex;
    } else {
      // Not in memory: the first folder record with that id in the log.
      for (uint32_t i = 1; i <= store_->Count() && !parentIdx; ++i) {
        FoundItemRecord r;
        if (store_->Read(i, r) == kOk && r.isFolder && r.itemId == parentId) {
          name = RecordName(r);
          parentIdx = i;
        }
      }
      if (!parentIdx) break;
    }
    // Stops at the record itself and at any loop a damaged volume may hold.
    if (!visited.insert(parentIdx).second) break;
    names.push_back(name);
    idx = parentIdx;
  }
  for (auto it = names.rbegin(); it != names.rend(); ++it) out += *it + "/";
  return kOk;
}

Status StoreEngine::CopyFile(const FoundItemRecord& record, const std::string& dest) {
  File out;
  // Never through a link; inside the copy-out's CreateBelowScope, never over
  // anything already there either.
  Status s = out.Open(dest, File::Mode::kCreateTruncate);
  if (s == kFileNotFound) {
    // The folder is made only when it is missing: looking first would cost
    // a look at the destination for every file.
    std::error_code ec;
    fs::path parent = NativePath(dest).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
    s = out.Open(dest, File::Mode::kCreateTruncate);
  }
  const bool created = s == kOk;
  uint64_t written = 0;
  int stopAnswer = 0;
  if (!s) {
    uint64_t total = record.size;
    s = ReadContent(record, [&](const uint8_t* data, size_t len) -> int {
      if (Status w = out.WriteAt(written, data, len)) return w;
      written += len;
      int percent = total ? int(std::min<uint64_t>(100, written * 100 / total)) : 100;
      if (data_) {
        int answer = data_(user_, percent, 100, kOk, dest);
        if (answer) stopAnswer = answer;
        return answer;
      }
      return 0;
    });
    Status c = out.Close();
    if (!s) s = c;
  }
  if (s) {
    // A file that could not be copied whole is not left behind looking
    // recovered. When the open failed, what has the name is not ours.
    if (created) (void)RemoveFile(dest);
    // A name already taken is no outcome: nothing was read or written, and
    // the copy-out goes on with another name. Reported, it would name a file
    // not ours, and a report may hold the worker (a window's cancel question)
    // before the file it is about exists.
    const bool nameTaken = !created && s == kAlreadyExists;
    if (data_ && s != stopAnswer && !nameTaken) data_(user_, 100, 100, s, dest);
  }
  return s;
}

Status StoreEngine::RecoverItem(const FoundItemRecord& record, const std::string& destination, int levelBase) {
  if (!record.isFolder) return CopyFile(record, destination);
  std::error_code ec;
  fs::create_directories(NativePath(destination), ec);
  if (ec && !fs::is_directory(NativePath(destination))) return StatusFromErrno(ec.value());
  const NameRule rule = NameRuleOf(destination);
  std::deque<std::pair<FoundItemRecord, std::string>> queue{{record, destination}};
  Status result = kOk;
  // Files are copied in batches in the order of their item ids (the first
  // cluster, the file record): the source is read front to back instead of
  // jumping between folders, and a batch bounds what is held in memory.
  constexpr size_t kBatchFiles = 8192;
  std::vector<std::pair<FoundItemRecord, std::string>> batch;
  auto copyBatch = [&]() -> Status {
    std::stable_sort(batch.begin(), batch.end(),
                     [](const auto& a, const auto& b) { return a.first.itemId < b.first.itemId; });
    for (const auto& item : batch) {
      Status s = CopyFile(item.first, item.second);
      if (s == kStopRequested) return kStopRequested;
      if (s && !result) result = s;
    }
    batch.clear();
    return kOk;
  };
  while (!queue.empty()) {
    auto [folder, path] = queue.front();
    queue.pop_front();
    int level = CountSeparators(path) - levelBase;
    if (level < 0) level = 0;
    std::vector<FoundItemRecord> kids;
    if (Status s = ListChildren(&folder, uint32_t(level), kids)) {
      result = s;
      continue;
    }
    std::string prefix = path;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    for (const FoundItemRecord& kid : kids) {
      std::string childPath =
          prefix + DestinationName(RecordName(kid), rule, kid.isFolder ? NameOf::kFolder : NameOf::kFile);
      if (kid.isFolder) {
        fs::create_directories(NativePath(childPath), ec);
        queue.emplace_back(kid, std::move(childPath));
      } else {
        batch.emplace_back(kid, std::move(childPath));
      }
    }
    if (batch.size() >= kBatchFiles && copyBatch() == kStopRequested) return kStopRequested;
  }
  if (copyBatch() == kStopRequested) return kStopRequested;
  // Single-file failures do not stop the walk; the first is reported.
  return result;
}

int StoreEngine::SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) {
  out.clear();
  if (!store_) return 0;
  // The search reads the log file itself; the relations come from memory.
  (void)store_->FlushRecords();
  std::string pat = AsciiLower(patterns);
  bool other = pat.find(".other") != std::string::npos;
  uint64_t logBytes = store_->BytesAppended();
  if (logBytes >= 134217728ULL) other = false;
  File log;
  if (log.Open(store_->LogPath(), File::Mode::kRead)) return 0;
  std::vector<uint8_t> piece(ResultStore::kBufferBytes);
  std::unordered_map<std::string, bool> matchOfExtension;
  // Room for every record of the log at once: growing a list of hundreds of
  // MiB step by step copies it again and again.
  try {
    out.reserve(size_t(logBytes / kRecordSize));
  } catch (const std::bad_alloc&) {
  }
  uint64_t off = 0;
  while (off < logBytes) {
    size_t got = 0;
    size_t want = size_t(std::min<uint64_t>(piece.size(), logBytes - off));
    if (log.ReadAt(off, piece.data(), want, got) || got < kRecordSize) break;
    for (size_t p = 0; p + kRecordSize <= got; p += kRecordSize) {
      FoundItemRecord r;
      std::memcpy(&r, piece.data() + p, kRecordSize);
      if (r.isFolder) continue;
      const std::string name = RecordName(r);
      std::string ext = ExtensionOf(name);
      if (r.contentOk == 0 && IsPictureExtension(ext)) continue;  // IsHiddenBadPicture
      bool match;
      if (ext.empty()) {
        match = other;
      } else {
        // The lists are long and the same few extensions come again and
        // again: each is looked up once.
        auto known = matchOfExtension.find(ext);
        if (known == matchOfExtension.end()) {
          std::string dotted = "." + ext;
          known = matchOfExtension
                      .emplace(ext, InList(dotted, pat) || (other && !InList(dotted, KnownExtensionList())))
                      .first;
        }
        match = known->second;
      }
      if (match) out.push_back(r);
    }
    off += got;
    if (searchCb_ && searchCb_(searchUser_, int(off * 100 / logBytes), 0)) break;
  }
  SortForListing(out);
  return 1;
}

Status StoreEngine::WritePreviewFile(const FoundItemRecord& record, const std::string& dir,
                                          const std::string& target, PreviewProgressCallback cb, void* user) {
  std::error_code ec;
  fs::create_directories(NativePath(dir), ec);
  (void)RemoveFile(target);
  const uint64_t total = record.size;
  uint64_t done = 0;
  File f;
  Status s = f.Open(target, File::Mode::kCreateTruncate);
  if (!s) {
    s = ReadContent(record, [&](const uint8_t* data, size_t len) -> int {
      if (Status w = f.WriteAt(done, data, len)) return w;
      done += len;
      return cb ? cb(user, total ? int(std::min<uint64_t>(100, done * 100 / total)) : 100, kOk) : 0;
    });
    Status c = f.Close();
    if (!s) s = c;
  }
  if (s) (void)RemoveFile(target);
  return s;
}

Status StoreEngine::ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer,
                                        uint64_t& byteCount, PreviewProgressCallback cb, void* user) {
  if (!record) return kInvalidArg;
  std::string ext = ExtensionOf(RecordName(*record));
  std::string dir = ScanLogFolder::Instance().ScanLogPath();
  std::string target;
  if (!ext.empty()) {
    if (InList(ext, PreviewDocumentList()))
      target = dir + "/" + DestinationName(RecordName(*record), NameRuleOf(dir));
    else if (InList(ext, CategoryList(Category::kPhoto)))
      target = dir + "/tmp.jpg";
    else if (InList(ext, CategoryList(Category::kAudio)) || InList(ext, CategoryList(Category::kVideo)))
      target = dir + "/tmp.avi";
  }
  if (target.size() >= 260) target.clear();
  if (!target.empty()) {
    if (Status s = WritePreviewFile(*record, dir, target, cb, user)) {
      path.clear();
      if (cb) cb(user, 100, s);
      return s;
    }
    path = target;
    byteCount = 0;
    return kOk;
  }
  uint64_t total = record->size;
  uint64_t done = 0;
  auto report = [&](uint64_t d) -> int {
    return cb ? cb(user, total ? int(std::min<uint64_t>(100, d * 100 / total)) : 100, kOk) : 0;
  };
  uint64_t capacity = byteCount;
  Status s = ReadContent(*record, [&](const uint8_t* data, size_t len) -> int {
    size_t take = size_t(std::min<uint64_t>(len, capacity - done));
    if (take && buffer) std::memcpy(buffer + done, data, take);
    done += take;
    if (int a = report(done)) return a;
    return done >= capacity ? kBufferFull : 0;  // enough for a preview
  });
  if (s == kBufferFull) s = kOk;
  path.clear();
  byteCount = done;
  return s;
}

}  // namespace dunmere
