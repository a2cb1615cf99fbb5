#include "app/core/preview/preview_kind.h"

#include <algorithm>

namespace dunmere {

std::string PreviewExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return {};
  std::string ext = name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

PreviewKind PreviewKindOf(const std::string& name) { return PreviewKindOfExtension(PreviewExtension(name)); }

bool IsMedia(PreviewKind k) { return k == PreviewKind::kAudio || k == PreviewKind::kVideo; }

bool NeedsConverter(PreviewKind k) {
  return k == PreviewKind::kPdf || k == PreviewKind::kTextDocument || k == PreviewKind::kSlides ||
         k == PreviewKind::kSpreadsheet || k == PreviewKind::kArchive;
}

}  // namespace dunmere
