#include "app/gui/main_wnd.h"
#include "scan/file_systems.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <QApplication>
#include <QFontMetrics>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <filesystem>

#include "app/core/language/language_table.h"
#include "app/core/results/text_formats.h"
#include "app/core/language/usage_marker.h"
#include "app/gui/apply_section.h"
#include "app/gui/assist_menu.h"
#include "app/gui/disk_rows.h"
#include "app/gui/file_type_page.h"
#include "app/gui/help_wnd.h"
#include "app/gui/message_box.h"
#include "app/gui/preview_controller.h"
#include "app/gui/progress_wnd.h"
#include "app/gui/recover_process_wnd.h"
#include "app/gui/result_view.h"
#include "app/gui/scan_process_wnd.h"
#include "app/gui/search_process_wnd.h"
#include "engine/scan_log_folder.h"
#include "platform/data_folder.h"
#include "ui/disk_list.h"

namespace dunmere::gui {
namespace {

// Fills "%s" and "%d" placeholders in order ("%%" is a percent sign).
QString FormatText(const QString& format, const QStringList& args) {
  QString out;
  int next = 0;
  for (int i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      const QChar c = format[i + 1];
      if (c == u'%') {
        out += u'%';
        ++i;
        continue;
      }
      if (c == u's' || c == u'd') {
        out += args.value(next++);
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

QString Size(uint64_t bytes) { return QString::fromStdString(FormatSize(int64_t(bytes))); }

const char* const kModeHints[][2] = {{"BtnDeletedRecovery", "MSG0101"},
                                     {"BtnFormattedRecovery", "MSG0102"},
                                     {"BtnDeepRecovery", "MSG0103"},
                                     {"BtnCreateImageMode", "MSG0104"}};

}  // namespace

MainWnd::MainWnd() : MainWnd(Options{}) {}

MainWnd::MainWnd(Options options) : options_(std::move(options)) {
  // The layout draws its own title bar and buttons.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setWindowTitle(QString::fromLatin1(kTitle));
}

MainWnd::~MainWnd() {
  // No device event may arrive at a window that is going away.
  if (monitor_) monitor_->Stop();
  preview_.reset();
  results_.reset();
  disks_.reset();
}

ScanEngine* MainWnd::EngineOf(const FoundItemRecord& record) const {
  // The records carry the tag of the source whose engine found them.
  for (ScanSourceItem* item : disks_->AllItems())
    if (item->tag == record.sourceTag && item->engine) return item->engine.get();
  return nullptr;
}

ui::DiskList* MainWnd::DiskList() const { return Find<ui::DiskList>(QStringLiteral("DiskList")); }

int MainWnd::CurrentPageIndex() const { return CurrentPage(QStringLiteral("TabPage")); }

void MainWnd::InitWindow() {
  disks_ = std::make_unique<DiskRows>(DiskList());
  disks_->SetRoots(options_.roots);
  fileTypes_ = std::make_unique<FileTypePage>(*this);
  results_ = std::make_unique<ResultView>(*this);
  results_->SetFolderSource([this](const FoundItemRecord& r, std::string& folder) {
    ScanEngine* engine = KindHasFolders(r.sourceKind) ? EngineOf(r) : nullptr;
    return engine && engine->GetFolderPath(&r, folder) == kOk;
  });
  results_->SetSourceNames([this](uint16_t tag) { return SourceCaption(tag); });
  preview_ = std::make_unique<PreviewController>(
      *this, [this](const FoundItemRecord& r) { return EngineOf(r); },
      [this] {
        std::vector<FoundItemRecord> rows;
        for (int i = 0; i < results_->ListedRowCount(); ++i) rows.push_back(*results_->ListedRecord(i));
        return rows;
      });
  results_->SetPreviewHandler([this](const FoundItemRecord& r) { preview_->PreviewSelected(r); });
  // "Recover" in the preview window copies out that one file.
  preview_->SetRecover([this](QWidget* owner, const FoundItemRecord& r) {
    StartSingleRecovery(owner, disks_->AllItems(), r, chooseRecoveryFolder_, &recoveryFolder_);
  });
  SetVisible(QStringLiteral("restorebtn"), false);
  SetVisible(QStringLiteral("BtnNext"), false);
}

void MainWnd::OnWindowInit() {
  if (options_.monitor) {
    monitor_ = options_.monitor();
    // The callback runs on the monitor's thread; the window only ever sees
    // posted messages. The destructor stops the monitor first.
    if (monitor_ && !monitor_->Start([this](const DeviceEvent& e) {
          const int kind = e.action == DeviceEvent::Action::kAdded     ? 1
                           : e.action == DeviceEvent::Action::kRemoved ? 2
                                                                        : 3;
          ui::PostMessageTo(this, kMsgDeviceChange, quintptr(kind));
        }))
      monitor_.reset();
  }
  ApplyTexts();
  RefreshDisks(int(DiskRows::Refresh::kFull));
  fileTypes_->Rebuild();
  ShowPage(kPageMode);
}

void MainWnd::ApplyTexts() {
  // First: the dialogs Qt makes from now on speak the language too.
  FollowLanguageInQtTexts();
  ApplySection(this, QStringLiteral("MainWnd"));
  SetText(QStringLiteral("LblProductName"), QString::fromLatin1(kTitle));
}

// ---- notifications ----

void MainWnd::Notify(const ui::Notification& n) {
  const QString& name = n.senderName;
  const QString source = n.sender ? n.sender->objectName() : QString();
  if (n.type == u"windowinit") {
    OnWindowInit();
  } else if (n.type == u"click") {
    OnClick(name);
  } else if (n.type == u"selectchanged") {
    if (name == u"TabScan" || name == u"TabFileType" || name == u"TabRecover") {
      if (n.wParam) ShowPage(name == u"TabScan" ? kPageLocation : name == u"TabFileType" ? kPageFileType : kPageResults);
    } else if (source == u"FileList" || name == u"ChkSelAll" || name == u"BtnTypeView" || name == u"BtnFolderView") {
      // The other view lists other files, as another node does.
      if ((name == u"BtnTypeView" || name == u"BtnFolderView") && n.wParam && preview_) preview_->ClearPane();
      results_->HandleNotify(n);
    } else {
      fileTypes_->OnOptionChanged(name, n.wParam != 0);
    }
  } else if (n.type == u"itemselect") {
    if (source == u"DiskList") {
      OnDiskSelected(int(n.wParam));
    } else if (source == u"TypeTree" || source == u"FolderTree" || source == u"FileList") {
      // Another node lists other files: the pane shows none of them yet.
      if (source != u"FileList" && preview_) preview_->ClearPane();
      results_->HandleNotify(n);
    }
  } else if (n.type == u"itemexpand") {
    if (source == u"FolderTree") results_->HandleNotify(n);
  } else if (n.type == u"itemactivate") {
    // A header row opens or closes by itself; a source row starts the scan.
    if (source == u"DiskList" && !imageMode_ && disks_->Item(int(n.wParam))) StartScan();
    // A double-click on a file opens the larger preview window.
    if (source == u"FileList") {
      if (const FoundItemRecord* r = results_->ListedRecord(int(n.wParam)); r && !r->isFolder)
        ui::PostMessageTo(this, kMsgPreviewRequest, quintptr(n.wParam));
    }
  } else if (n.type == u"list_check_click" || n.type == u"checkboxselectchanged" || n.type == u"headerclick") {
    if (source == u"TypeTree" || source == u"FolderTree" || source == u"FileList") results_->HandleNotify(n);
  } else if (n.type == u"onhot") {
    for (const auto& [button, id] : kModeHints)
      if (name == QLatin1String(button)) {
        modeHint_ = QLatin1String(id);
        SetText(QStringLiteral("TxtMainInfo"), MessageText(id));
      }
  } else if (n.type == u"timer") {
    if (name == u"PartitionListBar") OnDeviceTimer(int(n.wParam));
  }
}

void MainWnd::OnClick(const QString& name) {
  if (name == u"BtnDeletedRecovery" || name == u"BtnFormattedRecovery" || name == u"BtnDeepRecovery" ||
      name == u"BtnCreateImageMode")
    modeButton_ = name;
  if (name == u"BtnDeletedRecovery") ChooseMode(0, 0, false);
  else if (name == u"BtnFormattedRecovery" || name == u"BtnDeepRecovery") ChooseMode(1, 0, false);
  else if (name == u"BtnCreateImageMode") ChooseMode(deep_, 1, true);
  else if (name == u"BtnScan") StartScan();
  else if (name == u"BtnAdvanceScan") ShowPage(kPageFileType);
  else if (name == u"BtnLoadImage") LoadImage();
  else if (name == u"BtnCreateImage") CreateImageFromSelection(*this, imageHooks_);
  else if (name == u"BtnRecover") RecoverChecked();
  else if (name == u"BtnAssist") ShowAssistMenu();
  else if (name == u"BtnPrev") {
    if (page_ == kPageResults) ShowPage(scanFromFileTypes_ ? kPageFileType : kPageLocation);
    else if (page_ == kPageFileType) ShowPage(kPageLocation);
    else if (page_ == kPageLocation) ShowPage(kPageMode);
  } else if (fileTypes_->OnButton(name)) {
  } else {
    ui::WindowImplBase::Notify({QStringLiteral("click"), name});
  }
}

void MainWnd::RecoverChecked() {
  // The records where the results page holds them: a million checked files
  // are copied once, into the jobs, not into a map first.
  // Files checked while the folder view is shown keep their folders.
  StartRecovery(this, disks_->AllItems(), results_->CheckedRecords(), chooseRecoveryFolder_, &recoveryFolder_,
                results_->FolderViewShown() ? Layout::kTree : Layout::kCategory);
}

QString MainWnd::SourceCaption(uint16_t tag) const {
  // As the location list names the source, though its row may be gone by now.
  const int row = disks_->RowOfTag(tag);
  const ScanSourceItem* item = row >= 0 ? disks_->Item(row) : nullptr;
  if (!item) return {};
  if (!item->imagePath.empty()) {
    if (item->volume) return DiskRows::ImagePartName(item->imagePath, *item->volume);
    return QString::fromStdString(std::filesystem::path(item->imagePath).filename().string());
  }
  return item->volume ? DiskRows::SourceName(*item->volume, disks_->DiskDevice(row)) : QString();
}

bool MainWnd::HoldsDisk(int row) const {
  const std::vector<ScanSourceItem*> items = disks_->SourcesOf(disks_->IsHeader(row) ? row : DiskList()->HeaderOf(row));
  return !items.empty() && items[0]->volume.has_value();
}

// ---- pages ----

void MainWnd::ChooseMode(int deep, int image, bool keepDeep) {
  if (!keepDeep) deep_ = deep;
  imageMode_ = image;
  ShowPage(kPageLocation);
  SelectChosenRow();
}

void MainWnd::SelectChosenRow() {
  ui::DiskList* list = DiskList();
  if (!list) return;
  // An image of one volume is a copy already: it is a source to scan, not to
  // image. A whole-disk image is listed as the disk it holds, in both modes.
  for (int r = 0; r < list->RowCount(); ++r)
    if (disks_->IsImage(r) && disks_->IsHeader(r)) list->SetRowVisible(r, !imageMode_ || HoldsDisk(r));
  // Scanning reads the row selected: only ever the one the person chose,
  // never one picked for them (the first disk is the system's).
  int pick = -1;
  for (int r = 0; r < list->RowCount() && pick < 0 && chosenTag_ >= 0; ++r) {
    const std::vector<ScanSourceItem*> sources = disks_->SourcesOf(r);
    if (!sources.empty() && sources[0]->tag == chosenTag_ && disks_->IsHeader(r) == chosenHeader_ &&
        !list->isRowHidden(r, {}) && !list->isRowHidden(list->HeaderOf(r), {}))
      pick = r;
  }
  if (pick < 0) {
    list->SelectRow(-1, false);
    ShowNoLocation();
    return;
  }
  list->SelectRow(pick, false);
  OnDiskSelected(pick);
}

void MainWnd::ShowNoLocation() {
  locationChosen_ = false;
  SetEnabled(QStringLiteral("BtnAdvanceScan"), false);
  SetEnabled(QStringLiteral("TabFileType"), false);
  for (int i = 1; i <= 10; ++i) SetText(QStringLiteral("Label%1").arg(i), QString());
  SetToolTip(QStringLiteral("Label1"), QString());
  SetText(QStringLiteral("Label1"), MessageText("MSG0225"));
}

void MainWnd::Choose(int row) {
  ui::DiskList* list = DiskList();
  if (!list || row < 0) return;
  list->SelectRow(row, false);
  OnDiskSelected(row);
}

QString MainWnd::WithMode(const QString& title) const {
  // The mode chosen on the first page, named as its button is.
  const QString mode =
      modeButton_.isEmpty() ? QString() : QString::fromStdString(app::LanguageTable::Instance().Text("MainWnd", modeButton_.toStdString()));
  return mode.isEmpty() ? title : FormatText(MessageText("MSG0506"), {mode, title});
}

void MainWnd::ShowPage(int page) {
  page_ = page;
  SelectPage(QStringLiteral("TabPage"), page);
  const QString toolBars[] = {QStringLiteral("ToolBar2"), QStringLiteral("ToolBar3"), QStringLiteral("ToolBtn")};
  if (page == kPageMode) {
    for (const QString& t : toolBars) SetVisible(t, false);
    SetVisible(QStringLiteral("SubBar1"), true);
    SetVisible(QStringLiteral("SubBar2"), false);
    SetVisible(QStringLiteral("Txt1"), false);
    SetVisible(QStringLiteral("Txt2"), false);
    return;
  }
  for (const QString& t : toolBars) SetVisible(t, true);
  SetVisible(QStringLiteral("SubBar1"), false);
  SetVisible(QStringLiteral("SubBar2"), true);
  SetVisible(QStringLiteral("Txt1"), true);
  SetVisible(QStringLiteral("Txt2"), true);
  for (const char* b : {"BtnLoadImage", "BtnAdvanceScan", "BtnScan", "BtnCreateImage", "BtnRecover"})
    SetVisible(QString::fromLatin1(b), false);
  auto show = [this](std::initializer_list<const char*> names) {
    for (const char* b : names) SetVisible(QString::fromLatin1(b), true);
  };
  const char* logo = "main/step_location.png";
  const char* tab = "TabScan";
  QRgb colour = 0xFF0089BE;
  if (page == kPageLocation) {
    const bool image = imageMode_ != 0;
    SetText(QStringLiteral("Txt1"), WithMode(MessageText(image ? "MSG0212" : "MSG0501")));
    SetText(QStringLiteral("Txt2"), MessageText(image ? "MSG0213" : "MSG0502"));
    SetText(QStringLiteral("TabScan"), MessageText(image ? "MSG0211" : "MSG0503"));
    if (image) show({"BtnCreateImage"});
    else show({"BtnLoadImage", "BtnAdvanceScan", "BtnScan"});
    SetVisible(QStringLiteral("TabFileType"), !image);
    SetVisible(QStringLiteral("TabRecover"), !image);
    SetVisible(QStringLiteral("SelectedFileInfo"), false);
  } else if (page == kPageFileType) {
    SetText(QStringLiteral("Txt1"), WithMode(MessageText("MSG0601")));
    SetText(QStringLiteral("Txt2"), MessageText("MSG0602"));
    show({"BtnScan"});
    SetVisible(QStringLiteral("SelectedFileInfo"), false);
    logo = "main/step_filetype.png";
    tab = "TabFileType";
    colour = 0xFFE47100;
  } else {
    SetText(QStringLiteral("Txt1"), MessageText("MSG0801"));
    const qulonglong found = results_ ? qulonglong(results_->Results().size()) : 0;
    const QString count = QStringLiteral("{f 7}{c #316D1E}%1{/c}{/f}").arg(found);
    if (found == 0)
      // Nothing to check: say what may still find the files.
      SetText(QStringLiteral("Txt2"), MessageText(lastDeep_ == 1 ? "MSG0818" : "MSG0817"));
    else
      SetText(QStringLiteral("Txt2"),
              FormatText(MessageText(found == 1 ? "MSG0816" : "MSG0802"), {count}) +
                  // Said on the page, not in a box: on a large card it holds
                  // after nearly every quick scan. The line has room for a
                  // few words; the pointer over it tells why.
                  (lastMoreForDeep_ ? QStringLiteral(" ") + MessageText("MSG1401") : QString()));
    SetToolTip(QStringLiteral("Txt2"), found != 0 && lastMoreForDeep_ ? MessageText("MSG1400") : QString());
    show({"BtnRecover"});
    SetVisible(QStringLiteral("SelectedFileInfo"), true);
    logo = "main/step_recover.png";
    tab = "TabRecover";
    colour = 0xFF316D1E;
  }
  SetTextColor(QStringLiteral("Txt1"), colour);
  SetPicture(QStringLiteral("ToolBar2Logo"), QStringLiteral("file='%1'").arg(QLatin1String(logo)));
  SetChecked(QString::fromLatin1(tab), true);
}

// ---- location ----

void MainWnd::OnDiskSelected(int row) {
  const std::vector<ScanSourceItem*> sources = disks_->SourcesOf(row);
  if (!sources.empty()) {
    chosenTag_ = sources[0]->tag;
    chosenHeader_ = disks_->IsHeader(row);
  }
  ScanSourceItem* item = disks_->Item(row);
  if (!item) {
    // A disk's header scans all of it; its labels stay as they were.
    if (!sources.empty()) locationChosen_ = true;
    return;
  }
  locationChosen_ = true;
  SetEnabled(QStringLiteral("BtnAdvanceScan"), true);
  SetEnabled(QStringLiteral("TabFileType"), true);
  auto pair = [](const char* id, const QString& value) {
    return value.isEmpty() ? MessageText(id) : QStringLiteral("%1 %2").arg(MessageText(id), value);
  };
  for (int i = 1; i <= 10; ++i) SetText(QStringLiteral("Label%1").arg(i), QString());
  SetToolTip(QStringLiteral("Label1"), QString());
  if (item->IsImage() && !item->volume) {
    const QString path = QString::fromStdString(item->imagePath);
    // A long path loses its middle rather than its file name; the tool tip
    // has all of it.
    QString shown = pair("MSG0209", path);
    if (QWidget* label = FindControl(QStringLiteral("Label1")); label && label->width() > 40)
      shown = label->fontMetrics().elidedText(shown, Qt::ElideMiddle, label->width() - 4);
    SetText(QStringLiteral("Label1"), shown);
    SetToolTip(QStringLiteral("Label1"), path);
    SetText(QStringLiteral("Label2"), pair("MSG0210", Size(uint64_t(std::max<qint64>(0, QFileInfo(path).size())))));
    return;
  }
  const VolumeInfo& v = *item->volume;
  QString device = QString::fromStdString(v.volumePath);
  if (item->IsImage()) {
    // A part of a whole-disk image: named as in the list, the file in full
    // in the tool tip.
    device = DiskRows::ImagePartName(item->imagePath, v);
    SetToolTip(QStringLiteral("Label1"), QString::fromStdString(item->imagePath));
  } else if (device.isEmpty()) {
    device = QStringLiteral("* ") + QString::fromStdString(disks_->DiskDevice(row));
  }
  SetText(QStringLiteral("Label1"), pair("MSG0203", device));
  SetText(QStringLiteral("Label2"), pair("MSG0204", QString::fromStdString(v.label)));
  SetText(QStringLiteral("Label3"), pair("MSG0205", DiskRows::FileSystemCaption(v.fsName, v.olderFsName)));
  SetText(QStringLiteral("Label4"), pair("MSG0206", Size(v.totalBytes)));
  // Used and free space are a file system's to know: a bare disk or a
  // stretch without one has neither.
  if (v.kind == EntryKind::kVolume && !v.fsName.empty() && (v.usedBytes || v.freeBytes)) {
    SetText(QStringLiteral("Label5"), pair("MSG0207", Size(v.usedBytes)));
    SetText(QStringLiteral("Label6"), pair("MSG0208", Size(v.freeBytes)));
  }
}

std::vector<int> MainWnd::AddImageFiles(const QStringList& paths) {
  std::vector<int> rows;
  for (const QString& p : paths) {
    const QString abs = QFileInfo(p).absoluteFilePath();
    // An image named again (a second start with the same file) is the row
    // already there.
    int row = disks_->ImageRow(abs.toStdString());
    if (row >= 0) {
      rows.push_back(row);
      continue;
    }
    row = disks_->AddImage(abs.toStdString());
    if (row < 0) continue;
    // An image of one volume stays hidden while a disk image is being chosen.
    if (imageMode_ && !HoldsDisk(row)) DiskList()->SetRowVisible(DiskList()->HeaderOf(row), false);
    rows.push_back(row);
  }
  return rows;
}

void MainWnd::LoadImage() {
  const QString path = chooseImage_ ? chooseImage_(this)
                                    : QFileDialog::getOpenFileName(this, MessageText("MSG1300"), QString(), ImageFileFilter());
  if (path.isEmpty()) return;
  ChooseImageFiles({path});
}

QString MainWnd::ImageFileFilter() {
  // The names raw copies of disks and cards get from dd, ddrescue, other
  // imaging tools and split archives; the dialog matches names as written.
  QStringList patterns;
  for (const char* ext : {"img", "dd", "raw", "bin", "iso", "ima", "dsk", "001"})
    patterns << QStringLiteral("*.%1").arg(QLatin1String(ext)) << QStringLiteral("*.%1").arg(QLatin1String(ext).toString().toUpper());
  patterns.removeDuplicates();  // "*.001" has no capitals
  return FillFormat(MessageText("MSG1301"), patterns.join(u' ')) + QStringLiteral(";;") + MessageText("MSG1302");
}

void MainWnd::ChooseImageFiles(const QStringList& paths) {
  const std::vector<int> rows = AddImageFiles(paths);
  if (rows.empty()) return;
  // Hidden while a disk image is being chosen: chosen for when scanning is.
  ui::DiskList* list = DiskList();
  if (list && list->isRowHidden(list->HeaderOf(rows.back()), {})) {
    const std::vector<ScanSourceItem*> sources = disks_->SourcesOf(rows.back());
    if (!sources.empty()) chosenTag_ = sources[0]->tag;
    chosenHeader_ = disks_->IsHeader(rows.back());
    return;
  }
  Choose(rows.back());
}

void MainWnd::ScanNewImage(const QString& path) {
  modeButton_ = QStringLiteral("BtnDeepRecovery");
  ChooseMode(1, 0, false);
  const std::vector<int> rows = AddImageFiles({path});
  ui::DiskList* list = DiskList();
  if (rows.empty() || !list) return;
  // The image's row (of a whole-disk image, its first partition's).
  Choose(rows.back());
  ShowPage(kPageFileType);
}

void MainWnd::GrowToScreen() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  resize(OpeningSize(size(), screen->availableGeometry().size()));
}

QSize MainWnd::OpeningSize(QSize layout, QSize available) {
  const QSize wanted(std::min(1400, available.width() * 9 / 10), std::min(900, available.height() * 9 / 10));
  return layout.expandedTo(wanted);
}

void MainWnd::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

// ---- scanning ----

void MainWnd::DropPreviousScan() {
  // The engines of a quick scan read their logs; they go before the logs do.
  const bool quick = lastDeep_ != 1;
  for (size_t i = 0; i < lastTags_.size(); ++i) {
    const bool last = i + 1 == lastTags_.size();
    if (!quick && !last) continue;
    const int row = disks_->RowOfTag(lastTags_[i]);
    if (ScanSourceItem* item = row >= 0 ? disks_->Item(row) : nullptr) item->engine.reset();
  }
  // What the result views show came from those engines.
  if (!lastTags_.empty()) results_->Clear();
  // A folder that cannot be removed only costs disk space in the data folder.
  for (const std::string& path : lastLogPaths_) (void)ScanLogFolder::Instance().RemoveScanFolder(path);
  lastTags_.clear();
  lastLogPaths_.clear();
}

void MainWnd::StartScan() {
  ui::DiskList* list = DiskList();
  const int row = list ? list->CurrentRow() : -1;
  std::vector<ScanSourceItem*> sources = row >= 0 ? disks_->SourcesOf(row) : std::vector<ScanSourceItem*>{};
  if (!locationChosen_ || row < 0 || sources.empty()) {
    MessageBoxWnd::Show(MessageBoxWnd::kInformation, this, MessageText("MSG0505"), 400, 160);
    return;
  }
  scanFromFileTypes_ = page_ == kPageFileType;
  DropPreviousScan();

  const int64_t counterBefore = ScanLogFolder::Instance().Counter();
  for (ScanSourceItem* s : sources) lastTags_.push_back(s->tag);
  lastDeep_ = deep_;
  app::EnsureUsageMarker(DataFolderPath());
  int result = 0;
  bool failureShown = false;
  {
    ScanProcessWnd wnd;
    wnd.SetSources(sources, deep_);
    if (scanEngineOpener_) wnd.SetEngineOpener(scanEngineOpener_);
    wnd.CreatePopup(this, 350, 250);
    scanning_ = true;
    result = wnd.RunModal();
    scanning_ = false;
    failureShown = wnd.FailureShown();
    lastMoreForDeep_ = wnd.JobResult().moreForDeepScan;
  }
  // A quick scan of a whole disk makes a log folder per volume: all of them
  // go with the next scan.
  if (deep_ != 1) {
    const ScanLogFolder& logs = ScanLogFolder::Instance();
    for (int64_t n = counterBefore + 1; n <= logs.Counter(); ++n)
      lastLogPaths_.push_back((std::filesystem::path(logs.ScanLogPath()) / std::to_string(n)).string() + "/");
  }
  // The scan window has already said why when the user may not read the device.
  if (result == 3 && !failureShown) MessageBoxWnd::Show(MessageBoxWnd::kWarning, this, MessageText("MSG0504"), 300, 160);
  if (scanFinishedPending_) {
    scanFinishedPending_ = false;
    OnScanFinished();
  }
  if (removalPending_) {
    removalPending_ = false;
    RefreshDisks(int(DiskRows::Refresh::kRemoved));
  }
}

void MainWnd::OnScanFinished() {
  bool any = false;
  for (ScanSourceItem* i : disks_->AllItems()) any = any || i->engine != nullptr;
  if (!any) return;
  results_->Clear();
  searchResults_.clear();
  std::vector<ScanSourceItem*> sources;
  for (uint16_t tag : lastTags_) {
    const int row = disks_->RowOfTag(tag);
    if (ScanSourceItem* item = row >= 0 ? disks_->Item(row) : nullptr; item && item->engine) sources.push_back(item);
  }
  {
    SearchProcessWnd wnd;
    wnd.SetSearch(sources, fileTypes_->FilterText(), &searchResults_);
    wnd.CreatePopup(this, 370, 220);
    searching_ = true;
    wnd.RunModal();
    searching_ = false;
  }
  if (searchFinishedPending_) {
    searchFinishedPending_ = false;
    OnSearchFinished();
  }
  if (removalPending_ && !scanning_) {
    removalPending_ = false;
    RefreshDisks(int(DiskRows::Refresh::kRemoved));
  }
}

void MainWnd::OnSearchFinished() {
  // Nothing of the old list plays on over the new one.
  preview_->ClearPane();
  results_->ShowResults(std::move(searchResults_), fileTypes_->SelectedUserData());
  searchResults_.clear();
  ShowPage(kPageResults);
}

// ---- messages ----

bool MainWnd::HandleMessage(int message, quintptr wParam, quintptr lParam) {
  switch (message) {
    case kMsgScanFinished:
      if (exitAfterWork_) return true;  // closing: nothing more is searched or shown
      // The scan window is still closing; the search opens once it has.
      if (scanning_) scanFinishedPending_ = true;
      else OnScanFinished();
      return true;
    case kMsgSearchFinished:
      if (exitAfterWork_) return true;
      // The results may be read only once the search window has closed.
      if (searching_) searchFinishedPending_ = true;
      else OnSearchFinished();
      return true;
    case kMsgPreviewRequest:
      if (const FoundItemRecord* r = results_->ListedRecord(int(wParam))) preview_->OpenPreviewWindow(*r);
      return true;
    case kMsgLanguageChanged:
      ApplyTexts();
      // What the page shows besides the captions: the disk headers, the
      // option captions, the results' counts and summary, the mode's hint.
      disks_->ApplyLanguage();
      fileTypes_->ApplyLanguage();
      results_->ApplyLanguage();
      preview_->ApplyLanguage();
      if (!modeHint_.isEmpty()) SetText(QStringLiteral("TxtMainInfo"), MessageText(modeHint_.toLatin1().constData()));
      ShowPage(page_);
      if (ui::DiskList* list = DiskList()) OnDiskSelected(list->CurrentRow());
      return true;
    case kMsgDeviceChange:
      OnDeviceEvent(int(wParam));
      return true;
    default:
      return ui::WindowImplBase::HandleMessage(message, wParam, lParam);
  }
}

// ---- assist menu ----

void MainWnd::ShowAssistMenu() {
  QWidget* button = FindControl(QStringLiteral("BtnAssist"));
  const QPoint at = button ? button->mapToGlobal(QPoint(0, button->height())) : mapToGlobal(QPoint(0, 0));
  const AssistChoice c = RunAssistMenu(*this, at);
  switch (c.kind) {
    case AssistChoice::Kind::kHelp:
    case AssistChoice::Kind::kSupport: {
      // The program's own window: a desktop's Markdown handler may be an
      // editor on the installed file, and as root there may be none.
      const QString guide = UserGuidePath();
      HelpWnd help(guide);
      if (guide.isEmpty() || !help.CreatePopup(this, 820, 620) || !help.Load()) {
        MessageBoxWnd::Show(MessageBoxWnd::kInformation, this, MessageText("MSG0906"), 400, 160);
        break;
      }
      help.RunModal();
      break;
    }
    case AssistChoice::Kind::kAbout: {
      MessageBoxWnd::Choice about;
      about.titleId = "MSG1380";
      MessageBoxWnd::Ask(MessageBoxWnd::kInformation, this, AboutText(), 420, 190, about);
      break;
    }
    case AssistChoice::Kind::kLanguage:
      app::LanguageTable::Instance().SetLanguage(c.language.toStdString());
      ui::PostMessageTo(this, kMsgLanguageChanged);
      break;
    case AssistChoice::Kind::kExit:
      QMetaObject::invokeMethod(this, [this] { OnCloseRequest(); }, Qt::QueuedConnection);
      break;
    case AssistChoice::Kind::kNone:
      break;
  }
}

void MainWnd::OnCloseRequest() {
  // Only one progress window runs at a time, over this window or over a
  // window of its own (the preview's copy-out).
  ProgressWnd* work = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* p = qobject_cast<ProgressWnd*>(w); p && p->IsModalRunning()) work = p;
  if (!work) {
    ui::WindowImplBase::OnCloseRequest();
    return;
  }
  if (!work->AskStopForExit() || exitAfterWork_) return;
  exitAfterWork_ = true;
  // The window goes once its work has ended and the code that waited for it
  // has gone on: the close then finds nothing running.
  connect(work, &QObject::destroyed, this, [this] {
    QMetaObject::invokeMethod(this, [this] { Close(2); }, Qt::QueuedConnection);
  });
}

void MainWnd::OnFinalMessage() {
  if (options_.quitOnClose) QCoreApplication::quit();
}

}  // namespace dunmere::gui
