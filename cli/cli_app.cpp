#include "cli/cli_app.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/device_identity.h"
#include "app/core/results/file_categories.h"
#include "app/core/help/program_help.h"
#include "app/core/imaging/imaging_job.h"
#include "app/core/recover/recovery_paths.h"
#include "app/core/results/text_formats.h"
#include "cli/command_support.h"
#include "cli/json_writer.h"
#include "cli/progress_display.h"
#include "engine/scan_log_folder.h"
#include "platform/file.h"
#include "platform/volume_probe.h"
#include "scan/file_systems.h"
#include "storage/disk_list.h"
#include "storage/disk_table.h"
#include "storage/read_stop.h"
#include "storage/volume_space.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;

namespace dunmere::cli {

namespace {

// A file written as found whose own structure does not close.
const char kPartialText[] = "Partial: written as found, its structure does not close (it may be cut short)";

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// ---------------------------------------------------------------- sources

std::string KindText(const VolumeInfo& v) {
  switch (v.kind) {
    case EntryKind::kVolume: return "volume";
    case EntryKind::kUnallocated: return "unallocated";
    case EntryKind::kWholeDisk: return "disk";
  }
  return "volume";
}

// One entry of `sources --json`. A disk's entries also name their device,
// how full they are and where they are mounted; an image's are in 512-byte sectors.
std::string EntryJson(const VolumeInfo& v, const std::string& source, bool onDisk) {
  JsonObject o;
  o.Str("kind", KindText(v)).UNum("tag", v.letter);
  if (onDisk) o.StrOrNull("device", v.volumePath);
  o.Num("partition", v.partitionNumber)
      .UNum("fsType", v.fsType)
      .StrOrNull("fileSystem", v.fsName)
      .StrOrNull("olderFileSystem", v.olderFsName)
      .StrOrNull("label", v.label)
      .UNum("totalBytes", v.totalBytes);
  if (onDisk) o.UNum("usedBytes", v.usedBytes).UNum("freeBytes", v.freeBytes);
  o.UNum("startSector", v.startSector)
      .UNum("sectorCount", v.sectorCount)
      .UNum("bytesPerSector", onDisk ? v.bytesPerSector : 512);
  if (onDisk) o.StrOrNull("mountPoint", v.mountPoint);
  o.Str("source", source);
  return o.Text();
}

// "ext2", or "ext2 over NTFS" when an older file system lies under it.
std::string FileSystemText(const VolumeInfo& v) {
  std::string text = v.fsName.empty() ? std::string("unknown") : v.fsName;
  if (!v.olderFsName.empty()) text.append(" over ").append(v.olderFsName);
  return text;
}

std::string SourceArgument(const VolumeInfo& v) {
  if (v.kind == EntryKind::kVolume && !v.volumePath.empty() && v.partitionNumber >= 0) return v.volumePath;
  if (v.kind == EntryKind::kWholeDisk) return "disk:" + std::to_string(v.diskNumber);
  return "disk:" + std::to_string(v.diskNumber) + ":" + std::to_string(v.startSector) + ":" +
         std::to_string(v.sectorCount);
}

// SOURCE of an entry inside a whole-disk image.
std::string ImageSourceArgument(const std::string& image, const VolumeInfo& v) {
  if (v.kind == EntryKind::kVolume) return image + ":" + std::to_string(v.partitionNumber);
  return image + ":" + std::to_string(v.startSector) + ":" + std::to_string(v.sectorCount);
}

// The places to scan inside an image file, listed like a disk's.
int ImageSources(const std::string& image, bool json, CliContext& ctx) {
  std::error_code ec;
  const PathKind kind = PathKindOf(image, Links::kFollow, ec);
  if (kind != PathKind::kFile)
    return Usage(ctx, kind == PathKind::kNone ? "sources takes an image file; there is no " + image
                                              : "sources takes an image file; " + image + " is not one");
  const uint64_t length = fs::file_size(NativePath(image), ec);
  std::vector<VolumeInfo> entries = ListImageEntries(image);
  const bool bare = entries.empty();
  if (bare) {
    // One volume, or nothing known: the image is scanned whole.
    VolumeInfo v;
    v.partitionNumber = 0;
    v.sectorCount = length / 512;
    v.totalBytes = v.sectorCount * 512;
    // The file system as the engine factory will see it.
    std::vector<uint8_t> head(kDetectBytes, 0);
    std::ifstream in(NativePath(image), std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    const ByteView area(head.data(), size_t(std::max<std::streamsize>(in.gcount(), 0)));
    const FsKind fs = area.size() ? DetectFileSystem(area) : FsKind::kOther;
    if (fs != FsKind::kOther) v.fsName = FsKindName(fs);
    if (const FsKind under = area.size() ? FileSystemUnder(area) : FsKind::kOther; under != FsKind::kOther)
      v.olderFsName = FsKindName(under);
    SuperblockProbe probe;
    if (ProbeSuperblock(image, probe)) v.label = probe.label;
    entries.push_back(v);
  }
  uint16_t tag = 0;
  for (VolumeInfo& v : entries) v.letter = ++tag;
  auto sourceOf = [&](const VolumeInfo& v) { return bare ? image : ImageSourceArgument(image, v); };
  if (json) {
    std::string rows = "[";
    for (size_t i = 0; i < entries.size(); ++i) {
      rows += (i ? "," : "") + EntryJson(entries[i], sourceOf(entries[i]), false);
    }
    JsonObject d;
    d.Str("image", image).UNum("sizeBytes", length).Bool("partitioned", !bare).Raw("entries", rows + "]");
    ctx.out << JsonObject().Raw("disks", "[" + d.Text() + "]").Text() << "\n";
    return kExitOk;
  }
  ctx.out << "Image " << image << "  " << FormatSize(int64_t(length))
          << (bare ? "  no partition table" : "") << "\n";
  for (const VolumeInfo& v : entries) {
    ctx.out << "  [" << v.letter << "] ";
    if (v.kind == EntryKind::kUnallocated) {
      ctx.out << "unallocated space  " << FormatSize(int64_t(v.totalBytes));
    } else {
      ctx.out << (bare ? std::string("whole image") : "partition " + std::to_string(v.partitionNumber)) << "  "
              << FileSystemText(v);
      if (!v.label.empty()) ctx.out << "  " << Quoted(v.label);
      ctx.out << "  total " << FormatSize(int64_t(v.totalBytes));
    }
    ctx.out << "\n      start " << v.startSector << "  sectors " << v.sectorCount << "  source " << sourceOf(v)
            << "\n";
  }
  return kExitOk;
}

int CmdSources(const std::vector<std::string>& argv, CliContext& ctx) {
  Args a;
  std::string error;
  if (!ParseCommandArgs(argv, a, error)) return Usage(ctx, error);
  if (a.Has("--help")) return ShowCommandHelp(ctx, "sources");
  if (a.positional.size() > 1) return Usage(ctx, "sources takes at most one image file");
  if (a.positional.size() == 1) return ImageSources(a.positional[0], a.Has("--json"), ctx);
  DiskList list;
  if (!RebuildDiskList(list)) return Fail(ctx, "cannot read the disk list from /sys/block");
  std::vector<std::string> devices = DiskTable::Devices();
  if (a.Has("--json")) {
    std::string disks = "[";
    bool firstDisk = true;
    for (const auto& [disk, entries] : list) {
      uint64_t length = 0;
      (void)GetDiskLengthBytes(length, disk);
      std::string rows = "[";
      for (size_t i = 0; i < entries.size(); ++i) {
        rows += (i ? "," : "") + EntryJson(entries[i], SourceArgument(entries[i]), true);
      }
      rows += "]";
      JsonObject d;
      d.UNum("disk", disk)
          .Str("device", disk < devices.size() ? devices[disk] : "")
          .UNum("sizeBytes", length)
          .Bool("removable", IsRemovableDisk(disk))
          .Raw("entries", rows);
      disks += (firstDisk ? "" : ",") + d.Text();
      firstDisk = false;
    }
    ctx.out << JsonObject().Raw("disks", disks + "]").Text() << "\n";
    return kExitOk;
  }
  if (list.empty()) {
    ctx.out << "No disks found.\n";
    return kExitOk;
  }
  for (const auto& [disk, entries] : list) {
    uint64_t length = 0;
    (void)GetDiskLengthBytes(length, disk);
    ctx.out << "Disk " << disk << ": " << (disk < devices.size() ? devices[disk] : std::string("?")) << "  "
            << FormatSize(int64_t(length)) << (IsRemovableDisk(disk) ? "  removable" : "") << "\n";
    for (const VolumeInfo& v : entries) {
      ctx.out << "  [" << v.letter << "] ";
      if (v.kind == EntryKind::kUnallocated) {
        ctx.out << "unallocated space  " << FormatSize(int64_t(v.totalBytes));
      } else if (v.kind == EntryKind::kWholeDisk) {
        ctx.out << "whole disk, no recognised volume  " << FormatSize(int64_t(v.totalBytes));
      } else {
        ctx.out << (v.volumePath.empty() ? "partition " + std::to_string(v.partitionNumber) : v.volumePath) << "  "
                << FileSystemText(v);
        if (!v.label.empty()) ctx.out << "  " << Quoted(v.label);
        ctx.out << "  total " << FormatSize(int64_t(v.totalBytes));
        if (!v.mountPoint.empty())
          ctx.out << "  used " << FormatSize(int64_t(v.usedBytes)) << "  free " << FormatSize(int64_t(v.freeBytes))
                  << "  mounted at " << v.mountPoint;
      }
      ctx.out << "\n      start " << v.startSector << "  sectors " << v.sectorCount << "  source "
              << SourceArgument(v) << "\n";
    }
  }
  return kExitOk;
}

// ---------------------------------------------------------------- scan

struct ScanOutcome {
  SourceSpec source;
  OpenedEngine opened;
  // Held until the command ends, so no other scan reuses the scan folder
  // while its files are still being read.
  std::unique_ptr<ScanFolderLock> lock;
  std::vector<FoundEntry> files, folders;
  bool stopped = false;
  uint64_t unreadable = 0;  // sectors the scan went on past
};

// Resolves, opens and scans; returns an exit status, or -1 to go on.
// listWhenStopped false: a stopped scan ends the command (130) at once,
// without gathering what was found.
int ScanSource(CliContext& ctx, const std::string& sourceText, bool deep, bool fresh, const TypeFilter& filter,
               ScanOutcome& result, bool wantFolders, bool listWhenStopped = true) {
  std::string error;
  if (ctx.resolveSource(sourceText, result.source, error)) return Fail(ctx, error);
  // Ctrl-C also ends a read that has not started yet: a medium whose reads
  // stall stops after the one in flight, not at the engine's next report.
  ReadStopScope readStop([&ctx] { return Stopped(ctx); });
  if (ctx.openEngine(result.source, deep, result.opened, error)) {
    if (Stopped(ctx)) {
      ctx.err << "dunmere-cli: stopped before the scan began\n";
      return kExitStopped;
    }
    return Fail(ctx, error);
  }
  if (!deep && result.opened.under != FsKind::kOther)
    ctx.err << "dunmere-cli: " << sourceText << " holds " << FsKindName(result.opened.kind) << " over an older "
            << FsKindName(result.opened.under) << "; this scan reads " << FsKindName(result.opened.kind)
            << ", scan --deep also gives back the files of the " << FsKindName(result.opened.under) << "\n";
  if (deep && SettleResume(*result.opened.engine, fresh))
    ctx.err << "dunmere-cli: resuming the earlier deep scan of " << sourceText << " (--fresh starts over)\n";
  else if (deep && result.opened.engine->EarlierScanWasOfAnotherMedium())
    ctx.err << "dunmere-cli: the earlier deep scan of " << sourceText
            << " was of another medium (another card or disk of the same size); scanning this one afresh\n";
  result.lock = std::make_unique<ScanFolderLock>(
      [&] { ctx.err << "dunmere-cli: waiting for another scan to finish...\n"; });
  ProgressDisplay display(ctx.err, ctx.errIsTerminal, "scanning");
  Status s = RunScan(*result.opened.engine, [&](const ScanProgress& p) -> int {
    if (ctx.onScanProgress) ctx.onScanProgress(p);
    if (Stopped(ctx)) return kStopRequested;
    display.Update(p.percent, p.done, p.total, p.found, p.secondsLeft);
    return 0;
  });
  display.Finish();
  result.unreadable = UnreadableAfterScan(*result.opened.engine);
  if (result.unreadable)
    ctx.err << "dunmere-cli: " << result.unreadable << (result.unreadable == 1 ? " sector" : " sectors")
            << " of " << sourceText << " could not be read; the scan went on past "
            << (result.unreadable == 1 ? "it" : "them") << " (files stored there may be missing or incomplete)\n";
  if (!deep && s != kStopRequested && result.opened.engine->LeftMoreForDeepScan())
    ctx.err << "dunmere-cli: the quick scan of " << sourceText
            << " looked for lost folders in part of its free space only; scan --deep may find more\n";
  // A Ctrl-C that came after the engine's last question still stops the
  // command: what was found is shown and the exit status says so.
  // A scan that failed after a Ctrl-C failed because of it (its reads were
  // refused): it stopped.
  if (s == kStopRequested || Stopped(ctx)) {
    result.stopped = true;
    if (!listWhenStopped) {
      ctx.err << "dunmere-cli: scan stopped; nothing was recovered\n";
      return kExitStopped;
    }
    ctx.err << "dunmere-cli: scan stopped; showing what was found so far\n";
  } else if (s) {
    return Fail(ctx, "scan of " + sourceText + " failed: " + StatusMessage(s));
  }
  // A Ctrl-C that comes while the found items are gathered ends the command
  // there (one during the scan has them gathered and shown).
  const bool stoppedInScan = result.stopped;
  Status c = CollectFoundItems(*result.opened.engine, filter, result.files, wantFolders ? &result.folders : nullptr,
                               [&] { return !stoppedInScan && Stopped(ctx); });
  if (c == kStopRequested) {
    result.stopped = true;
    result.files.clear();
    result.folders.clear();
    ctx.err << "dunmere-cli: stopped before the found items were listed\n";
    return kExitStopped;
  }
  if (c)
    ctx.err << "dunmere-cli: part of the folder tree could not be read (" << StatusMessage(c)
            << "); files there are listed without their folders\n";
  return -1;
}

std::string FullPath(const FoundEntry& e) { return e.folderPath + e.Name(); }

std::string ItemJson(const FoundEntry& e) {
  JsonObject o;
  std::string name = e.Name();
  o.Str("name", name)
      .Str("folder", e.folderPath)
      .UNum("size", e.record.size)
      .StrOrNull("created", FormatIso8601(e.record.created))
      .StrOrNull("modified", FormatIso8601(e.record.modified))
      .StrOrNull("accessed", FormatIso8601(e.record.accessed));
  if (e.IsFolder())
    o.Raw("category", "null").Raw("group", "null");
  else
    o.Str("category", CategoryOfName(name)).Str("group", GroupNameOfName(name));
  o.Bool("isFolder", e.IsFolder())
      .Bool("contentOk", e.record.contentOk != kContentMismatch)
      .Bool("partial", e.record.contentOk == kContentPartial)
      .Str("engine", EngineName(e.record.sourceKind));
  return o.Text();
}

// `cut` is asked before each line; true ends the listing there.
void PrintGrouped(CliContext& ctx, const std::vector<FoundEntry>& files, const std::function<bool()>& cut) {
  // category -> group -> entries
  std::map<int, std::map<std::string, std::vector<const FoundEntry*>>> groups;
  for (const FoundEntry& e : files) groups[int(CategoryOfNameKind(e.Name()))][GroupNameOfName(e.Name())].push_back(&e);
  for (auto& [cat, byGroup] : groups) {
    size_t n = 0;
    for (auto& [g, v] : byGroup) n += v.size();
    ctx.out << CategoryName(Category(cat)) << " (" << n << (n == 1 ? " file)\n" : " files)\n");
    for (auto& [group, v] : byGroup) {
      if (cut()) return;
      // Each path is built once, not again in every comparison of the sort.
      std::vector<std::pair<std::string, const FoundEntry*>> sorted;
      sorted.reserve(v.size());
      for (const FoundEntry* e : v) sorted.emplace_back(FullPath(*e), e);
      std::sort(sorted.begin(), sorted.end(),
                [](const auto& a, const auto& b) { return a.first < b.first; });
      ctx.out << "  " << group << " (" << v.size() << ")\n";
      for (const auto& [path, e] : sorted) {
        if (cut()) return;
        ctx.out << "    " << path << "  " << FormatSize(int64_t(e->record.size)) << "  created "
                << FormatFileTime(e->record.created) << "  modified " << FormatFileTime(e->record.modified)
                << "  accessed " << FormatFileTime(e->record.accessed);
        if (e->record.contentOk == kContentMismatch) ctx.out << "  [content check failed]";
        if (e->record.contentOk == kContentPartial) ctx.out << "  [partial]";
        ctx.out << "\n";
      }
    }
  }
}

bool ParseCommonFilter(CliContext& ctx, const Args& a, TypeFilter& filter, int& exitCode) {
  std::string error;
  if (!ParseTypeFilter(a.Value("--types"), a.Value("--category"), filter, error)) {
    exitCode = Usage(ctx, error);
    return false;
  }
  return true;
}

int CmdScan(const std::vector<std::string>& argv, CliContext& ctx) {
  Args a;
  std::string error;
  if (!ParseCommandArgs(argv, a, error)) return Usage(ctx, error);
  if (a.Has("--help")) return ShowCommandHelp(ctx, "scan");
  if (a.positional.size() != 1) return Usage(ctx, "scan needs exactly one SOURCE");
  TypeFilter filter;
  int code = 0;
  if (!ParseCommonFilter(ctx, a, filter, code)) return code;
  ScanOutcome r;
  if (int rc = ScanSource(ctx, a.positional[0], a.Has("--deep"), a.Has("--fresh"), filter, r, true); rc >= 0) return rc;
  // A Ctrl-C during the scan shows what was found; one that comes while the
  // found items are listed cuts the listing short (a second one ends the
  // program at once either way).
  auto cut = [&] {
    if (r.stopped || !Stopped(ctx)) return false;
    r.stopped = true;
    ctx.err << "dunmere-cli: stopped; the listing is cut short\n";
    return true;
  };
  if (cut()) return kExitStopped;
  if (a.Has("--json")) {
    for (const FoundEntry& e : r.files) {
      if (cut()) return kExitStopped;
      ctx.out << ItemJson(e) << "\n";
    }
    for (const FoundEntry& e : r.folders) {
      if (cut()) return kExitStopped;
      ctx.out << ItemJson(e) << "\n";
    }
  } else {
    const bool stoppedBefore = r.stopped;
    PrintGrouped(ctx, r.files, cut);
    if (r.stopped && !stoppedBefore) return kExitStopped;
    ctx.out << r.files.size() << (r.files.size() == 1 ? " file" : " files") << " found, " << r.folders.size()
            << (r.folders.size() == 1 ? " folder" : " folders");
    if (r.unreadable) ctx.out << ", " << r.unreadable << " unreadable " << (r.unreadable == 1 ? "sector" : "sectors");
    ctx.out << "; scan log in "
            << ScanLogFolder::Instance().CurrentScanFolder() << "\n";
  }
  return r.stopped ? kExitStopped : kExitOk;
}

// ---------------------------------------------------------------- recover

std::string NormalizeItemPath(std::string p) {
  while (!p.empty() && p.front() == '/') p.erase(p.begin());
  while (!p.empty() && p.back() == '/') p.pop_back();
  return p;
}

int CmdRecover(const std::vector<std::string>& argv, CliContext& ctx) {
  Args a;
  std::string error;
  if (!ParseCommandArgs(argv, a, error)) return Usage(ctx, error);
  if (a.Has("--help")) return ShowCommandHelp(ctx, "recover");
  if (a.positional.size() != 1) return Usage(ctx, "recover needs exactly one SOURCE");
  if (!a.HasValue("--to") || a.Value("--to").empty())
    return Usage(ctx, "recover needs a destination: --to DIR");
  Layout layout = Layout::kCategory;
  if (a.HasValue("--layout")) {
    std::string l = a.Value("--layout");
    if (l == "tree")
      layout = Layout::kTree;
    else if (l != "category")
      return Usage(ctx, "--layout is 'category' or 'tree'");
  }
  TypeFilter filter;
  int code = 0;
  if (!ParseCommonFilter(ctx, a, filter, code)) return code;
  const std::string sourceText = a.positional[0];
  const std::string dest = StripTrailingSeparator(ProgramPath(a.Value("--to")));
  bool force = a.Has("--force");

  // The destination is checked before the scan, so a wrong one costs nothing.
  SourceSpec probe;
  if (ctx.resolveSource(sourceText, probe, error)) return Fail(ctx, error);
  if (!force && DestinationOnSource(dest, IdentityPath(probe)))
    return Fail(ctx, "destination " + dest + " is on the device being scanned (" + sourceText +
                         "); writing there can overwrite the deleted files. Choose another drive or pass --force");
  std::error_code ec;
  fs::create_directories(NativePath(dest), ec);
  if (!fs::is_directory(NativePath(dest)) || !CanWriteInto(dest))
    return Fail(ctx, "destination not writable: " + dest + (ec ? " (" + ec.message() + ")" : std::string()));

  ScanOutcome r;
  std::vector<std::string> itemPaths;
  if (a.HasValue("--item"))
    for (const std::string& p : a.values.at("--item")) itemPaths.push_back(NormalizeItemPath(p));
  if (int rc = ScanSource(ctx, sourceText, a.Has("--deep"), a.Has("--fresh"), filter, r, !itemPaths.empty(), false);
      rc >= 0)
    return rc;
  if (r.stopped) return kExitStopped;

  std::vector<FoundEntry> items;
  if (itemPaths.empty()) {
    items = r.files;
  } else {
    for (const std::string& want : itemPaths) {
      size_t before = items.size();
      for (const FoundEntry& e : r.folders)
        if (NormalizeItemPath(FullPath(e)) == want) items.push_back(e);
      for (const FoundEntry& e : r.files)
        if (NormalizeItemPath(FullPath(e)) == want) items.push_back(e);
      if (items.size() == before) return Fail(ctx, "nothing found at " + Quoted(want) + " (see dunmere-cli scan)");
    }
  }
  if (items.empty()) {
    ctx.out << "No matching files found; nothing to recover.\n";
    return kExitOk;
  }
  uint64_t need = 0;
  for (const FoundEntry& e : items)
    if (!e.IsFolder()) need += e.record.size;
  uint64_t freeBytes = 0;
  if (!force && GetVolumeFreeBytes(dest, freeBytes) == kOk && freeBytes < need)
    return Fail(ctx, "destination full: " + dest + " has " + FormatSize(int64_t(freeBytes)) + " free, the files need " +
                         FormatSize(int64_t(need)) + " (--force copies what fits)");

  bool destinationFull = false;
  bool json = a.Has("--json");
  // A line per file, handed on in blocks: a flush per file cost a write per
  // file. Failures and partial files go out at once, so a watcher sees trouble
  // when it happens.
  uint32_t unflushed = 0;
  RecoverSummary sum = RecoverFound(
      *r.opened.engine, items, dest, layout, [&] { return Stopped(ctx) || destinationFull; },
      [&](const RecoverOutcome& o) {
        if (o.status == kDiskFull) destinationFull = true;
        const std::string status = o.partial ? kPartialText : StatusMessage(o.status);
        if (json) {
          JsonObject row;
          row.Str("path", o.path).Bool("ok", o.status == kOk).Bool("partial", o.partial).Str("status", status);
          // The name on the medium, where the destination refused it as it was.
          if (!o.originalName.empty()) row.Str("originalName", o.originalName);
          ctx.out << row.Text() << "\n";
        } else {
          ctx.out << o.path << ": " << status;
          if (!o.originalName.empty()) ctx.out << " (named " << Quoted(o.originalName) << " on the medium)";
          ctx.out << "\n";
        }
        if (o.status != kOk || o.partial || ++unflushed >= 256) {
          ctx.out.flush();
          unflushed = 0;
        }
      });
  ctx.out.flush();
  if (!json)
    ctx.out << "processed " << sum.processed << ", succeeded " << sum.succeeded()
            << (sum.partial ? " (" + std::to_string(sum.partial) + " partial)" : std::string()) << ", failed "
            << sum.failed << "; recovered into " << dest << "\n";
  if (destinationFull) return Fail(ctx, "destination full: " + dest + "; recovery stopped");
  if (sum.stopped) {
    ctx.err << "dunmere-cli: recovery stopped\n";
    return kExitStopped;
  }
  return sum.failed ? kExitFailure : kExitOk;
}

// ---------------------------------------------------------------- image

}  // namespace

int RunCli(const std::vector<std::string>& args, CliContext& ctx) {
  const app::ProgramHelp& help = app::CommandLineHelp();
  if (args.empty()) {
    ctx.err << app::HelpText(help);
    return kExitUsage;
  }
  const std::string& cmd = args[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    if (cmd == "help" && args.size() > 1) return RunCli({args[1], "--help"}, ctx);
    ctx.out << app::HelpText(help);
    return kExitOk;
  }
  if (cmd == "--version") {
    ctx.out << app::VersionText(help);
    return kExitOk;
  }
  if (cmd == "sources") return CmdSources(args, ctx);
  if (cmd == "scan") return CmdScan(args, ctx);
  if (cmd == "recover") return CmdRecover(args, ctx);
  if (cmd == "image") return CmdImage(args, ctx);
  ctx.err << "dunmere-cli: unknown command '" << cmd << "'\n" << app::HelpText(help);
  return kExitUsage;
}

}  // namespace dunmere::cli
