#pragma once
// The program's one top-level window. Four pages lead the user through a
// recovery: choose a mode, choose a location (a volume, a disk or an image
// file), choose the file types, then browse, check and copy out what was
// found. The window owns the sources and their engines, opens the scan and
// search windows, and keeps the location list in step with the devices
// plugged in and out.
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/sessions/scan_job.h"
#include "app/gui/create_image.h"
#include "engine/found_item.h"
#include "engine/scan_engine.h"
#include "platform/device_monitor.h"
#include "storage/disk_list.h"
#include "ui/window_base.h"

namespace dunmere::ui {
class DiskList;
}

namespace dunmere::gui {

class PreviewController;
class ResultView;
class DiskRows;
class FileTypePage;

// Messages the window takes (besides those of its toolkit).
inline constexpr int kMsgScanFinished = 1025;
inline constexpr int kMsgSearchFinished = 1026;
inline constexpr int kMsgPreviewRequest = 1027;
inline constexpr int kMsgLanguageChanged = 1030;
// From the device monitor's thread: wParam 1 arrival, 2 removal, 3 change.
inline constexpr int kMsgDeviceChange = 1040;

class MainWnd : public ui::WindowImplBase {
  Q_OBJECT
 public:
  struct Options {
    EnumerationRoots roots;  // where the disks are looked up
    // Makes the device monitor; none keeps the list as it is at start-up.
    std::function<std::unique_ptr<IDeviceMonitor>()> monitor = [] { return CreateBlockDeviceMonitor(); };
    int deviceSettleMs = 5000;  // a burst of device events is handled once, this long after the last
    bool quitOnClose = false;   // closing the window ends the program's event loop
  };
  enum Page { kPageMode = 0, kPageLocation = 1, kPageFileType = 2, kPageResults = 3 };
  static constexpr char kTitle[] = "Korvanex Dunmere Pro";

  MainWnd();
  explicit MainWnd(Options options);
  ~MainWnd() override;

  QString ClassName() const override { return QStringLiteral("FileRecoveryWnd"); }
  QString SkinFile() const override { return QStringLiteral("xml/skin.xml"); }

  // Adds image files as "ImageFile" rows (command line, a later start);
  // returns the rows added. Files that are not there are left out.
  std::vector<int> AddImageFiles(const QStringList& paths);
  // The same for images the person named (on the command line, to a later
  // start): the last one named becomes the chosen location.
  void ChooseImageFiles(const QStringList& paths);
  // What the Load Image dialog offers: the names raw images are given, and all files.
  static QString ImageFileFilter();
  // Opens larger than the layout's size where the screen has room, so the
  // results list shows whole names and paths (never beyond 1400 x 900).
  void GrowToScreen();
  static QSize OpeningSize(QSize layout, QSize available);
  // Raises the window over the others (a later start asked for it).
  void BringToFront();
  // What "BtnLoadImage" asks for the file; tests answer in place of the dialog.
  void SetImageChooser(std::function<QString(QWidget*)> chooser) { chooseImage_ = std::move(chooser); }
  // What "BtnRecover" asks for the destination folder; tests answer in place
  // of the dialog. The folder last chosen.
  void SetRecoveryFolderChooser(std::function<QString(QWidget*)> chooser) { chooseRecoveryFolder_ = std::move(chooser); }
  const std::string& RecoveryFolder() const { return recoveryFolder_; }

  // Device events wait for the settle time before the list is refreshed;
  // whether some wait now, and handling them at once (tests: no race with
  // the timer).
  bool DeviceEventsPending() const;
  void SettleDeviceEventsNow();

  // Makes the engines of the scan window in place of the factory (tests:
  // a scan held at a known point).
  void SetScanEngineOpener(EngineOpener opener) { scanEngineOpener_ = std::move(opener); }

