#include "app/core/file_categories.h"

#include "engine/categories.h"
#include "base/text.h"

#include <unordered_map>

namespace dunmere {

namespace {

constexpr std::string_view kNames[kCategoryCount] = {"photo", "audio", "video", "document", "archive", "others"};

struct Alias {
  std::string_view from, to;
};
constexpr Alias kAliases[] = {{"jpeg", "jpg"}, {"tiff", "tif"}, {"scr", "pcx"},  {"midi", "mid"}, {"m4p", "m4a"},
                              {"docx", "doc"}, {"xlsx", "xls"}, {"pptx", "ppt"}, {"htm", "html"}};

using C = Category;
const std::vector<FileTypeOption> kOptions = {
    {C::kPhoto, "Bitmap (.bmp)", "bmp", "bmp.png"},
    {C::kPhoto, "Gif Graphics Files (.gif)", "gif", "gif.png"},
    {C::kPhoto, "JPG/JPEG (.jpg .jpeg)", "jpg|jpeg", "jpg.png"},
    {C::kPhoto, "PNG Graphics Files (.png)", "png", "png.png"},
    {C::kPhoto, "Adobe Photoshop (.psd)", "psd", "psd.png"},
    {C::kPhoto, "TIFF Graphics Files (.tif .tiff)", "tif|tiff", "tif.png"},
    {C::kPhoto, "Paintbrush Files (.pcx .scr)", "pcx|scr", "pcx.png"},
    {C::kPhoto, "ICON File (.ico)", "ico", "ico.png"},
    {C::kPhoto, "Nikon (.nef)", "nef", "nikon.png"},
    {C::kPhoto, "Nikon (.nrw)", "nrw", "nikon.png"},
    {C::kPhoto, "Canon (.crw)", "crw", "canon.png"},
    {C::kPhoto, "Canon (.cr2)", "cr2", "canon.png"},
    {C::kPhoto, "Sony (.sr2)", "sr2", "sony.png"},
    {C::kPhoto, "Sony (.arw)", "arw", "sony.png"},
    {C::kPhoto, "Sony (.srf)", "srf", "sony.png"},
    {C::kPhoto, "DJVU Files (.djvu)", "djvu", "photo_default.png"},
    {C::kPhoto, "PGM Files (.pgm)", "pgm", "photo_default.png"},
    {C::kPhoto, "Kodak (.k25)", "cr2", "kodak.png"},
    {C::kPhoto, "Kodak (.kdc)", "kdc", "kodak.png"},
    {C::kPhoto, "Kodak (.dcr)", "dcr", "kodak.png"},
    {C::kPhoto, "Fuji (.raf)", "raf", "fuji.png"},
    {C::kPhoto, "IFF Files (.iff)", "iff", "photo_default.png"},
    {C::kPhoto, "PBM Files (.pbm)", "pbm", "photo_default.png"},
    {C::kPhoto, "Mamiya (.mef)", "mef", "mamiya.png"},
    {C::kPhoto, "JP2 Files (.jp2)", "jp2", "photo_default.png"},
    {C::kPhoto, "Mamiya (.mos)", "mos", "mamiya.png"},
    {C::kPhoto, "Sigma (.x3f)", "x3f", "sigma.png"},
    {C::kPhoto, "Olympus (.orf)", "orf", "olympus.png"},
    {C::kPhoto, "EPSON (.erf)", "erf", "epson.png"},
    {C::kPhoto, "Adobe Indesign (.indd)", "indd", "photo_default.png"},
    {C::kPhoto, "Pentax (.pef)", "pef", "pentax.png"},
    {C::kPhoto, "Paint Shop Pro Image (.psp)", "psp", "photo_default.png"},
    {C::kPhoto, "Minolta (.mrw)", "cr2", "minolta.png"},
    {C::kPhoto, "DNG Photo Files (.dng)", "cr2", "photo_default.png"},
    {C::kPhoto, "RAW Photo Files (.raw)", "raw", "photo_default.png"},
    {C::kPhoto, "Picture Files (.pct)", "pct", "photo_default.png"},
    {C::kPhoto, "TGA File (.tga)", "tga", "photo_default.png"},
    {C::kPhoto, "THM Files (.thm)", "thm", "photo_default.png"},
    {C::kAudio, "MP3 Files (.mp3)", "mp3", "mp3.png"},
    {C::kAudio, "WAV Files (.wav)", "wav", "wav.png"},
    {C::kAudio, "AIFF Files (.aiff)", "aiff", "audio_default.png"},
    {C::kAudio, "Reason Song (.rps)", "rps", "audio_default.png"},
    {C::kAudio, "MIDI Files (.mid .midi)", "mid|midi", "mid.png"},
    {C::kAudio, "M4A M4P Files (.m4a .m4p)", "m4a|m4p", "m4a.png"},
    {C::kAudio, "AU Files (.au)", "au", "audio_default.png"},
    {C::kAudio, "OGG Files(.ogg)", "ogg", "ogg.png"},
    {C::kAudio, "WMA Files (.wma)", "wma", "wma.png"},
    {C::kAudio, "Real Media (.rm)", "rm", "audio_default.png"},
    {C::kAudio, "Real Audio (.ra)", "ra", "audio_default.png"},
    {C::kAudio, "ACID Files(.acd)", "acd", "audio_default.png"},
    {C::kAudio, "AMR Files (.amr)", "amr", "audio_default.png"},
    {C::kAudio, "AT3 Files (.at3)", "at3", "audio_default.png"},
    {C::kAudio, "CAFF Files (.caf)", "caf", "audio_default.png"},
    {C::kAudio, "DSS Files(.dss)", "dss", "audio_default.png"},
    {C::kAudio, "M4R Files (.m4r)", "m4r", "audio_default.png"},
    {C::kAudio, "NRA Files (.nra)", "nra", "audio_default.png"},
    {C::kAudio, "SND Files (.snd)", "snd", "audio_default.png"},
    {C::kVideo, "RMVB Video Files (.rmvb)", "rmvb", "video_default.png"},
    {C::kVideo, "RM Video Files (.rm)", "rm", "video_default.png"},
    {C::kVideo, "MPEG Video Files (.mpeg)", "mpeg", "mpeg.png"},
    {C::kVideo, "Quick Time Video Files (.mov)", "mov", "mov.png"},
    {C::kVideo, "AVI Multimedias File (.avi)", "avi", "avi.png"},
    {C::kVideo, "WMV Files (.wmv)", "wmv", "wmv.png"},
    {C::kVideo, "ASF Files (.asf)", "asf", "video_default.png"},
    {C::kVideo, "MP4 Files (.mp4)", "mp4", "mp4.png"},
    {C::kVideo, "M4V Files (.m4v)", "m4v", "video_default.png"},
    {C::kVideo, "3GP Files (.3gp)", "3gp", "video_default.png"},
    {C::kVideo, "Digital Video (.dv)", "dv", "video_default.png"},
    {C::kVideo, "3G2 Files (.3g2)", "3g2", "video_default.png"},
    {C::kVideo, "M4B (.m4b)", "m4b", "video_default.png"},
    {C::kVideo, "Matroska Video File (.mkv)", "mkv", "mkv.png"},
    {C::kVideo, "AVCHD Video File (.mts)", "mts", "video_default.png"},
    {C::kVideo, "Divx Movie File (.divx)", "divx", "video_default.png"},
    {C::kVideo, "OGG Media Player (.ogm)", "ogm", "video_default.png"},
    {C::kVideo, "MOI Video Files (.moi)", "moi", "video_default.png"},
    {C::kVideo, "Video Object Files (.vob)", "vob", "video_default.png"},
    {C::kVideo, "AJP Files (.ajp)", "ajp", "video_default.png"},
    {C::kVideo, "F4V Files (.f4v)", "f4v", "video_default.png"},
    {C::kVideo, "MQV Files (.mqv)", "mvq", "video_default.png"},
    {C::kVideo, "SVI Files (.svi)", "svi", "video_default.png"},
    {C::kVideo, "VID Files (.vid)", "vid", "video_default.png"},
    {C::kVideo, "TOD Files (.tod)", "tod", "video_default.png"},
    {C::kVideo, "HDMOV Files (.hdmov)", "hdmov", "video_default.png"},
    {C::kVideo, "MOD Files (.mod)", "mod", "video_default.png"},
    {C::kVideo, "MXF Files (.mxf)", "mxf", "video_default.png"},
    {C::kVideo, "LRV Files (.lrv)", "lrv", "video_default.png"},
    {C::kVideo, "M2T Files (.m2t)", "m2t", "video_default.png"},
    {C::kDocument, "DOC Files (.doc .docx)", "doc|docx", "doc.png"},
    {C::kDocument, "XLS Files (.xls .xlsx)", "xls|xlsx", "xls.png"},
    {C::kDocument, "PPT Files (.ppt .pptx)", "ppt|pptx", "ppt.png"},
    {C::kDocument, "TXT Files (.txt)", "txt", "txt.png"},
    {C::kDocument, "PDF Files (.pdf)", "pdf", "pdf.png"},
    {C::kDocument, "XML Files (.xml)", "xml", "xml.png"},
    {C::kDocument, "HTML Files (.html .htm)", "html|htm", "html.png"},
    {C::kDocument, "CHM Files (.chm)", "chm", "office_default.png"},
    {C::kDocument, "ODS Files (.ods)", "ods", "office_default.png"},
    {C::kDocument, "OLE Files (.ole)", "ole", "office_default.png"},
    {C::kDocument, "ODT Files (.odt)", "odt", "office_default.png"},
    {C::kDocument, "PST Files (.pst)", "pst", "office_default.png"},
    {C::kDocument, "DBX Files (.dbx)", "dbx", "office_default.png"},
    {C::kDocument, "WPS Files (.wps)", "wps", "office_default.png"},
    {C::kDocument, "DPS Files (.dps)", "dps", "office_default.png"},
    {C::kDocument, "ET Files (.et)", "et", "office_default.png"},
    {C::kDocument, "ONE Files (.one)", "one", "office_default.png"},
    {C::kDocument, "MPP Files (.mpp)", "mpp", "office_default.png"},
    {C::kDocument, "MDB Files (.mdb)", "mdb", "office_default.png"},
    {C::kDocument, "PST Files (.pst)", "pst", "office_default.png"},
    {C::kDocument, "ACCDB Files (.accdb)", "accdb", "office_default.png"},
    {C::kArchive, "ZIP Files (.zip)", "zip", "zip.png"},
    {C::kArchive, "RAR Files (.rar)", "rar", "rar.png"},
    {C::kArchive, "TAR Files (.tar)", "tar", "tar.png"},
    {C::kArchive, "GZIP Files (.gzip)", "gzip", "gz.png"},
    {C::kArchive, "7Z Files (.7z)", "7z", "7z.png"},
    {C::kArchive, "CAB Files (.cab)", "cab", "cab.png"},
    {C::kArchive, "ARJ Files (.arj)", "arj", "arj.png"},
    {C::kArchive, "LZH Files (.lzh)", "lzh", "lzh.png"},
    {C::kArchive, "ACE Files (.ace)", "ace", "ace.png"},
    {C::kArchive, "GZ Files (.gz)", "gz", "gz.png"},
    {C::kArchive, "UUE Files (.uue)", "uue", "uue.png"},
    {C::kArchive, "BZ2 Files (.bz2)", "bz2", "bz2.png"},
    {C::kArchive, "JAR Files (.jar)", "jar", "jar.png"},
    {C::kArchive, "ISO Files (.iso)", "iso", "iso.png"},
    {C::kOthers, "Other Files (.*)", "other", "other.png"},
};

bool ListsExtension(std::string_view joined, std::string_view ext) {
  size_t start = 0;
  while (start <= joined.size()) {
    size_t bar = joined.find('|', start);
    std::string_view part = joined.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    if (part == ext) return true;
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return false;
}

}  // namespace

std::string_view CategoryName(Category c) {
  int i = int(c);
  return i >= 0 && i < kCategoryCount ? kNames[i] : kNames[int(Category::kOthers)];
}

bool ParseCategory(std::string_view text, Category& out) {
  std::string t = AsciiLower(text);
  if (!t.empty() && t.back() == 's' && t != "others") t.pop_back();  // "photos", "documents", ...
  if (t == "other") t = "others";
  for (int i = 0; i < kCategoryCount; ++i)
    if (t == kNames[i]) {
      out = Category(i);
      return true;
    }
  return false;
}

std::string_view CategoryList(Category c) {
  switch (c) {
    case Category::kPhoto: return kPictureList;
    case Category::kAudio: return kAudioList;
    case Category::kVideo: return kVideoList;
    case Category::kDocument: return kDocumentList;
    case Category::kArchive: return kArchiveList;
    case Category::kOthers: return {};
  }
  return {};
}

Category CategoryOfExtension(std::string_view ext) {
  // Asked for every found file (hundreds of thousands in a listing): the
  // lists are read into one table once, the first list naming an extension
  // giving its category. Whole entries only: "c" is not in a list because
  // "*.cab" is, and "tif" is found as itself, not inside "*.tiff".
  static const std::unordered_map<std::string_view, Category> table = [] {
    std::unordered_map<std::string_view, Category> t;
    for (int i = 0; i < int(Category::kOthers); ++i) {
      std::string_view list = CategoryList(Category(i));
      for (size_t pos = 0; pos <= list.size();) {
        size_t end = list.find('|', pos);
        if (end == std::string_view::npos) end = list.size();
        std::string_view entry = list.substr(pos, end - pos);
        if (entry.size() > 2 && entry.substr(0, 2) == "*.") t.emplace(entry.substr(2), Category(i));
        pos = end + 1;
      }
    }
    return t;
  }();
  auto it = table.find(ext);
  return it == table.end() ? Category::kOthers : it->second;
}

Category CategoryOfNameKind(std::string_view name) {
  if (name.find('.') == std::string_view::npos) return Category::kOthers;
  return CategoryOfExtension(ExtensionOf(name));
}

std::string CategoryOfName(std::string_view name) { return std::string(CategoryName(CategoryOfNameKind(name))); }

std::string_view GroupAlias(std::string_view ext) {
  for (const Alias& a : kAliases)
    if (a.from == ext) return a.to;
  return ext;
}

std::string GroupNameOfName(std::string_view name) {
  std::string ext = ExtensionOf(name);
  if (ext.empty()) return "unknow";  // no "." at all, or a name ending in one
  return std::string(GroupAlias(ext));
}

const std::vector<FileTypeOption>& FileTypeOptions() { return kOptions; }

const FileTypeOption* OptionForExtension(std::string_view ext) {
  if (ext.empty()) return nullptr;
  std::string_view group = GroupAlias(ext);
  for (const FileTypeOption& o : kOptions)
    if (o.category != Category::kOthers && (ListsExtension(o.extensions, ext) || ListsExtension(o.extensions, group)))
      return &o;
  return nullptr;
}

}  // namespace dunmere
