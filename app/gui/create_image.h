#pragma once
// "BtnCreateImage": the main window's disk image command. Takes the selected
// partition (or, on a disk header row, the whole disk; the same within a
// loaded whole-disk image file), asks where to save the
// image, refuses destinations that cannot hold it, runs the image window and
// then offers to scan the new image.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "app/core/imaging/imaging_job.h"

namespace dunmere {
struct VolumeInfo;
}

namespace dunmere::gui {

class MainWnd;

// What the command asks the system; tests answer in its place.
struct ImageCommandHooks {
  // The save dialog; empty result: the user cancelled.
  std::function<QString(QWidget* owner, const QString& suggestedName)> chooseSave;
  // The facts of a destination (file system, free space, on the source).
  std::function<DestinationFacts(const std::string& image, const std::string& source)> facts;
};

// "sdb1 USB", "sdb": the name the save dialog proposes.
QString SuggestedImageFileName(const VolumeInfo& v, const std::string& diskDevice);
// "card-5 DATA", "card-copy": the name proposed for an image of a partition,
// or all, of the whole-disk image file imagePath.
QString SuggestedImageCopyName(const VolumeInfo& v, const std::string& imagePath);
// The message id of a refused destination ("MSG0218" ...); null when it passes.
const char* ImageCheckMessageId(ImageCheck check);

void CreateImageFromSelection(MainWnd& mainWindow, const ImageCommandHooks& hooks = {});

}  // namespace dunmere::gui
