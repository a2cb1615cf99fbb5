// A record log reopened from disk, with its "_Relation" and "_DirInfo"
// companions: the fuzz bytes are the three files (two 4-byte lengths first),
// written to a scratch folder and reopened through the result store, then
// read, listed, appended to and closed as a resumed scan would.
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "engine/result_store.h"
#include "fuzz/fuzz_support.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  ByteView in(data, size);
  size_t logLen = std::min<size_t>(in.U32(0), size - 8);
  size_t relLen = std::min<size_t>(in.U32(4), size - 8 - logLen);
  const uint8_t* log = data + 8;
  const uint8_t* rel = log + logLen;
  const uint8_t* dir = rel + relLen;
  fuzz::ScratchDir folder("scan_log");
  fuzz::WriteFile(folder / "fuzz.log", log, logLen);
  fuzz::WriteFile(folder / "fuzz.log_Relation", rel, relLen);
  fuzz::WriteFile(folder / "fuzz.log_DirInfo", dir, size_t(data + size - dir));
  ResultStore store;
  if (store.Open(folder.path(), "fuzz.log") != kOk) return 0;
  std::vector<uint32_t> all;
  for (uint32_t i = 0; i < store.Count(); ++i) {
    FoundItemRecord r;
    if (store.Read(i, r) == kOk) (void)RecordName(r);
    all.push_back(i);
  }
  std::vector<FoundItemRecord> many;
  (void)store.ReadMany(all, many);
  for (const auto& [key, list] : store.Relations()) {
    (void)store.Children(key);
    for (uint32_t idx : list) {
      FoundItemRecord r;
      (void)store.Read(idx, r);  // an index that names no record fails, never reads past the log
    }
  }
  for (const FolderNameEntry& f : store.FolderNames()) (void)store.FolderNameById(f.itemId);
  FoundItemRecord extra{};
  extra.isFolder = 1;
  uint32_t at = store.Append(extra, 0, 0);
  store.AddFolderName(7, at, "added");
  RelationKey key;
  (void)store.ParentKeyOf(at, key);
  (void)store.TruncateTo(store.Count() / 2);
  (void)store.Close();
  // Reopened after the writes: what was written reads back.
  ResultStore again;
  (void)again.Open(folder.path(), "fuzz.log");
  return 0;
}
