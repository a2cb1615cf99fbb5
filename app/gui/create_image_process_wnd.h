#pragma once
// The disk image window: one worker copies the source sector by sector into
// the image file, the window shows progress, time left and sectors, and asks
// before cancelling. At the first unreadable sector it asks whether to go on
// with zeros there (listed in a map file beside the image).
//
// A raw image has no header, so a cut-off one cannot be told from a whole
// one: the copy is written to "<image>.part" and renamed to the chosen name
// only once every sector is in it; a cancelled or failed copy is deleted.
// Modal result: 1 done, 2 cancelled, 3 failed.
#include <QString>
#include <cstdint>
#include <string>

#include "app/core/imaging/imaging_job.h"
#include "app/gui/progress_wnd.h"

namespace dunmere::gui {

class CreateImageProcessWnd : public ProgressWnd {
  Q_OBJECT
 public:
  CreateImageProcessWnd();
  ~CreateImageProcessWnd() override;  // joins the worker
  QString ClassName() const override { return QStringLiteral("UICreateImageProcessWnd"); }

  // What to copy (sourcePath or reader, range, sector size); the image path
  // is the file the user chose.
  void SetJob(ImagingJob job);

  // After the window closed.
  Status CopyStatus() const { return status_; }
  const ImagingJob& Job() const { return job_; }
  const std::string& ImagePath() const { return imagePath_; }
  std::string MapPath() const { return imagePath_ + ".map"; }
  std::string PartPath() const { return imagePath_ + ".part"; }
  // The image is complete but its map of zero-filled sectors is missing.
  bool MapFailed() const { return mapFailed_; }

  // "Progress: 42%", "Time left: 00:01:05", "Sectors: 1200 / 4096".
  struct ProgressTexts {
    QString percent, time, sectors;
    int value = 0;
  };
  static ProgressTexts TextsFor(int percent, int64_t secondsLeft, uint64_t done, uint64_t total);

 protected:
  const char* ExitQuestionId() const override { return "MSG0307"; }
  void OnWindowInit() override;
  void DrawProgress(const ScanProgress& p) override;
  void WorkerEnded() override;

 private:
  static int OnProgress(void* user, int percent, uint64_t done, uint64_t total, int64_t secondsLeft);

  ImagingJob job_;
  std::string imagePath_;
  Status status_ = kOk;
  bool mapFailed_ = false;
};

}  // namespace dunmere::gui
