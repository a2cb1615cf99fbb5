#include "app/core/preview_kind.h"

#include <algorithm>
#include <string_view>

#include "engine/categories.h"

namespace dunmere {
namespace {

constexpr std::string_view kWordList = "*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt";
constexpr std::string_view kSlidesList = "*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp";
constexpr std::string_view kSheetList =
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg";
constexpr std::string_view kArchiveEntries =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

bool HasEntry(std::string_view list, const std::string& ext) {
  if (ext.empty()) return false;
  const std::string entry = "*." + ext;
  size_t at = 0;
  while ((at = list.find(entry, at)) != std::string_view::npos) {
    const size_t end = at + entry.size();
    if ((at == 0 || list[at - 1] == '|') && (end == list.size() || list[end] == '|')) return true;
    ++at;
  }
  return false;
}

}  // namespace

std::string PreviewExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return {};
  std::string ext = name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

PreviewKind PreviewKindOf(const std::string& name) {
  const std::string ext = PreviewExtension(name);
  if (HasEntry(kAudioList, ext)) return PreviewKind::kAudio;
  if (HasEntry(kVideoList, ext)) return PreviewKind::kVideo;
  if (HasEntry(kPictureList, ext)) return PreviewKind::kPicture;
  if (ext == "pdf") return PreviewKind::kPdf;
  if (HasEntry(kWordList, ext)) return PreviewKind::kTextDocument;
  if (HasEntry(kSlidesList, ext)) return PreviewKind::kSlides;
  if (HasEntry(kSheetList, ext)) return PreviewKind::kSpreadsheet;
  if (HasEntry(kArchiveEntries, ext)) return PreviewKind::kArchive;
  return PreviewKind::kOther;
}

bool IsMedia(PreviewKind k) { return k == PreviewKind::kAudio || k == PreviewKind::kVideo; }

bool NeedsConverter(PreviewKind k) {
  return k == PreviewKind::kPdf || k == PreviewKind::kTextDocument || k == PreviewKind::kSlides ||
         k == PreviewKind::kSpreadsheet || k == PreviewKind::kArchive;
}

}  // namespace dunmere
