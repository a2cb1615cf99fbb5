// A FILE record as the quick and deep NTFS scans meet it: the fix-up, the
// attribute walk, the summary the quick scan keeps, the names, run lists and
// attribute lists inside it.
#include <cstdint>
#include <vector>

#include "ntfs/attribute_list.h"
#include "ntfs/file_name_attr.h"
#include "ntfs/mft_record.h"
#include "ntfs/record_summary.h"
#include "ntfs/run_list.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Records are 1 KiB or 4 KiB; other lengths exercise the fix-up's checks.
  std::vector<uint8_t> rec(data, data + size);
  ByteView view(rec.data(), rec.size());
  (void)HasFileSignature(view);
  (void)ApplyFixup(std::span<uint8_t>(rec.data(), rec.size()));
  (void)ReadRecordHeader(view);
  AttributeWalker walk(view);
  AttributeView a;
  int n = 0;
  while (walk.Next(a) && ++n < 4096) {
    if (a.offset > rec.size() || a.bytes.size() > rec.size()) __builtin_trap();
    if (a.type == kAttrFileName && !a.nonResident) {
      FileNameInfo name;
      (void)ParseFileName(a.value, name);
    }
    if (a.type == kAttrAttributeList && !a.nonResident) (void)ParseAttributeList(a.value);
    if (a.nonResident) {
      std::vector<DataRun> runs;
      (void)DecodeRunList(a.runList, runs);
      std::vector<Extent> extents;
      (void)PlaceRuns(runs, a.lowestVcn, 1u << 20, extents);
      (void)ExtentClusters(extents);
    }
  }
  RecordSummary summary;
  SummarizeRecord(view, summary);
  return 0;
}
