#include "app/core/preview/picture_navigation.h"

#include "app/core/preview/preview_kind.h"

namespace dunmere {

bool SameItem(const FoundItemRecord& a, const FoundItemRecord& b) {
  // Item ids are per engine: two sources may both have an item 5.
  return a.itemId == b.itemId && a.sourceTag == b.sourceTag && a.sourceKind == b.sourceKind &&
         a.recordIndex == b.recordIndex;
}

int NextPictureIndex(const std::vector<FoundItemRecord>& list, const FoundItemRecord& current, bool forward) {
  const int n = int(list.size());
  if (n == 0) return -1;
  int at = -1;
  for (int i = 0; i < n; ++i)
    if (SameItem(list[size_t(i)], current)) {
      at = i;
      break;
    }
  const int start = at >= 0 ? at : (forward ? -1 : n);
  for (int step = 1; step <= n; ++step) {
    const int i = ((start + (forward ? step : -step)) % n + n) % n;
    if (i == at) break;
    const FoundItemRecord& r = list[size_t(i)];
    if (!r.isFolder && PreviewKindOf(RecordName(r)) == PreviewKind::kPicture) return i;
  }
  return -1;
}

}  // namespace dunmere
