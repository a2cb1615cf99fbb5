#include "engine/categories.h"

namespace dunmere {

#define DUNMERE_PICTURES                                                                             \
  "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|" \
  "*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|"   \
  "*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm"
#define DUNMERE_AUDIO                                                                               \
  "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|" \
  "*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd"
#define DUNMERE_VIDEO                                                                                 \
  "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|" \
  "*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.mxf|"    \
  "*.lrv|*.m2t"
#define DUNMERE_DOCUMENTS                                                                             \
  "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|*.html|" \
  "*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb"
#define DUNMERE_ARCHIVES "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso"

const std::string_view kPictureList = DUNMERE_PICTURES;
const std::string_view kAudioList = DUNMERE_AUDIO;
const std::string_view kVideoList = DUNMERE_VIDEO;
const std::string_view kDocumentList = DUNMERE_DOCUMENTS;
const std::string_view kArchiveList = DUNMERE_ARCHIVES;
const std::string_view kPreviewDocumentList =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|"
    "*.ppsm|*.odp|*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|"
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const std::string_view kKnownExtensionList =
    DUNMERE_PICTURES "|" DUNMERE_AUDIO "|" DUNMERE_DOCUMENTS "|" DUNMERE_VIDEO "|" DUNMERE_ARCHIVES;

}  // namespace dunmere
