#include "scan/file_systems.h"

#include "carving/content_check_factory.h"
#include "engine/quick_ext_engine.h"
#include "exfat/deep/deep_exfat_engine.h"
#include "exfat/exfat_boot_sector.h"
#include "exfat/quick/quick_exfat_engine.h"
#include "fat/deep/deep_fat_engine.h"
#include "fat/quick/quick_fat_engine.h"
#include "fat/fat_boot_sector.h"
#include "ntfs/deep/deep_ntfs_engine.h"
#include "ntfs/quick/quick_ntfs_engine.h"
#include "ntfs/ntfs_boot_sector.h"

namespace dunmere {

bool IsExtSuperblock(ByteView b) {
  ByteView s = b.Sub(1024, 1024);
  if (s.size() < 1024 || s.U16(56) != 0xEF53) return false;
  uint32_t inodes = s.U32(0), blocks = s.U32(4), blocksPerGroup = s.U32(32), inodesPerGroup = s.U32(40);
  if (!inodes || !blocks || !blocksPerGroup || !inodesPerGroup) return false;
  uint32_t firstIno = s.U32(84);
  if (firstIno <= 2) return false;
  uint32_t firstDataBlock = s.U32(20);
  if (blocks <= firstDataBlock) return false;
  if ((blocks - firstDataBlock - 1) / blocksPerGroup + 1 != (inodes - 1) / inodesPerGroup + 1) return false;
  uint32_t logBlock = s.U32(24);
  bool oneK = logBlock == 0;
  if ((firstDataBlock == 1) != oneK || firstDataBlock > 1) return false;
  return inodes > firstIno;
}

namespace {

// Quick engines judge a found file's content by the carving detectors.
template <typename Engine>
std::unique_ptr<ScanEngine> MakeChecked() {
  auto e = std::make_unique<Engine>();
  e->SetContentCheck(MakeSignatureContentCheck());
  return e;
}
template <typename Engine>
std::unique_ptr<DeepFileSystemEngine> MakeDeep() {
  auto e = std::make_unique<Engine>();
  e->SetContentCheck(MakeSignatureContentCheck());
  return e;
}
std::unique_ptr<ScanEngine> MakeExt() { return std::make_unique<QuickExtEngine>(); }
bool RecognisesNtfs(ByteView b) { return IsNtfsBootSector(b); }
bool RecognisesFat(ByteView b) { return IsFatBootSector(b); }
bool RecognisesExfat(ByteView b) { return IsExfatBootSector(b); }

// ext first: mke2fs leaves the area's first sectors alone, so an older
// volume's boot sector may still stand beside its superblock, while mkntfs,
// mkfs.exfat and mkfs.fat all write over the superblock at 1024. An ext
// superblock is therefore the newer file system, the one the system mounts;
// what else is recognised lies under it (FileSystemUnder). NTFS and exFAT
// before FAT: an NTFS boot sector also passes the looser FAT test, and FAT's
// is asked last whatever may pass it.
constexpr FileSystemRow kRows[] = {
    // Recognised so that it is named, not scanned as a lost volume; its quick
    // engine finds nothing.
    {FsKind::kExt, "ext", IsExtSuperblock, kNoSourceKind, kNoSourceKind, MakeExt, nullptr},
    {FsKind::kNtfs, "NTFS", RecognisesNtfs, kSourceQuickNtfs, kSourceDeepNtfs, MakeChecked<QuickNtfsEngine>,
     MakeDeep<DeepNtfsEngine>},
    {FsKind::kExfat, "exFAT", RecognisesExfat, kSourceQuickExfat, kSourceDeepExfat, MakeChecked<QuickExfatEngine>,
     MakeDeep<DeepExfatEngine>},
    {FsKind::kFat, "FAT", RecognisesFat, kSourceQuickFat, kSourceDeepFat, MakeChecked<QuickFatEngine>,
     MakeDeep<DeepFatEngine>},
};

}  // namespace

std::span<const FileSystemRow> FileSystems() { return kRows; }

const FileSystemRow* FileSystemOf(FsKind kind) {
  for (const FileSystemRow& r : kRows)
    if (r.kind == kind) return &r;
  return nullptr;
}

FsKind DetectFileSystem(ByteView b) {
  for (const FileSystemRow& r : kRows)
    if (r.recognises(b)) return r.kind;
  return FsKind::kOther;
}

FsKind FileSystemUnder(ByteView b) {
  const FsKind current = DetectFileSystem(b);
  if (current != FsKind::kExt) return FsKind::kOther;
  for (const FileSystemRow& r : kRows)
    if (r.kind != current && r.recognises(b)) return r.kind;
  return FsKind::kOther;
}

std::string FsKindName(FsKind kind) {
  const FileSystemRow* r = FileSystemOf(kind);
  return r ? std::string(r->name) : "unknown";
}

bool KindHasFolders(uint32_t sourceKind) {
  for (const FileSystemRow& row : FileSystems())
    if (row.quickSource == sourceKind || row.deepSource == sourceKind) return true;
  return false;
}

std::string EngineName(uint32_t sourceKind) {
  if (sourceKind == kSourceCarving) return "carving";
  if (sourceKind == kNoSourceKind) return "unknown";
  for (const FileSystemRow& r : kRows) {
    if (r.quickSource == sourceKind) return "quick " + std::string(r.name);
    if (r.deepSource == sourceKind) return "deep " + std::string(r.name);
  }
  return "unknown";
}

}  // namespace dunmere