  // What "BtnCreateImage" asks the system; tests answer in its place.
  void SetImageCommandHooks(ImageCommandHooks hooks) { imageHooks_ = std::move(hooks); }
  // After a disk image was made: deep-scan mode with the image added and
  // selected, ready for a scan, as after a click on "BtnDeepRecovery".
  void ScanNewImage(const QString& path);

  // State, for the scan and image windows and for tests.
  int DeepScan() const { return deep_; }
  int ImageMode() const { return imageMode_; }
  int CurrentPageIndex() const;
  bool Scanning() const { return scanning_; }
  DiskRows& Disks() { return *disks_; }
  FileTypePage& FileTypes() { return *fileTypes_; }
  ResultView& Results() { return *results_; }
  PreviewController& Preview() { return *preview_; }
  // The engine that found a record (through its source's tag), or null.
  ScanEngine* EngineOf(const FoundItemRecord& record) const;
  ui::DiskList* DiskList() const;

  void Notify(const ui::Notification& n) override;

 protected:
  void InitWindow() override;
  bool HandleMessage(int message, quintptr wParam, quintptr lParam) override;
  void OnFinalMessage() override;
  // Closing while a scan, search, copy-out or imaging runs asks first; on yes
  // the work is stopped and the window closes once it has ended.
  void OnCloseRequest() override;

 private:
  void OnWindowInit();
  void OnClick(const QString& name);
  void ChooseMode(int deep, int image, bool keepDeep);
  void ShowPage(int page);
  // A page title with the chosen mode in front.
  QString WithMode(const QString& title) const;
  void ApplyTexts();
  void OnDiskSelected(int row);
  // Selects the location the person chose last, if it is still listed and
  // shown; otherwise nothing, with a word that a location is to be chosen.
  void SelectChosenRow();
  void ShowNoLocation();
  // Whether the row's image (or disk) group holds a disk's partitions: an
  // image file of one volume has a row without partition facts.
  bool HoldsDisk(int row) const;
  // Selects `row` as the person's choice.
  void Choose(int row);
  void StartScan();
  void OnScanFinished();
  void OnSearchFinished();
  void OnDeviceTimer(int id);
  void RefreshDisks(int kind);
  void OnDeviceEvent(int kind);
  void LoadImage();
  void ShowAssistMenu();
  void RecoverChecked();
  void DropPreviousScan();
  QString SourceCaption(uint16_t tag) const;

  Options options_;
  std::unique_ptr<DiskRows> disks_;
  std::unique_ptr<FileTypePage> fileTypes_;
  std::unique_ptr<ResultView> results_;
  std::unique_ptr<PreviewController> preview_;
  std::unique_ptr<IDeviceMonitor> monitor_;
  std::function<QString(QWidget*)> chooseImage_;
  std::function<QString(QWidget*)> chooseRecoveryFolder_;
  std::string recoveryFolder_;
  ImageCommandHooks imageHooks_;
  EngineOpener scanEngineOpener_;

  QString modeButton_;  // the mode button clicked last
  QString modeHint_;    // the message id the mode page's hint shows
  int deep_ = 0;
  int imageMode_ = 0;
  int page_ = kPageMode;
  bool locationChosen_ = false;
  // The chosen row as it is found again after the list changed: the tag of
  // its first source and whether it was its disk's header.
  int chosenTag_ = -1;
  bool chosenHeader_ = false;
  bool scanning_ = false;
  bool searching_ = false;
  bool scanFromFileTypes_ = false;
  bool scanFinishedPending_ = false;
  bool searchFinishedPending_ = false;
  bool removalPending_ = false;
  bool exitAfterWork_ = false;
  // The last scan: its sources (by tag, their rows may have gone since),
  // its mode and, after a quick scan, the log folders it made.
  std::vector<uint16_t> lastTags_;
  int lastDeep_ = 0;
  bool lastMoreForDeep_ = false;  // the last quick scan left part of its look to a deep scan
  std::vector<std::string> lastLogPaths_;
  std::vector<FoundItemRecord> searchResults_;
};

}  // namespace dunmere::gui
