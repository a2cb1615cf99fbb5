#pragma once
// A small in-memory scan engine for testing the layers above the engines: it
// "finds" the items it was given, keeps them in a real ResultStore in the
// current scan folder and serves their content from memory.
#include <map>
#include <string>
#include <vector>

#include "base/filetime.h"
#include "engine/store_engine.h"

namespace dunmere::test {

struct FakeItem {
  std::string name;
  uint32_t itemId;
  uint32_t parentId;  // 5 = root
  uint32_t level;     // folders between the item and the root
  bool folder = false;
  std::string content;
  uint32_t contentOk = kContentOk;
  Status readError = kOk;  // a file whose content cannot be read
};

class FakeEngine : public QuickStoreEngine {
 public:
  explicit FakeEngine(std::vector<FakeItem> items, int progressSteps = 4)
      : items_(std::move(items)), steps_(progressSteps) {}

  Status Open(const Medium&, uint16_t) override { return kOk; }
  Status Scan(const std::string*) override {
    if (Status s = OpenStore("Fast_fake")) return s;
    for (int i = 1; i <= steps_; ++i) {
      if (progress_)
        if (int a = progress_(user_, i * 100 / steps_, share_, i == steps_ ? 0 : 7, uint64_t(i) * 10,
                              uint64_t(steps_) * 10, uint64_t(i), 0))
          return a;
    }
    for (const FakeItem& it : items_) {
      FoundItemRecord r = MakeEmptyRecord();
      r.sourceTag = 1;
      r.sourceKind = kSourceQuickFat;
      r.isFolder = it.folder;
      r.contentOk = it.contentOk;
      r.itemId = it.itemId;
      r.clusterBytes = 4096;
      r.size = it.content.size();
      r.created = FileTimeFromUnix(1614931449);  // 2021-03-05 08:04:09 UTC
      r.modified = FileTimeFromUnix(1614931449 + 60);
      r.accessed = 0;
      SetRecordName(r, it.name);
      store_->Append(r, it.parentId, it.level);
    }
    (void)store_->Flush();
    return kOk;
  }
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override {
    for (const FakeItem& it : items_) {
      if (it.itemId != record.itemId || it.folder) continue;
      if (it.readError) return it.readError;
      for (size_t off = 0; off < it.content.size(); off += 65536) {
        size_t n = std::min<size_t>(65536, it.content.size() - off);
        if (int a = sink(reinterpret_cast<const uint8_t*>(it.content.data()) + off, n)) return a;
      }
      return kOk;
    }
    return kNoContent;
  }

 protected:
  uint32_t RootId() const override { return 5; }

 private:
  std::vector<FakeItem> items_;
  int steps_;
};

// Real signatures, so that content checks of pictures have something to see.
inline std::string JpegBytes(size_t n) {
  std::string s = "\xFF\xD8\xFF\xE0";
  while (s.size() < n) s += char('a' + s.size() % 26);
  return s;
}

// A volume with photos, documents, a deleted folder with a subfolder, two
// files of one name in different folders, an empty file and an unreadable one.
inline std::vector<FakeItem> SampleItems() {
  return {
      {"beach.jpg", 20, 5, 0, false, JpegBytes(5000)},
      {"holiday.JPEG", 21, 5, 0, false, JpegBytes(70000)},
      {"notes", 22, 5, 0, false, "no extension"},
      {"report.docx", 23, 5, 0, false, std::string(3000, 'r')},
      {"Trip", 100, 5, 0, true, ""},
      {"dup.txt", 30, 100, 1, false, "first dup"},
      {"Inner", 101, 100, 1, true, ""},
      {"deep.txt", 31, 101, 2, false, "deep file"},
      {"Work", 102, 5, 0, true, ""},
      {"dup.txt", 32, 102, 1, false, "second dup"},
      {"empty.txt", 33, 102, 1, false, ""},
      {"bad.zip", 34, 102, 1, false, "PK", true, kReadFault},
      {"ghost.png", 35, 5, 0, false, "not a png", false},
  };
}

}  // namespace dunmere::test
