# The file-type options of the file-type page: (caption, user data, picture).
# Shared by the picture script and the layout script, so every option's
# picture exists.
CATEGORIES = [
    # container, category option, toggle button, category default picture, colour
    ("FileTypePhoto", "OptPhotoFile", "BtnPhoto", "photo_default", "#2f8fd8"),
    ("FileTypeAudio", "OptAudioFile", "BtnAudio", "audio_default", "#8e44ad"),
    ("FileTypeVideo", "OptVideoFile", "BtnVideo", "video_default", "#d35400"),
    ("FileTypeOffice", "OptOfficeFile", "BtnOffice", "office_default", "#27ae60"),
    ("FileTypeZip", "OptZipFile", "BtnZip", "zip", "#b7950b"),
    ("FileTypeOther", "OptOtherFile", "BtnOther", "other", "#7f8c8d"),
]

CAMERAS = {"nikon", "canon", "sony", "kodak", "fuji", "mamiya", "sigma", "olympus",
           "epson", "pentax", "minolta"}

OPTIONS = {
    "FileTypePhoto": [
        ("Bitmap (.bmp)", "bmp", "bmp"), ("Gif Graphics Files (.gif)", "gif", "gif"),
        ("JPG/JPEG (.jpg .jpeg)", "jpg|jpeg", "jpg"), ("PNG Graphics Files (.png)", "png", "png"),
        ("Adobe Photoshop (.psd)", "psd", "psd"), ("TIFF Graphics Files (.tif .tiff)", "tif|tiff", "tif"),
        ("Paintbrush Files (.pcx .scr)", "pcx|scr", "pcx"), ("ICON File (.ico)", "ico", "ico"),
        ("Nikon (.nef)", "nef", "nikon"), ("Nikon (.nrw)", "nrw", "nikon"),
        ("Canon (.crw)", "crw", "canon"), ("Canon (.cr2)", "cr2", "canon"),
        ("Sony (.sr2)", "sr2", "sony"), ("Sony (.arw)", "arw", "sony"), ("Sony (.srf)", "srf", "sony"),
        ("DJVU Files (.djvu)", "djvu", "djvu"), ("PGM Files (.pgm)", "pgm", "photo_default"),
        ("Kodak (.k25)", "cr2", "kodak"), ("Kodak (.kdc)", "kdc", "kodak"), ("Kodak (.dcr)", "dcr", "kodak"),
        ("Fuji (.raf)", "raf", "fuji"), ("IFF Files (.iff)", "iff", "photo_default"),
        ("PBM Files (.pbm)", "pbm", "photo_default"), ("Mamiya (.mef)", "mef", "mamiya"),
        ("JP2 Files (.jp2)", "jp2", "jp2"), ("Mamiya (.mos)", "mos", "mamiya"),
        ("Sigma (.x3f)", "x3f", "sigma"), ("Olympus (.orf)", "orf", "olympus"),
        ("EPSON (.erf)", "erf", "epson"), ("Adobe Indesign (.indd)", "indd", "indd"),
        ("Pentax (.pef)", "pef", "pentax"), ("Paint Shop Pro Image (.psp)", "psp", "psp"),
        ("Minolta (.mrw)", "cr2", "minolta"), ("DNG Photo Files (.dng)", "cr2", "photo_default"),
        ("RAW Photo Files (.raw)", "raw", "photo_default"), ("Picture Files (.pct)", "pct", "photo_default"),
        ("TGA File (.tga)", "tga", "tga"), ("THM Files (.thm)", "thm", "photo_default"),
    ],
    "FileTypeAudio": [
        ("MP3 Files (.mp3)", "mp3", "mp3"), ("WAV Files (.wav)", "wav", "wav"),
        ("AIFF Files (.aiff)", "aiff", "aiff"), ("Reason Song (.rps)", "rps", "audio_default"),
        ("MIDI Files (.mid .midi)", "mid|midi", "mid"), ("M4A M4P Files (.m4a .m4p)", "m4a|m4p", "m4a"),
        ("AU Files (.au)", "au", "au"), ("OGG Files(.ogg)", "ogg", "ogg"), ("WMA Files (.wma)", "wma", "wma"),
        ("Real Media (.rm)", "rm", "rm"), ("Real Audio (.ra)", "ra", "ra"),
        ("ACID Files(.acd)", "acd", "audio_default"), ("AMR Files (.amr)", "amr", "amr"),
        ("AT3 Files (.at3)", "at3", "audio_default"), ("CAFF Files (.caf)", "caf", "audio_default"),
        ("DSS Files(.dss)", "dss", "audio_default"), ("M4R Files (.m4r)", "m4r", "m4r"),
        ("NRA Files (.nra)", "nra", "audio_default"), ("SND Files (.snd)", "snd", "audio_default"),
    ],
    "FileTypeVideo": [
        ("RMVB Video Files (.rmvb)", "rmvb", "rmvb"), ("RM Video Files (.rm)", "rm", "rm"),
        ("MPEG Video Files (.mpeg)", "mpeg", "mpeg"), ("Quick Time Video Files (.mov)", "mov", "mov"),
        ("AVI Multimedias File (.avi)", "avi", "avi"), ("WMV Files (.wmv)", "wmv", "wmv"),
        ("ASF Files (.asf)", "asf", "asf"), ("MP4 Files (.mp4)", "mp4", "mp4"), ("M4V Files (.m4v)", "m4v", "m4v"),
        ("3GP Files (.3gp)", "3gp", "3gp"), ("Digital Video (.dv)", "dv", "dv"), ("3G2 Files (.3g2)", "3g2", "3g2"),
        ("M4B (.m4b)", "m4b", "m4b"), ("Matroska Video File (.mkv)", "mkv", "mkv"),
        ("AVCHD Video File (.mts)", "mts", "mts"), ("Divx Movie File (.divx)", "divx", "divx"),
        ("OGG Media Player (.ogm)", "ogm", "ogm"), ("MOI Video Files (.moi)", "moi", "video_default"),
        ("Video Object Files (.vob)", "vob", "vob"), ("AJP Files (.ajp)", "ajp", "video_default"),
        ("F4V Files (.f4v)", "f4v", "f4v"), ("MQV Files (.mqv)", "mvq", "video_default"),
        ("SVI Files (.svi)", "svi", "video_default"), ("VID Files (.vid)", "vid", "video_default"),
        ("TOD Files (.tod)", "tod", "video_default"), ("HDMOV Files (.hdmov)", "hdmov", "video_default"),
        ("MOD Files (.mod)", "mod", "video_default"), ("MXF Files (.mxf)", "mxf", "mxf"),
        ("LRV Files (.lrv)", "lrv", "video_default"), ("M2T Files (.m2t)", "m2t", "video_default"),
    ],
    "FileTypeOffice": [
        ("DOC Files (.doc .docx)", "doc|docx", "doc"), ("XLS Files (.xls .xlsx)", "xls|xlsx", "xls"),
        ("PPT Files (.ppt .pptx)", "ppt|pptx", "ppt"), ("TXT Files (.txt)", "txt", "txt"),
        ("PDF Files (.pdf)", "pdf", "pdf"), ("XML Files (.xml)", "xml", "xml"),
        ("HTML Files (.html .htm)", "html|htm", "html"), ("CHM Files (.chm)", "chm", "chm"),
        ("ODS Files (.ods)", "ods", "ods"), ("OLE Files (.ole)", "ole", "office_default"),
        ("ODT Files (.odt)", "odt", "odt"), ("PST Files (.pst)", "pst", "pst"),
        ("DBX Files (.dbx)", "dbx", "office_default"), ("WPS Files (.wps)", "wps", "wps"),
        ("DPS Files (.dps)", "dps", "office_default"), ("ET Files (.et)", "et", "office_default"),
        ("ONE Files (.one)", "one", "one"), ("MPP Files (.mpp)", "mpp", "mpp"),
        ("MDB Files (.mdb)", "mdb", "mdb"), ("PST Files (.pst)", "pst", "pst"),
        ("ACCDB Files (.accdb)", "accdb", "accdb"),
    ],
    "FileTypeZip": [
        ("ZIP Files (.zip)", "zip", "zip"), ("RAR Files (.rar)", "rar", "rar"), ("TAR Files (.tar)", "tar", "tar"),
        ("GZIP Files (.gzip)", "gzip", "gzip"), ("7Z Files (.7z)", "7z", "7z"), ("CAB Files (.cab)", "cab", "cab"),
        ("ARJ Files (.arj)", "arj", "arj"), ("LZH Files (.lzh)", "lzh", "lzh"), ("ACE Files (.ace)", "ace", "ace"),
        ("GZ Files (.gz)", "gz", "gz"), ("UUE Files (.uue)", "uue", "uue"), ("BZ2 Files (.bz2)", "bz2", "bz2"),
        ("JAR Files (.jar)", "jar", "jar"), ("ISO Files (.iso)", "iso", "iso"),
    ],
    "FileTypeOther": [
        ("Other Files (.*)", "other", "other"),
    ],
}
