#include "app/core/preview/preview_content.h"
#include "platform/native_path.h"

#include <filesystem>
#include <system_error>

namespace dunmere {

void PreviewContent::Discard(bool keepMedia) {
  if (!path.empty() && !(keepMedia && IsMedia(kind))) {
    std::error_code ec;
    std::filesystem::remove(NativePath(path), ec);  // a copy already gone needs no deleting
  }
  path.clear();
  bytes.clear();
  bytes.shrink_to_fit();
}

Status ReadPreviewContent(ScanEngine& engine, const FoundItemRecord& record, PreviewContent& out,
                          PreviewProgressCallback callback, void* user) {
  out.Discard();
  out.record = record;
  out.kind = PreviewKindOf(RecordName(record));
  // Only what is meant for memory is given room there.
  const uint64_t size = record.size;  // a packed field: no reference to it
  out.bytes.resize(size_t(std::min<uint64_t>(size, kPreviewMemoryBytes)));
  uint64_t count = out.bytes.size();
  const Status s = engine.ReadForPreview(&record, out.path, out.bytes.data(), count, callback, user);
  if (s != kOk) {
    out.Discard();
    return s;
  }
  out.bytes.resize(out.path.empty() ? size_t(std::min<uint64_t>(count, out.bytes.size())) : 0);
  return kOk;
}

}  // namespace dunmere
