#include <filesystem>

#include "app/core/imaging/imaging_job.h"
#include "app/core/results/text_formats.h"
#include "cli/command_support.h"
#include "cli/progress_display.h"
#include "platform/file.h"

// dunmere-cli image: a source copied sector by sector into an image file.
namespace dunmere::cli {

namespace fs = std::filesystem;

namespace {

struct ImageCallbackData {
  CliContext* ctx;
  ProgressDisplay* display;
};

int ImageProgress(void* user, int percent, uint64_t done, uint64_t total, int64_t secondsLeft) {
  auto* d = static_cast<ImageCallbackData*>(user);
  if (Stopped(*d->ctx)) return kStopRequested;
  d->display->Update(percent, done, total, 0, secondsLeft);
  return 0;
}

}  // namespace

int CmdImage(const std::vector<std::string>& argv, CliContext& ctx) {
  Args a;
  std::string error;
  if (!ParseCommandArgs(argv, a, error)) return Usage(ctx, error);
  if (a.Has("--help")) return ShowCommandHelp(ctx, "image");
  if (a.positional.size() != 2) return Usage(ctx, "image needs SOURCE and OUT.img");
  const std::string sourceText = a.positional[0], out = a.positional[1];
  SourceSpec src;
  if (ctx.resolveSource(sourceText, src, error)) return Fail(ctx, error);
  ImagingJob job;
  if (src.kind == SourceSpec::Kind::kDiskRange) {
    job.diskIndex = src.diskIndex;
    job.firstSector = src.start;
    job.sectorCount = src.count;
    job.sectorSize = src.bytesPerSector;
  } else {
    job.sourcePath = src.path;
    if (src.kind == SourceSpec::Kind::kFileRange) {
      // A partition of a whole-disk image.
      job.firstSector = src.start;
      job.sectorCount = src.count;
      job.sectorSize = 512;
    }
  }
  job.imagePath = out;
  job.continueOnErrors = a.Has("--continue-on-errors");
  job.mapPath = a.Value("--map");
  uint64_t bytes = 0;
  if (Status s = ImageSourceBytes(job, bytes)) return Fail(ctx, "cannot read " + sourceText + ": " + StatusMessage(s));
  if (SameFile(out, src.path) || SameFile(out, sourceText)) return Fail(ctx, out + " is the source itself");
  if (fs::is_directory(out)) return Fail(ctx, out + " is a folder; give the image file's name");
  fs::path outFolder = fs::absolute(out).parent_path();
  if (!fs::is_directory(outFolder)) return Fail(ctx, "the folder " + outFolder.string() + " does not exist");
  ImageCheck check = CheckImageDestinationPath(out, IdentityPath(src), bytes);
  if (check == ImageCheck::kOnSource && a.Has("--force")) check = ImageCheck::kOk;
  if (check != ImageCheck::kOk)
    return Fail(ctx, "cannot image " + sourceText + " (" + FormatSize(int64_t(bytes)) + ") to " + out + ": " +
                         ImageCheckMessage(check) + (check == ImageCheck::kOnSource ? " (--force allows it)" : ""));
  ProgressDisplay display(ctx.err, ctx.errIsTerminal, "imaging");
  ImageCallbackData data{&ctx, &display};
  job.progress = &ImageProgress;
  job.user = &data;
  Status s = CopySourceToImage(job);
  display.Finish();
  std::string mapPath = job.mapPath.empty() ? out + ".map" : job.mapPath;
  if (s == kStopRequested) {
    ctx.err << "dunmere-cli: imaging stopped; the partial image (" << FormatSize(int64_t(job.bytesWritten))
            << ") is kept in " << out << "\n";
    return kExitStopped;
  }
  if (s == kReadFault)
    return Fail(ctx, "unreadable sector at byte " + std::to_string(job.bytesWritten) + " of " + sourceText +
                         "; the partial image is kept in " + out + " (--continue-on-errors goes on past such sectors)");
  if (s && job.mapWanted && job.mapStatus && s == job.mapStatus && job.bytesWritten)
    return Fail(ctx, "image written to " + out + ", but the map of its unreadable sectors could not be written to " +
                         mapPath + ": " + StatusMessage(s) + "; the zero-filled sectors are not recorded");
  if (s) return Fail(ctx, "imaging to " + out + " failed: " + StatusMessage(s));
  ctx.out << "image written: " << out << " (" << FormatSize(int64_t(job.bytesWritten)) << ", " << job.bytesWritten
          << " bytes)\n";
  if (job.continueOnErrors) {
    uint64_t bad = 0;
    for (const BadRange& b : job.badRanges) bad += b.length;
    if (job.badRanges.empty())
      ctx.out << "no unreadable sectors; map: " << mapPath << "\n";
    else
      ctx.out << job.badRanges.size() << " unreadable range(s), " << bad << " bytes filled with zeros; map: " << mapPath
              << "\n";
  }
  return kExitOk;
}

}  // namespace dunmere::cli
